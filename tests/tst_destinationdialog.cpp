#include "destinationdialog.h"
#include "languagetext.h"
#include "widgettesthelpers.h"

#include <QtTest>
#include <QtWidgets>

using namespace WidgetTest;

class TestDestinationDialog : public QObject
{
    Q_OBJECT

    QTemporaryDir home;
    QScopedPointer<DestinationDialog> dialog;
    QStringList log; // the dialog's signals, in the order they came

    template <typename T> T *part(const char *name) const { return dialog->findChild<T *>(QLatin1String(name)); }
    // Picks a file type; returns what the dialog announced and whether the quality can be set.
    QStringList select(int type)
    {
        log.clear();
        part<QComboBox>("fileType")->setCurrentIndex(type);
        return log << (part<QSpinBox>("compression")->isEnabled() ? "quality editable" : "quality greyed");
    }

private slots:
    void initTestCase() { QVERIFY(home.isValid()); useOwnDialogsAndHome(home.path()); }
    void init()
    {
        dialog.reset(new DestinationDialog);
        connect(dialog.data(), &DestinationDialog::destinationFolderChanged, [&](const QString &f) { log << "folder " + f; });
        connect(dialog.data(), &DestinationDialog::namePatternChanged, [&](const QString &p) { log << "pattern " + p; });
        connect(dialog.data(), &DestinationDialog::formatChanged, [&](int f) { log << "format " + QString::number(f); });
        connect(dialog.data(), &DestinationDialog::compressionChanged, [&](int q) { log << "quality " + QString::number(q); });
    }
    void cleanup() { dialog.reset(); log.clear(); setCurrentLanguage(0); }

    void defaultsAndLanguages()
    {
        QCOMPARE(QStringList({dialog->destinationFolder(), dialog->namePattern()}), QStringList({QDir::homePath(), "output****.jpg"}));
        auto texts = [&]() {
            return QStringList({dialog->windowTitle(), part<QLabel>("overwriteNotice")->text(),
                                part<QGroupBox>("destinationFolderBox")->title(), part<QPushButton>("destinationFolderButton")->text(),
                                part<QGroupBox>("namePatternBox")->title(), part<QGroupBox>("fileTypeBox")->title(),
                                part<QComboBox>("fileType")->itemText(2), part<QComboBox>("fileType")->itemText(3),
                                part<QLabel>("compressionLabel")->text(),
                                part<QDialogButtonBox>("buttonBox")->button(QDialogButtonBox::Close)->text()}).join('|');
        };
        part<QComboBox>("fileType")->setCurrentIndex(3);
        dialog->updateLanguage();
        QCOMPARE(texts(), QStringLiteral("Name and format of destination images|All existing files will be overwritten "
                                         "without warning.|Destination folder|Choose...|Name format of destination files|"
                                         "Type of destination files|8 bits/channel|16 bits/channel|Quality|Close"));
        // The language changes no setting, so nothing more is announced.
        setCurrentLanguage(1);
        dialog->updateLanguage();
        QCOMPARE(texts(), QString::fromUtf8("Nazwa i format obrazów docelowych|Wszystkie istniejące pliki zostaną "
                                            "nadpisane bez ostrzeżenia.|Folder docelowy|Wybierz...|Format nazwy plików "
                                            "docelowych|Typ plików docelowych|8 bitów/kanał|16 bitów/kanał|Jakość|Zamknij"));
        QCOMPARE(log, QStringList({"pattern output****.tif", "format 3"}));
    }

    void fileTypeAndQuality()
    {
        part<QSpinBox>("compression")->setValue(75);
        // The rewritten pattern is announced before the new format; between the TIFF depths it stays.
        QCOMPARE(select(1), QStringList({"pattern output****.png", "format 1", "quality greyed"}));
        QCOMPARE(select(2), QStringList({"pattern output****.tif", "format 2", "quality greyed"}));
        QCOMPARE(select(3), QStringList({"format 3", "quality greyed"}));
        QCOMPARE(select(2), QStringList({"format 2", "quality greyed"}));
        QCOMPARE(select(0), QStringList({"pattern output****.jpg", "format 0", "quality editable"}));
        part<QSpinBox>("compression")->setValue(101);
        QCOMPARE(log.last(), QStringLiteral("quality 100")); // kept through the changes, capped at 100
        // Only the text after the last "." is the extension; without one the typed name is kept.
        const struct { const char *typed; int type; const char *pattern; } cases[] = {
            {"night.2024.jpeg", 1, "night.2024.png"}, {"output****", 3, "output****.tif"}, {"", 0, ".jpg"}, {".tif", 1, ".png"}};
        for (const auto &c : cases) {
            part<QLineEdit>("namePattern")->setText(c.typed);
            QCOMPARE(log.takeLast(), "pattern " + QString(c.typed)); // typed text goes out as typed
            QCOMPARE(select(c.type).first(), "pattern " + QString(c.pattern));
        }
    }

    // The name is selected without its extension, so typing replaces the name and keeps the type;
    // Close only hides the dialog.
    void selectionOnShowAndClose()
    {
        auto *pattern = part<QLineEdit>("namePattern");
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.data()) && !dialog->isModal());
        QTest::keyClicks(pattern, QStringLiteral("star"));
        part<QDialogButtonBox>("buttonBox")->button(QDialogButtonBox::Close)->click();
        QVERIFY(!dialog->isVisible());
        QCOMPARE(dialog->namePattern(), QStringLiteral("star.jpg"));
        for (const QString text : {"star.jpg", "a.b.tiff", "output"}) { // without a ".", all of it
            pattern->setText(text);
            dialog->show();
            QCOMPARE(pattern->selectedText(), text.left(text.lastIndexOf('.')));
            dialog->hide();
        }
    }

    void folderChooser()
    {
        QVERIFY(QDir(home.path()).mkpath("first") && QDir(home.path()).mkpath("second"));
        auto *button = part<QPushButton>("destinationFolderButton");
        QString caption;
        QFileDialog::Options options;
        auto cancel = [&](QFileDialog *chooser) { caption = chooser->windowTitle(); options = chooser->options(); chooser->reject(); };
        QCOMPARE(clickChooser(*button, cancel), canonical(home.path()));
        QCOMPARE(caption, QStringLiteral("Select destination folder"));
        QVERIFY(options.testFlag(QFileDialog::ShowDirsOnly) && options.testFlag(QFileDialog::DontResolveSymlinks));
        // The source chooser's folder moves the text and where the chooser starts; cancelling changes nothing.
        dialog->setDestinationFolder(home.filePath("first"));
        setCurrentLanguage(1);
        QCOMPARE(clickChooser(*button, cancel), canonical(home.filePath("first")));
        QCOMPARE(caption, QString::fromUtf8("Wybierz folder docelowy"));
        QCOMPARE(log, QStringList({"folder " + home.filePath("first")}));
        // A folder typed by hand is passed on but does not move the chooser.
        part<QLineEdit>("destinationFolder")->setText(home.filePath("typed"));
        QCOMPARE(clickChooser(*button), canonical(home.filePath("first")));
        // A chosen folder is set, announced, and where the next chooser starts.
        clickChooser(*button, [&](QFileDialog *chooser) { chooser->setDirectory(home.filePath("second")); acceptAsIs(chooser); });
        QCOMPARE(log.last(), "folder " + home.filePath("second"));
        QCOMPARE(clickChooser(*button), canonical(home.filePath("second")));
    }
};

QTEST_MAIN(TestDestinationDialog)
#include "tst_destinationdialog.moc"
