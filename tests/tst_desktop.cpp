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

// Runs a program to its end; returns its exit code, or -1 when it could not run or crashed.
int run(const QString &program, const QStringList &arguments, QString *output = nullptr)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool ended = process.waitForFinished(300000) && process.exitStatus() == QProcess::NormalExit;
    if (output)
        *output = QString::fromUtf8(process.readAll());
    return ended ? process.exitCode() : -1;
}

// What a choice of source files shows: the list, the count, where the next chooser opens, the
// destination folder and the destination names.
QStringList choice(const MainWindow &window)
{
    QStringList state{child<QLabel>(&window, "sourceImagesCount")->text(),
                      child<SelectImagesButton>(&window, "sourceImagesButton")->path(),
                      window.findChild<DestinationDialog *>()->destinationFolder()};
    for (const char *name : {"sourceImages", "destinationImages"})
        for (const QListWidgetItem *item : child<QListWidget>(&window, name)->findItems(QString(), Qt::MatchContains))
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
        for (const char *name : {"frames/frame10.png", "frames/frame9.jpg", "frames/Frame1.tif", "frames/sub/frame0.png"})
            QVERIFY(image.save(file(name)));
        QVERIFY(image.save(file("frames/notes.txt"), "PNG")); // an image, but not by its name
    }

    // The Debian package: what it needs, and the tree it installs (the same rules cmake --install runs).
    void package()
    {
        QTemporaryDir out;
        QString output, depends;
        QVERIFY2(run(VELUMEN_CPACK, {"-G", "DEB", "-B", out.path(), "--config", VELUMEN_BUILD_DIR "/CPackConfig.cmake"},
                     &output) == 0, qPrintable(output));
        const QString deb = out.filePath(QDir(out.path()).entryList({"velumen_*.deb"}).value(0));
        QVERIFY(run("dpkg-deb", {"-f", deb, "Depends"}, &depends) == 0 && run("dpkg-deb", {"-x", deb, out.path()}) == 0);
        for (const char *package : {"imagemagick", "qt5-image-formats-plugins", "libqt5widgets5", "libqt5gui5", "libqt5core5a"})
            QVERIFY2(depends.contains(QRegularExpression(QString("(^|, )%1( |,|$)").arg(package))), qPrintable(depends));

        const QString usr = out.filePath("usr/"), id = "io.github.velumen.Velumen";
        for (const char *program : {"velumen", VELUMEN_HAS_STACK ? "velumen-stack" : "velumen"})
            QVERIFY2(QFileInfo(usr + "bin/" + program).isExecutable(), program);
        for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
            QCOMPARE(QImage(usr + QString("share/icons/hicolor/%1x%1/apps/%2.png").arg(size).arg(id)).size(), QSize(size, size));
        QVERIFY(QFileInfo::exists(usr + "share/icons/hicolor/scalable/apps/" + id + ".svg"));
        QFile entry(usr + "share/applications/" + id + ".desktop");
        QVERIFY2(run("desktop-file-validate", {entry.fileName()}, &output) == 0 && output.isEmpty(), qPrintable(output));
        QVERIFY2(run("appstreamcli", {"validate", "--no-net", usr + "share/metainfo/" + id + ".metainfo.xml"}, &output) == 0,
                 qPrintable(output));
        // The entry opens every kind of file the chooser offers, and shows the installed icon.
        QStringList types;
        for (const QString &filter : SourceFiles::nameFilters())
            types << QMimeDatabase().mimeTypeForFile(filter, QMimeDatabase::MatchExtension).name();
        types.removeDuplicates();
        QVERIFY(entry.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(entry.readAll());
        for (const QString &line : QStringList{"Exec=velumen %F", "Icon=" + id, "Categories=Graphics;Photography;",
                                               "MimeType=" + types.join(';') + ';'})
            QVERIFY2(text.contains('\n' + line + '\n'), qPrintable(line));
    }

    void openedAndDroppedFilesMatchTheChooser()
    {
        const QStringList frames{file("frames/Frame1.tif"), file("frames/frame9.jpg"), file("frames/frame10.png")};
        MainWindow chosen, opened, relative, dropped;
        clickChooser(*child<SelectImagesButton>(&chosen, "sourceImagesButton"), [&](QFileDialog *dialog) {
            dialog->setDirectory(file("frames"));
            dialog->findChild<QLineEdit *>("fileNameEdit")->setText("\"Frame1.tif\" \"frame9.jpg\" \"frame10.png\"");
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
        const auto cutsNothing = [&] {
            QApplication::processEvents();
            for (QWidget *w : window.findChildren<QWidget *>(QRegularExpression("^(?!qt_).")))
                if (w->isVisible() && (w->width() < w->minimumSizeHint().width() || w->height() < qMax(1, w->minimumSizeHint().height())))
                    return w->objectName();
            return QString();
        };
        for (int rows : {3, 0})
            for (int language : {1, 0}) {
                child<QComboBox>(&window, "condition")->setCurrentIndex(rows ? 2 : 0);
                child<QComboBox>(&window, "fadeMethod")->setCurrentIndex(rows);
                child<QComboBox>(&window, "language")->setCurrentIndex(language);
                QCOMPARE(cutsNothing(), QString());
                window.resize(1, 1);
                QCOMPARE(cutsNothing(), QString());
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
                seen << dialog->findChild<QLabel *>("lookInLabel")->text()
                     << dialog->findChild<QTreeView *>("treeView")->model()->headerData(0, Qt::Horizontal).toString();
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
