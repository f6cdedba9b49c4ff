// Velumen as a desktop application: the Debian package and the files it installs, files opened
// from the command line or dropped on the source list, and Qt's own dialogs in Polish.

#include "destinationdialog.h"
#include "mainwindow.h"
#include "sourcefiles.h"
#include "widgettesthelpers.h"
#include "windowtesthelpers.h"

#include <QtTest>

using namespace WidgetTest;

namespace {

// Runs a program to its end; true when it exited with 0. `output` gets what it printed.
bool run(const QString &program, const QStringList &arguments, QString *output = nullptr)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool ended = process.waitForFinished(300000) && process.exitStatus() == QProcess::NormalExit;
    if (output)
        *output = QString::fromUtf8(process.readAll());
    return ended && process.exitCode() == 0;
}

// What a choice of source files shows: the count, where the next chooser opens, the destination
// folder (the destination names follow from these) and the list.
QStringList choice(const MainWindow &window)
{
    QStringList state{child<QLabel>(&window, "sourceImagesCount")->text(),
                      child<SelectImagesButton>(&window, "sourceImagesButton")->path(),
                      window.findChild<DestinationDialog *>()->destinationFolder()};
    const QListWidget *list = child<QListWidget>(&window, "sourceImages");
    for (const QListWidgetItem *item : list->findItems(QString(), Qt::MatchContains))
        state << item->text();
    return state;
}

// Drags `paths` over the source list and drops them; returns whether the list took the drag.
bool drop(MainWindow &window, const QStringList &paths)
{
    QMimeData data;
    for (const QString &path : paths)
        data.setUrls(data.urls() << QUrl::fromLocalFile(path));
    QWidget *list = child<QListWidget>(&window, "sourceImages")->viewport();
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list, &enter);
    QDropEvent dropped(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list, &dropped);
    return enter.isAccepted();
}

} // namespace

class TestDesktop : public QObject
{
    Q_OBJECT

    QTemporaryDir home;
    QString file(const QString &name) const { return home.filePath(name); }

private slots:
    void initTestCase()
    {
        QVERIFY(home.isValid());
        useOwnDialogsAndHome(home.path());
        QVERIFY(QDir(home.path()).mkpath("frames/sub") && QDir(home.path()).mkpath("empty"));
        QImage image(8, 6, QImage::Format_RGB32);
        image.fill(Qt::darkBlue);
        for (const char *name : {"frame10.png", "frame9.jpg", "Frame1.tif", "sub/frame0.png"})
            QVERIFY(image.save(file("frames/") + name));
        QVERIFY(image.save(file("frames/notes.txt"), "PNG")); // an image, but not by its name
    }

    // The Debian package: what it needs, and the tree it installs (the same rules cmake --install runs).
    void package()
    {
        QTemporaryDir dir;
        QString log, depends;
        QVERIFY2(run(VELUMEN_CPACK, {"-G", "DEB", "-B", dir.path(), "--config", VELUMEN_CPACK_CONFIG}, &log),
                 qPrintable(log));
        const QString deb = dir.filePath(QDir(dir.path()).entryList({"velumen_*.deb"}).value(0));
        QVERIFY(run("dpkg-deb", {"-f", deb, "Depends"}, &depends)
                && run("dpkg-deb", {"-x", deb, dir.path()}));
        const QStringList names = depends.split(QRegularExpression("[ ,|()]+"));
        for (const char *name : {"imagemagick", "qt5-image-formats-plugins", "libqt5widgets5", "libqt5gui5"})
            QVERIFY2(names.contains(name), qPrintable(depends));

        const QString usr = dir.filePath("usr/"), id = "io.github.velumen.Velumen";
        for (const char *program : {"velumen", VELUMEN_HAS_STACK ? "velumen-stack" : "velumen"})
            QVERIFY2(QFileInfo(usr + "bin/" + program).isExecutable(), program);
        for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
            const QString icon = QString("share/icons/hicolor/%1x%1/apps/").arg(size) + id + ".png";
            QCOMPARE(QImage(usr + icon).size(), QSize(size, size));
        }
        QVERIFY(QFileInfo::exists(usr + "share/icons/hicolor/scalable/apps/" + id + ".svg"));
        QFile entry(usr + "share/applications/" + id + ".desktop");
        QVERIFY2(run("desktop-file-validate", {entry.fileName()}, &log) && log.isEmpty(), qPrintable(log));
        const QString info = usr + "share/metainfo/" + id + ".metainfo.xml";
        QVERIFY2(run("appstreamcli", {"validate", "--no-net", info}, &log), qPrintable(log));
        // The entry opens every kind of file the chooser offers, and shows the installed icon.
        QStringList types;
        for (const QString &filter : SourceFiles::nameFilters())
            types << QMimeDatabase().mimeTypeForFile(filter, QMimeDatabase::MatchExtension).name();
        types.removeDuplicates();
        QVERIFY(entry.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(entry.readAll());
        const QStringList lines{"Exec=velumen %F", "Icon=" + id, "Categories=Graphics;Photography;",
                                "MimeType=" + types.join(';') + ';'};
        for (const QString &line : lines)
            QVERIFY2(text.contains('\n' + line + '\n'), qPrintable(line));
    }

    void openedAndDroppedFilesMatchTheChooser()
    {
        const QString in = file("frames/");
        const QStringList frames{in + "Frame1.tif", in + "frame9.jpg", in + "frame10.png"};
        MainWindow chosen, opened, relative, dropped;
        clickChooser(*child<SelectImagesButton>(&chosen, "sourceImagesButton"), [&](QFileDialog *dialog) {
            dialog->setDirectory(file("frames"));
            dialog->findChild<QLineEdit *>("fileNameEdit")
                ->setText(R"("Frame1.tif" "frame9.jpg" "frame10.png")");
            acceptAsIs(dialog);
        });
        QVERIFY(choice(chosen).contains(frames.last()));
        // A folder gives its own images (not its subfolders') in natural order.
        QCOMPARE(opened.openFiles({file("frames")}), QStringList());
        QCOMPARE(choice(opened), choice(chosen));
        // Names relative to the working folder; what is neither image nor folder is left out.
        QDir::setCurrent(file("frames"));
        QCOMPARE(relative.openFiles({"Frame1.tif", "notes.txt", "frame9.jpg", "gone.png", "./frame10.png"}),
                 QStringList({"notes.txt", "gone.png"}));
        QCOMPARE(choice(relative), choice(chosen));
        QVERIFY(drop(dropped, frames + QStringList(file("frames/notes.txt"))));
        QCOMPARE(choice(dropped), choice(chosen));
        // Nothing usable changes nothing: the list refuses the drag, or finds no image in the folder.
        QVERIFY(!drop(dropped, {file("frames/notes.txt")}));
        QVERIFY(drop(dropped, {file("empty")}));
        QCOMPARE(opened.openFiles({file("empty")}), QStringList());
        QCOMPARE(choice(dropped), choice(chosen));
        QCOMPARE(choice(opened), choice(chosen));
    }

    // In either language, with or without the option rows, the window cuts no widget short: neither
    // at the size it has when the language or the rows change, nor at its smallest.
    void windowCutsNothing()
    {
        MainWindow window;
        window.show();
        // The name of a widget smaller than it needs (or squeezed to nothing), if there is one.
        const auto cutWidget = [&] {
            QApplication::processEvents();
            for (QWidget *w : window.findChildren<QWidget *>(QRegularExpression("^(?!qt_)."))) {
                const QSize least = w->minimumSizeHint().expandedTo(QSize(0, 1));
                if (w->isVisible() && (w->width() < least.width() || w->height() < least.height()))
                    return w->objectName();
            }
            return QString();
        };
        for (int rows : {3, 0})
            for (int language : {1, 0}) {
                child<QComboBox>(&window, "condition")->setCurrentIndex(rows ? 2 : 0);
                child<QComboBox>(&window, "fadeMethod")->setCurrentIndex(rows);
                child<QComboBox>(&window, "language")->setCurrentIndex(language);
                QCOMPARE(cutWidget(), QString());
                window.resize(1, 1);
                QCOMPARE(cutWidget(), QString());
            }
    }

    void qtDialogsFollowTheLanguage()
    {
        MainWindow window;
        QComboBox *language = child<QComboBox>(&window, "language");
        // "Look in", the first column and the buttons of the file and the folder chooser.
        auto texts = [&](const char *button) {
            QStringList seen;
            clickChooser(*child<QAbstractButton>(&window, button), [&](QFileDialog *dialog) {
                const QAbstractItemModel *files = dialog->findChild<QTreeView *>("treeView")->model();
                seen << dialog->findChild<QLabel *>("lookInLabel")->text()
                     << files->headerData(0, Qt::Horizontal).toString();
                for (QAbstractButton *b : dialog->findChild<QDialogButtonBox *>("buttonBox")->buttons())
                    seen << b->text();
            });
            return seen.join('|');
        };
        QCOMPARE(texts("sourceImagesButton"), "Look in:|Name|&Open|Cancel");
        language->setCurrentIndex(1);
        QCOMPARE(texts("sourceImagesButton"), "Szukaj w:|Nazwa|&Otwórz|Anuluj");
        QCOMPARE(texts("destinationFolderButton"), "Szukaj w:|Nazwa|&Wybierz|Anuluj");
        language->setCurrentIndex(0);
        QCOMPARE(texts("sourceImagesButton"), "Look in:|Name|&Open|Cancel");
    }
};

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
