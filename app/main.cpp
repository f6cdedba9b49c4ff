#include "mainwindow.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    // Scaled for the screen's pixel density, with the double-size icons on 200 % screens.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QApplication application(argc, argv);
    // Lets the desktop match the window to its launcher entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.velumen.Velumen"));

    // The resources live in a static library, so they are registered by hand.
    Q_INIT_RESOURCE(resources);
#ifndef Q_OS_WIN
    // Windows takes the window icon from the executable's icon resource; elsewhere it comes from ours.
    application.setWindowIcon(QIcon(QStringLiteral(":/rc/velumen.png")));
#endif

    MainWindow window;
    // Files and folders named on the command line (a file manager's "Open with") start chosen.
    QString resultsLeftOut;
    const QStringList leftOut = window.openFiles(QCoreApplication::arguments().mid(1), &resultsLeftOut);
    for (const QString &path : leftOut)
        qWarning("velumen: %s is neither an image file nor a folder; left out", qUtf8Printable(path));
    if (!resultsLeftOut.isEmpty())
        qWarning("velumen: %s", qUtf8Printable(resultsLeftOut));
    window.show();
    return application.exec();
}
