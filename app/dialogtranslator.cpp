#include "dialogtranslator.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLibraryInfo>

DialogTranslator::DialogTranslator(QObject *parent)
    : QTranslator(parent)
{
}

void DialogTranslator::setLanguage(int language)
{
    if (installed) {
        QCoreApplication::removeTranslator(this);
        installed = false;
    }
    if (language == 1) {
        // Debian keeps Qt's catalogues in Qt's translations folder; a Windows build carries them
        // in "translations" beside the program.
        installed = load(QStringLiteral("qtbase_pl"), QLibraryInfo::location(QLibraryInfo::TranslationsPath))
            || load(QStringLiteral("qtbase_pl"),
                    QCoreApplication::applicationDirPath() + QStringLiteral("/translations"));
        if (installed)
            QCoreApplication::installTranslator(this);
    }
    // Widgets that retranslate themselves (a dialog's standard buttons) do it now, so the texts
    // the window writes next are the ones that stay.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LanguageChange);
}
