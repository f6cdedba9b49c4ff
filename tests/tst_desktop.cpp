// Velumen as a desktop application: the Debian package and the files it installs, files opened
// from the command line or dropped on the source list, and the window and Qt's dialogs in Polish.

#include "destinationdialog.h"
#include "mainwindow.h"
#include "sourcefiles.h"
#include "testtools.h"
#include "widgettesthelpers.h"
#include "windowtesthelpers.h"

#include <QtTest>

using namespace WidgetTest;

class TestDesktop : public QObject
{
    Q_OBJECT

    QTemporaryDir home;
    QString file(const QString &name) const { return home.filePath(name); }

    // What a choice of source files shows: the count, where the next chooser opens, the destination
    // folder (the destination names follow from these) and the list.
    static QStringList choice(const MainWindow &window)
    {
        QStringList state{child<QLabel>(&window, "sourceImagesCount")->text(),
                          child<SelectImagesButton>(&window, "sourceImagesButton")->path(),
                          window.findChild<DestinationDialog *>()->destinationFolder()};
        for (const QListWidgetItem *item : child<QListWidget>(&window, "sourceImages")->findItems("", Qt::MatchContains))
            state << item->text();
        return state;
    }

    // Drags `paths` over the source list and drops them; returns whether the list took the drag.
    static bool drop(MainWindow &window, const QStringList &paths)
    {
        QMimeData data;
        for (const QString &path : paths)
            data.setUrls(data.urls() << QUrl::fromLocalFile(path));
        QWidget *list = child<QListWidget>(&window, "sourceImages")->viewport();
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QDropEvent dropped(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(list, &enter);
        QApplication::sendEvent(list, &dropped);
        return enter.isAccepted();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(home.isValid() && QDir(home.path()).mkpath("frames/sub") && QDir(home.path()).mkpath("empty"));
        useOwnDialogsAndHome(home.path());
        QImage image(8, 6, QImage::Format_RGB32);
        image.fill(Qt::darkBlue);
        for (const char *name : {"frame10.png", "frame9.jpg", "Frame1.tif", "sub/frame0.png"})
            QVERIFY(image.save(file("frames/") + name));
        QVERIFY(image.save(file("frames/notes.txt"), "PNG")); // an image, but not by its name
    }

    // The Debian package: what it needs, and the tree it installs (the same rules cmake --install runs).
    void package()
    {
        // Tools that print nothing useful on success write to the test's own output.
        QTemporaryDir dir;
        QByteArray log, depends;
        QCOMPARE(QProcess::execute(VELUMEN_CPACK, {"-G", "DEB", "-B", dir.path(), "--config", VELUMEN_CPACK_CONFIG}), 0);
        const QString deb = dir.filePath(QDir(dir.path()).entryList({"velumen_*.deb"}).value(0));
        QVERIFY(TestTools::ToolSandbox::run("dpkg-deb", {"-f", deb, "Depends"}, &depends));
        QCOMPARE(QProcess::execute("dpkg-deb", {"-x", deb, dir.path()}), 0);
        for (const char *name : {"imagemagick", "qt5-image-formats-plugins", "libqt5widgets5", "libqt5gui5"})
            QVERIFY2(QString(depends).split(QRegularExpression("[ ,|()\n]+")).contains(name), depends.constData());
        const QString usr = dir.filePath("usr/"), id = "io.github.velumen.Velumen";
        for (const char *program : {"velumen", VELUMEN_HAS_STACK ? "velumen-stack" : "velumen"})
            QVERIFY2(QFileInfo(usr + "bin/" + program).isExecutable(), program);
        for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
            QCOMPARE(QImage(usr + QString("share/icons/hicolor/%1x%1/apps/%2.png").arg(size).arg(id)).size(),
                     QSize(size, size));
        QVERIFY(QFileInfo::exists(usr + "share/icons/hicolor/scalable/apps/" + id + ".svg"));
        const QString entry = usr + "share/applications/" + id + ".desktop";
        QVERIFY2(TestTools::ToolSandbox::run("desktop-file-validate", {entry}, &log) && log.isEmpty(), log.constData());
        QCOMPARE(QProcess::execute("appstreamcli", {"validate", "--no-net", usr + "share/metainfo/" + id + ".metainfo.xml"}), 0);
        // The entry opens every kind of file the chooser offers, and shows the installed icon.
        QStringList types;
        for (const QString &filter : SourceFiles::nameFilters())
            types << QMimeDatabase().mimeTypeForFile(filter, QMimeDatabase::MatchExtension).name();
        types.removeDuplicates();
        const QString text = TestTools::readFile(entry);
        for (const QString &line : QStringList{"Exec=velumen %F", "Icon=" + id, "Categories=Graphics;Photography;",
                                    "MimeType=" + types.join(';') + ';'})
            QVERIFY2(text.contains('\n' + line + '\n'), qPrintable(line));
    }

    // Files named on the command line or dropped on the list give what the chooser gives: a folder its
    // own images (not its subfolders') in natural order, names relative to the working folder.
    void openedAndDroppedFiles()
    {
        const QStringList frames{file("frames/Frame1.tif"), file("frames/frame9.jpg"), file("frames/frame10.png")};
        const QStringList chosen = QStringList{"3", file("frames"), file("frames")} + frames;
        MainWindow opened, relative, dropped;
        QCOMPARE(opened.openFiles({file("frames")}), QStringList());
        QCOMPARE(choice(opened), chosen);
        // What is neither image nor folder is left out.
        QDir::setCurrent(file("frames"));
        QCOMPARE(relative.openFiles({"Frame1.tif", "notes.txt", "frame9.jpg", "gone.png", "./frame10.png"}),
                 QStringList({"notes.txt", "gone.png"}));
        QCOMPARE(choice(relative), chosen);
        QVERIFY(drop(dropped, frames + QStringList(file("frames/notes.txt"))));
        QCOMPARE(choice(dropped), chosen);
        // Nothing usable changes nothing: the list refuses the drag, or finds no image in the folder.
        QVERIFY(!drop(dropped, {file("frames/notes.txt")}));
        QVERIFY(drop(dropped, {file("empty")}));
        QCOMPARE(opened.openFiles({file("empty")}), QStringList());
        QCOMPARE(choice(dropped), chosen);
        QCOMPARE(choice(opened), chosen);
    }

    // In either language, with or without the option rows, the window cuts no widget short: neither at
    // the size it has when the language or the rows change, nor at its smallest. Qt's own choosers
    // follow the language, back to English too.
    void eitherLanguage()
    {
        MainWindow window;
        window.show();
        // The name of a widget smaller than it needs (or squeezed to nothing), if there is one.
        const auto cutWidget = [&] {
            QApplication::processEvents();
            for (QWidget *w : window.findChildren<QWidget *>(QRegularExpression("^(?!qt_).")))
                if (w->isVisible() && w->size().expandedTo(w->minimumSizeHint().expandedTo({0, 1})) != w->size())
                    return w->objectName();
            return QString();
        };
        // "Look in" and the buttons of a chooser.
        const auto chooser = [&](const char *button) {
            QStringList seen;
            clickChooser(*child<QAbstractButton>(&window, button), [&](QFileDialog *dialog) {
                seen << dialog->findChild<QLabel *>("lookInLabel")->text();
                for (QAbstractButton *b : dialog->findChild<QDialogButtonBox *>("buttonBox")->buttons())
                    seen << b->text();
            });
            return seen.join('|');
        };
        for (int rows : {3, 0})
            for (int language : {1, 0}) {
                child<QComboBox>(&window, "condition")->setCurrentIndex(rows ? 2 : 0);
                child<QComboBox>(&window, "fadeMethod")->setCurrentIndex(rows);
                child<QComboBox>(&window, "language")->setCurrentIndex(language);
                QCOMPARE(cutWidget(), QString());
                window.resize(1, 1);
                QCOMPARE(cutWidget(), QString());
                QCOMPARE(chooser("sourceImagesButton"), language ? "Szukaj w:|&Otwórz|Anuluj" : "Look in:|&Open|Cancel");
                QCOMPARE(chooser("destinationFolderButton"), language ? "Szukaj w:|&Wybierz|Anuluj" : "Look in:|&Choose|Cancel");
            }
    }
};

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
