// The main window: start-up state, settings rows, destination names, Begin's refusals and the
// language switch; real jobs through the worker and ImageMagick: progress and completion, a failed
// load, Cancel followed by Begin, and closing the window mid-run. Then Velumen as a desktop
// application: the Debian package and the files it installs, files opened from the command line or
// dropped on the source list, and the window and Qt's dialogs in Polish.

#include "executethread.h"
#include "languagetext.h"
#include "mainwindow.h"
#include "selectimagesbutton.h"
#include "sourcefiles.h"
#include "testtools.h"
#include "thumbnailwidget.h"
#include "timeleft.h"
#include "widgettesthelpers.h"

#include <QtTest>

using namespace WidgetTest;

namespace {

// A widget of a window (or of its dialogs, the window's children) by object name.
template <typename T>
T *child(const QObject *root, const char *name)
{
    T *widget = root->findChild<T *>(QLatin1String(name));
    return widget ? widget : (qFatal("no widget %s", name), nullptr);
}

QStringList items(const QAbstractItemModel *model)
{
    QStringList texts;
    for (int row = 0; row < model->rowCount(); ++row)
        texts << model->index(row, 0).data().toString();
    return texts;
}

// Every named widget as "[hidden|][disabled|]<checked, index, value, suffix, minimum, maximum, list
// items>|<window title, title, text, combo items>" (empty parts left out), so that whole windows
// compare at once. Without the texts it holds what a language switch must keep.
QMap<QString, QString> snapshot(const QWidget *root, bool withTexts = true)
{
    QMap<QString, QString> state{{":title", withTexts ? root->windowTitle() : QString()}};
    for (const QWidget *w : root->findChildren<QWidget *>(QRegularExpression("^(?!qt_)."))) {
        QStringList values{w->isHidden() ? "hidden" : "", w->isEnabled() ? "" : "disabled"}, texts;
        for (const char *name : {"checked", "currentIndex", "value", "suffix", "minimum", "maximum"})
            values << w->property(name).toString();
        texts << (w->isWindow() ? w->windowTitle() : "") << w->property("title").toString()
              << w->property("text").toString();
        if (auto *view = qobject_cast<const QAbstractItemView *>(w))
            values << items(view->model());
        if (auto *combo = qobject_cast<const QComboBox *>(w))
            texts << items(combo->model());
        const QStringList kept = withTexts ? values + texts : values;
        state.insert(w->objectName(), kept.filter(QRegularExpression(".")).join('|'));
    }
    return state;
}

// Black, with a white pixel at (k, k) for each bit k of mask: source k has bit k, so the maximum of
// the sources shows which went in.
QImage frame(int mask)
{
    QImage image(16, 16, QImage::Format_RGB32);
    image.fill(Qt::black);
    for (int k = 0; k < 16; ++k)
        image.setPixel(k, k, (mask >> k) & 1 ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
    return image;
}

// While it lives, closes every message box (they are modal) and keeps "title|text|number of buttons";
// `whileOpen` runs first, inside the box's own event loop.
struct BoxCatcher : QObject
{
    QStringList seen;
    QTimer timer;
    explicit BoxCatcher(std::function<void()> whileOpen = [] {})
    {
        connect(&timer, &QTimer::timeout, this, [this, whileOpen] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            seen << box->windowTitle() + '|' + box->text() + '|' + QString::number(box->buttons().size());
            timer.stop(); // whileOpen may wait in an event loop of its own
            whileOpen();
            timer.start();
            box->button(QMessageBox::Ok)->click();
        });
        timer.start(20);
    }
};

const char Idle[] = "Begin|1|0|0";

// The mask of the frame a 16 x 16 picture shows (the white pixels on its diagonal), -1 for none.
int maskOf(const QImage &picture)
{
    int mask = picture.size() == QSize(16, 16) ? 0 : -1;
    for (int k = 0; mask >= 0 && k < 16; ++k)
        mask |= picture.pixel(k, k) == qRgb(255, 255, 255) ? 1 << k : 0;
    return mask;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestTools::ToolSandbox> sandbox;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<QSignalSpy> finished;
    QStringList reports; // controls() at each report of a run
    QList<QUrl> opened;

    template <typename T = QComboBox> T *get(const char *name) const { return child<T>(window.get(), name); }
    void click(const char *name = "executeButton") const { get<QPushButton>(name)->click(); }
    ExecuteThread *worker() const { return window->findChild<ExecuteThread *>(); }
    QStringList destinations() const { return items(get<QListWidget>("destinationImages")->model()); }
    QString output(int i) const { return sandbox->filePath(QString::asprintf("out/output%04d.png", i)); }
    // Sets combo box indexes and the values of check boxes, spin boxes and text fields, in order.
    void set(const QList<QPair<const char *, QVariant>> &settings) const
    {
        for (const auto &setting : settings) {
            QWidget *w = get<QWidget>(setting.first);
            w->inherits("QComboBox") ? w->setProperty("currentIndex", setting.second)
                                     : w->metaObject()->userProperty().write(w, setting.second);
        }
    }
    // Sources as the chooser sends them: the new folder (none if it stayed the same), the files (`count`
    // frames in the folder after those given) and their number.
    QStringList choose(const QString &folder, int count, QStringList files = {}) const
    {
        for (int i = 0; i < count; ++i)
            files << QStringLiteral("%1/frame%2.png").arg(folder).arg(i);
        auto *button = get<SelectImagesButton>("sourceImagesButton");
        if (!folder.isEmpty())
            emit button->pathChanged(folder);
        emit button->selected(files);
        emit button->inputCountChanged(files.size());
        return files;
    }
    // Begin's text, whether Begin and Cancel are enabled, and the bar: "Begin|1|0|0" when idle.
    QString controls() const
    {
        const auto *begin = get<QPushButton>("executeButton");
        return QStringLiteral("%1|%2|%3|%4").arg(begin->text()).arg(begin->isEnabled())
            .arg(get<QWidget>("cancelButton")->isEnabled()).arg(get<QProgressBar>("progressBar")->value());
    }
    // The labels of an option pair, "label 1|label 2|"; a hidden box or label adds a "-".
    QString rows(const QByteArray &prefix) const
    {
        QString shown;
        for (const QByteArray &name : {prefix + "Option1", prefix + "Option2"})
            shown += QString(get<QSpinBox>(name)->isVisible() ? "" : "-")
                + (get<QLabel>(name + "Label")->isVisible() ? "" : "-") + get<QLabel>(name + "Label")->text()
                + '|';
        return shown;
    }
    bool sameFrames(const QList<int> &masks) const
    {
        for (int i = 0; i < masks.size(); ++i)
            if (QImage(output(i)).convertToFormat(QImage::Format_RGB32) != frame(masks[i]))
                return false;
        return !QFileInfo::exists(output(masks.size()));
    }
    // Sources in the sandbox's "out", where the results go as PNG files under the default name pattern;
    // the controls are recorded at each report, queued behind the window's own connection. A `convert`
    // stand-in given runs before the real one.
    QStringList setUpJob(int frames, int condition, bool openFolder, const QString &convert = QString())
    {
        if (!convert.isEmpty()
            && !(sandbox->addForwardingTool("identify") && sandbox->addForwardingTool("convert", convert)))
            qFatal("cannot place the stand-in tools");
        for (int k = 0; k < frames; ++k)
            frame(1 << k).save(sandbox->filePath(QStringLiteral("out/frame%1.png").arg(k)));
        set({{"condition", condition}, {"fileType", 1}, {"openDestinationFolder", openFolder}});
        connect(worker(), &ExecuteThread::operationStarted, window.get(), [this] { reports << controls(); });
        return choose(sandbox->filePath(QStringLiteral("out")), frames);
    }
    // Waits until the worker's run has returned and the window has handled its end (queued).
    bool waitForRunEnd(int runs)
    {
        const bool ended = QTest::qWaitFor([&] { return finished->count() >= runs; }, 60000);
        QTest::qWait(50);
        return ended && finished->count() == runs && !worker()->isRunning();
    }
    // The preview's title, the bar's text (the time left as "m:ss") and the mask of the frame shown.
    QString preview() const
    {
        const QString bar = get<QProgressBar>("progressBar")->text();
        return get<QGroupBox>("previewGroupBox")->title() + '|'
               + QString(bar).replace(QRegularExpression("\\d+:\\d\\d"), "m:ss") + '|'
               + QString::number(maskOf(get<ThumbnailWidget>("previewWidget")->previewImage()));
    }
    // Clicks the row of a list.
    void clickRow(const char *list, int row) const
    {
        auto *view = get<QListWidget>(list);
        const QPoint at = view->visualItemRect(view->item(row)).center();
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
    }
    // Begin, then Cancel once the run has started.
    void beginThenCancel()
    {
        click();
        QTRY_VERIFY_WITH_TIMEOUT(!get<QPushButton>("executeButton")->isEnabled(), 20000);
        click("cancelButton");
    }

    QTemporaryDir home;
    QString file(const QString &name) const { return home.filePath(name); }

    // What a choice of source files shows: the count, where the next chooser opens, the destination
    // folder (the destination names follow from these) and the list.
    static QStringList choice(const MainWindow &window)
    {
        return QStringList{child<QLabel>(&window, "sourceImagesCount")->text(),
                           child<SelectImagesButton>(&window, "sourceImagesButton")->path(),
                           child<QLineEdit>(&window, "destinationFolder")->text()}
               + items(child<QListWidget>(&window, "sourceImages")->model());
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

public slots:
    // Completion opens the destination folder through the desktop; the test records it instead.
    void openUrl(const QUrl &url) { opened << url; }

private slots:
    void initTestCase()
    {
        QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "openUrl");
        QVERIFY(home.isValid() && QDir().mkpath(file("frames/sub")) && QDir().mkpath(file("empty")));
        useOwnDialogsAndHome(home.path());
        // All PNG images, whatever their names say: notes.txt is an image, but not by its name.
        // Beside the frames, the results of an earlier run.
        for (const char *name : {"frame10.png", "frame9.jpg", "Frame1.tif", "sub/frame0.png", "notes.txt",
                                 "output0000.jpg", "output0001.jpg"})
            QVERIFY(frame(0).save(file("frames/") + name, "PNG"));
    }

    void init()
    {
        window.reset(), sandbox.reset(); // first, as the sandbox gives back the working folder it took
        sandbox.reset(new TestTools::ToolSandbox);
        QVERIFY(sandbox->isValid() && QDir().mkpath(QStringLiteral("out")));
        window.reset(new MainWindow);
        window->show();
        finished.reset(new QSignalSpy(worker(), &QThread::finished));
        reports.clear(), opened.clear();
    }

    void startState()
    {
        QVERIFY(window->size() == QSize(800, 720) && !window->menuWidget()
                && !window->findChild<QStatusBar *>() && !window->findChild<QToolBar *>());
        const QMap<QString, QString> state = snapshot(window.get()), expected = {{":title", "Velumen"},
            {"condition", "0|All images|All previous images|Groups of images|Groups of images (loop)"
                          "|Disjoint groups of images"}, {"conditionHelp", "hidden"},
            {"overwriteNotice", "All existing files will be overwritten without warning."},
            {"openDestinationFolder", "true|Open destination folder after finishing"},
            {"DestinationDialog", "hidden|Name and format of destination images"}, {"sourceImagesCount", "0"},
            {"destinationImagesCountLabel", "Number of destination images:"}, {"compressionLabel", "Quality"},
            {"fadeMethod", "0|No fading|Fade in|Fade out|Fade in and out"}, {"language", "0|English|Polski"},
            {"namePatternBox", "false|Name format of destination files"}, {"executeButton", "false|Begin"},
            {"fileType", "0|JPG|PNG|8 bits/channel|16 bits/channel"}, {"destinationFolder", QDir::homePath()},
            {"sourceImagesCountLabel", "Number of source images:"}, {"conditionOption1", "hidden|1|1|9999|1"},
            {"destinationFolderBox", "false|Destination folder"}, {"conditionOption2", "hidden|1|1|9999|1"},
            {"stackMethod", "0|Lighten only|Darken only|Mean"}, {"detailsLabel", "hidden|" + languageText(0)},
            {"fileTypeBox", "false|Type of destination files"}, {"cancelButton", "disabled|false|Cancel"},
            {"fadeMethodOption1", "hidden|50|%|0|100|50%"}, {"fadeMethodOption2", "hidden|50|%|0|100|50%"},
            {"destinationImagesButton", "false|Choose..."}, {"destinationFolderButton", "false|Choose..."},
            {"sourceImagesButton", "false|Choose..."}, {"languageGroupBox", "false|Language"},
            {"compression", "92|1|100|92"}, {"progressBar", "0|0|100|0%"}, {"stackMethodHelp", "hidden"},
            {"fadeMethodHelp", "hidden"}};
        for (const QString &name : expected.keys())
            QCOMPARE(name + ": " + state.value(name), name + ": " + expected.value(name));
    }

    void settingsAndLanguage()
    {
        // Values set in hidden rows are kept through every change of the rows; no sources, no destinations.
        set({{"conditionOption1", 7}, {"conditionOption2", 3}});
        const QString hidden = "--|--|", group = "Number of images per group|Step between groups|",
                      in = "Percentage of initial images|", out = "Percentage of final images|";
        const QStringList conditionRows = {hidden, hidden, group, group, "Number of groups|--|"},
                          fadeRows = {hidden, in + "--|", out + "--|", in + out};
        for (int i : {2, 0, 4, 1, 3, 0}) {
            set({{"condition", i}, {"fadeMethod", i % 4}});
            QCOMPARE(rows("condition") + rows("fadeMethod") + get<QLabel>("destinationImagesCount")->text()
                     + destinations().join(""), conditionRows[i] + fadeRows[i % 4] + "0");
        }
        // Mean forces "No fading" and holds it, across a language switch too; leaving Mean does not
        // bring the earlier fade back.
        const QComboBox *fade = get("fadeMethod");
        for (int other : {1, 0}) {
            set({{"fadeMethod", 3}, {"stackMethod", 2}, {"language", other}});
            QVERIFY(fade->currentIndex() == 0 && !fade->isEnabled() && rows("fadeMethod") == hidden);
            set({{"stackMethod", other}});
            QVERIFY(fade->currentIndex() == 0 && fade->isEnabled());
        }
        // The hidden values were kept and fading leaves the groups as they were; new sources update the
        // list, and from another folder they move the destinations there.
        set({{"condition", 2}, {"fadeMethod", 1}, {"fadeMethodOption1", 70}});
        choose("/photos", 13);
        QCOMPARE(QString::number(destinations().size()) + destinations().last(), "3/photos/output0002.jpg");
        // Each run of '*' gets the number padded to its own length, a longer number is written in
        // full, a folder typed in the dialog shows at once, unchanged, and '%' stays literal.
        set({{"condition", 1}});
        const struct { const char *folder, *pattern; int index; const char *name; } cases[] = {
            {"/out", "a*b**c", 7, "/out/a7b07c"}, {"/out", "a*b**c", 11, "/out/a11b11c"},
            {"/out", "IMG_**_***.tif", 3, "/out/IMG_03_003.tif"}, {"/out", "***", 5, "/out/005"},
            {"/out", "night.png", 5, "/out/night.png"}, {"/out", "", 5, "/out/"},
            {"/out/", "output****.jpg", 0, "/out//output0000.jpg"}, {"/50%2", "x%1_**", 3, "/50%2/x%1_03"}};
        for (const auto &c : cases) {
            set({{"destinationFolder", c.folder}, {"namePattern", c.pattern}});
            QCOMPARE(destinations().at(c.index), QString::fromUtf8(c.name));
            QCOMPARE(destinations().count(c.name), QString(c.pattern).contains('*') ? 1 : 13);
        }
        // A job set up in every widget, with the dialog open (it does not block the window), through a
        // language switch and back.
        set({{"condition", 3}, {"conditionOption1", 4}, {"conditionOption2", 2}, {"stackMethod", 1},
             {"fadeMethod", 3}, {"fadeMethodOption1", 30}, {"fadeMethodOption2", 40}, {"fileType", 2},
             {"compression", 77}});
        click("destinationImagesButton");
        QVERIFY(get<QDialog>("DestinationDialog")->isVisible() && !QApplication::activeModalWidget());
        const QMap<QString, QString> english = snapshot(window.get());
        // Only texts change: every index, value, list and visibility stays, and no English text is left.
        QMap<QString, QString> values = snapshot(window.get(), false);
        values["language"] = "1";
        set({{"language", 1}});
        QCOMPARE(snapshot(window.get(), false), values);
        const QStringList shown = QStringList(snapshot(window.get()).values()).join('|').split('|');
        set({{"language", 0}});
        QCOMPARE(snapshot(window.get()), english);
        for (int id = 0; id < 53; ++id)
            QVERIFY2(!shown.contains(languageText(id)), qPrintable(languageText(id)));
    }

    // Each refusal in both languages, before the worker starts: no sources, nothing to save, a missing
    // destination folder, a destination that is a source under another name.
    void beginRefusals()
    {
        const QString dir = canonical(sandbox->path()), among = dir + "/out/../output0000.jpg";
        // A re-chosen folder holds an output.
        QVERIFY(TestTools::writeFile(dir + "/output0000.jpg", ""));
        BoxCatcher catcher;
        QStringList expected("Error|No source images loaded.|1");
        click();
        choose(dir, 1, {dir + "/output0000.jpg"});
        for (int language : {0, 1}) {
            // More per group than sources.
            set({{"language", language}, {"condition", 2}, {"conditionOption1", 5}});
            click();
            set({{"condition", 0}, {"destinationFolder", dir + "/missing"}});
            click();
            set({{"destinationFolder", dir + "/out/.."}});
            click();
            for (const QString &text :
                 {languageText(34), languageText(51).arg(dir + "/missing"), languageText(52).arg(among)})
                expected << languageText(32) + '|' + text + "|1";
        }
        QCOMPARE(catcher.seen, expected);
        QVERIFY(finished->isEmpty() && !worker()->isRunning() && controls() == "Rozpocznij|1|0|0");
    }

    // Six sources stacked into one image: the bar follows the operations.
    void fullJob()
    {
        set({{"language", 1}});
        setUpJob(6, 0, true);
        // A second press before the first report, with another name pattern, hands the worker nothing.
        click();
        get<QLineEdit>("namePattern")->setText("second****.png");
        click();
        // A folder chosen during the run is the one opened at the end; the job keeps its own paths.
        set({{"destinationFolder", sandbox->filePath("later")}});
        QVERIFY(waitForRunEnd(1));
        QStringList expected;
        for (int k = 0; k < 6; ++k)
            expected << QString("Przetwarzanie obrazu nr 1 (operacja %1 z 6)...|0|1|%2")
                            .arg(k + 1).arg(k * 100 / 6);
        QCOMPARE(reports + QStringList(controls()), expected << "Rozpocznij|1|0|100");
        QCOMPARE(opened, QList<QUrl>{QUrl::fromLocalFile(sandbox->filePath("later"))});
        QVERIFY(sameFrames({63}) && !QFileInfo::exists("later"));
    }

    // The preview during and after runs: each report finds the last image written, titled with its number,
    // and from the third operation on the bar's time left; after completion the last image, its title
    // following the language. A click on a written destination shows that file, one on a source the
    // source. Cancel and a failed load keep the last picture and its title, later pictures change nothing,
    // and a new choice of sources shows "Preview" again.
    void runningPreview()
    {
        QStringList durations;
        for (int seconds : {5, 65, 3599, 3900, 36000})
            durations << TimeLeft::durationText(seconds);
        QCOMPARE(durations.join(' '), "0:05 1:05 59:59 1 h 05 min 10 h 00 min");
        const QStringList sources = setUpJob(4, 1, false, "sleep 0.3");
        QStringList seen;
        connect(worker(), &ExecuteThread::operationStarted, window.get(), [&] { seen << preview(); });
        click();
        QVERIFY(waitForRunEnd(1));
        const QString title = "Preview: destination image %1 of 4|";
        QCOMPARE(seen, QStringList({"Preview|0%|-1", title.arg(1) + "25%|1",
                                    title.arg(2) + "50% · about m:ss left|3",
                                    title.arg(3) + "75% · about m:ss left|7"}));
        QCOMPARE(preview(), title.arg(4) + "100%|15");
        set({{"language", 1}});
        QCOMPARE(preview(), "Podgląd: obraz docelowy 4 z 4|100%|15");
        QCOMPARE(TimeLeft::durationText(3900), "1 godz. 05 min");
        set({{"language", 0}});
        clickRow("destinationImages", 1);
        QTRY_COMPARE(preview(), title.arg(2) + "100%|3");
        clickRow("sourceImages", 2);
        QTRY_COMPARE(preview(), "Preview|100%|4");
        set({{"language", 1}});
        QCOMPARE(preview(), "Podgląd|100%|4");
        set({{"language", 0}});
        // The source clicked again, while current, after a destination.
        clickRow("destinationImages", 3);
        QTRY_COMPARE(preview(), title.arg(4) + "100%|15");
        clickRow("sourceImages", 2);
        QTRY_COMPARE(preview(), "Preview|100%|4");

        // Cancel at the third image's report, the pictures the worker sends after it too late to show.
        const auto atThird = connect(worker(), &ExecuteThread::operationStarted, window.get(),
                                     [&](int image) { image == 2 ? click("cancelButton") : void(); });
        click();
        QVERIFY(waitForRunEnd(2));
        disconnect(atThird);
        emit worker()->previewUpdated(3, 4, frame(15));
        QCOMPARE(preview(), title.arg(2) + "0%|3");

        choose(QString(), 0, {sources[0], sandbox->filePath("gone.png"), sources[2]});
        QCOMPARE(preview(), "Preview|0%|-1");
        BoxCatcher catcher;
        click();
        QVERIFY(waitForRunEnd(3));
        QTRY_COMPARE(catcher.seen.size(), 1);
        QCOMPARE(preview(), "Preview: destination image 1 of 3|0%|1");
        choose(QString(), 0, sources); // none of the list current
        QCOMPARE(preview(), "Preview|0%|-1");
    }

    // Slow loads, so that the worker is still busy when Begin follows Cancel, and a job started while a box
    // is open still runs when it closes; while the marker exists, the first frame's load (not one running
    // ahead of it) takes it and fails.
    void cancelAndFailedLoads()
    {
        // The tools run in the working folder, the sandbox, where the marker is.
        const QStringList sources = setUpJob(4, 1, false, "sleep 1\ncase \"$1\" in *frame0.png) "
                                                          "if [ -e fail ]; then rm fail; exit 1; fi;; esac");
        QSignalSpy completed(worker(), &ExecuteThread::completed), aborted(worker(), &ExecuteThread::aborted);
        // While the second box is open the failed run ends and a job starts and reports: it is not that
        // run's to cancel.
        BoxCatcher catcher([&] {
            if (catcher.seen.size() < 2)
                return;
            QVERIFY(QTest::qWaitFor([&] { return finished->count() == 5; }, 60000));
            choose(QString(), 0, sources);
            const int before = reports.size();
            QMetaObject::invokeMethod(window.get(), "execute"); // Begin itself is still disabled
            QVERIFY(QTest::qWaitFor([&] { return reports.size() > before; }, 60000));
        });
        beginThenCancel();
        // A report or a completion the worker sent before it saw the cancel changes nothing.
        emit worker()->operationStarted(1, 4, 0, 1);
        QMetaObject::invokeMethod(window.get(), "finish");
        // Begin at once, while the cancelled run still loads: the new job runs once, first image to last.
        QVERIFY2(controls() == Idle && worker()->isRunning(), qPrintable(controls()));
        reports.clear();
        click();
        QVERIFY(waitForRunEnd(2));
        QTest::qWait(300);
        QStringList expected;
        for (int k = 0; k < 4; ++k)
            expected << QString("Processing image #%1 (operation 1 of 1)...|0|1|%2").arg(k + 1).arg(k * 25);
        QCOMPARE(reports, expected);
        QVERIFY(completed.count() == 1 && !worker()->isRunning()); // and no third run
        QVERIFY(sameFrames({1, 3, 7, 15}) && opened.isEmpty());
        // The load in progress at Cancel fails afterwards: nothing of the cancelled run reaches the user.
        QVERIFY(TestTools::writeFile("fail", QByteArray()));
        beginThenCancel();
        QVERIFY(waitForRunEnd(3));
        QTest::qWait(100);
        QVERIFY(aborted.count() == 1 && !QFileInfo::exists("fail"));
        QCOMPARE(catcher.seen + QStringList(controls()), QStringList(Idle)); // no box, and idle
        // A missing source ends the run with a box naming it, as written, and opens no folder.
        set({{"openDestinationFolder", 1}});
        const QString missing = sandbox->filePath(QStringLiteral("gone & <1>.png"));
        choose(QString(), 0, {sources[0], missing, sources[2]});
        const QString box = "Error|Error opening image:<br><b>" + missing.toHtmlEscaped()
                            + "</b><br><br>Check if the file exists.<br>Check your permissions.|1";
        click();
        QVERIFY(waitForRunEnd(4));
        QTRY_COMPARE(catcher.seen, QStringList(box));
        QVERIFY2(controls() == Idle && opened.isEmpty(), qPrintable(controls()));
        click();
        QVERIFY(waitForRunEnd(6));
        QCOMPARE(catcher.seen, QStringList({box, box}));
        QVERIFY2(controls() == "Begin|1|0|100" && opened.size() == 1, qPrintable(controls()));
    }

    // Closing ends the tool run and the worker before it returns, and shown again the window is idle;
    // destroying the window mid-run, without a close, is just as safe.
    void closingDuringRunStopsWorker()
    {
        setUpJob(3, 0, true, "echo $$ >> pids\nexec sleep 30"); // into the working folder, the sandbox
        QSignalSpy ended(worker(), &ExecuteThread::completed), aborted(worker(), &ExecuteThread::aborted);
        for (bool destroy : {false, true}) {
            QVERIFY(TestTools::writeFile("pids", QByteArray()));
            click();
            QTRY_VERIFY_WITH_TIMEOUT(!TestTools::readFile("pids").trimmed().isEmpty(), 20000);
            // The first load's tool; the next one may already run ahead of it.
            const QString tool = "/proc/" + TestTools::readFile("pids").split('\n').first();
            QVERIFY(QFileInfo::exists(tool));
            if (destroy) {
                window.reset();
                QVERIFY(!QFileInfo::exists(tool));
                break;
            }
            QVERIFY(window->close() && !worker()->isRunning() && !QFileInfo::exists(tool));
            QTest::qWait(100);
            window->show();
            QVERIFY(ended.count() + aborted.count() == 0 && controls() == Idle);
        }
    }
    // The film: listed last, only for two destination images or more; Begin hands it to the worker, and an
    // ffmpeg failing mid-run ends the run with a box naming the film, whose earlier version stays.
    void film()
    {
        const QString movie = sandbox->filePath("out/output.mp4");
        setUpJob(3, 0, false);
        QVERIFY(!get<QCheckBox>("video")->isEnabled());
        set({{"condition", 1}, {"video", true}});
        QCOMPARE(destinations(), QStringList({output(0), output(1), output(2), movie}));
        click();
        QVERIFY(waitForRunEnd(1) && controls() == "Begin|1|0|100");
        const qint64 size = QFileInfo(movie).size();
        QVERIFY(size > 0);
        QVERIFY(sandbox->addTool("ffmpeg", "kill -SEGV $$"));
        BoxCatcher catcher;
        click();
        QVERIFY(waitForRunEnd(2) && controls() == Idle);
        QCOMPARE(catcher.seen, QStringList("Error|" + languageText(50).arg(movie) + "|1"));
        QCOMPARE(QFileInfo(movie).size(), size);
        // A film that may not be replaced is refused before the work.
        QVERIFY(QFile::remove(movie) && QDir().mkdir(movie));
        click();
        QCOMPARE(catcher.seen.last(), "Error|" + languageText(60).arg(movie) + "|1");
        set({{"video", false}});
        QCOMPARE(destinations().size(), 3);
        QVERIFY(finished->count() == 2);
    }
    // The Debian package: what it needs, and the tree it installs (the same rules cmake --install runs).
    void package()
    {
        // Tools that print nothing useful on success write to the test's own output.
        QTemporaryDir dir;
        QByteArray log, depends;
        QCOMPARE(QProcess::execute(VELUMEN_CPACK, {"-B", dir.path(), "--config", VELUMEN_CPACK_CONFIG}), 0);
        const QString deb = dir.filePath(QDir(dir.path()).entryList({"velumen_*.deb"}).value(0));
        QVERIFY(TestTools::ToolSandbox::run("dpkg-deb", {"-f", deb, "Depends"}, &depends));
        QCOMPARE(QProcess::execute("dpkg-deb", {"-x", deb, dir.path()}), 0);
        for (const char *name :
             {"imagemagick", "qt5-image-formats-plugins", "libqt5widgets5", "libqt5gui5", "libexiv2-27"})
            QVERIFY2(QString(depends).split(QRegularExpression("[ ,|()\n]+")).contains(name),
                     depends.constData());
        const QString usr = dir.filePath("usr/"), share = usr + "share/", id = "io.github.velumen.Velumen";
        for (const char *program : {"velumen", VELUMEN_HAS_STACK ? "velumen-stack" : "velumen"})
            QVERIFY2(QFileInfo(usr + "bin/" + program).isExecutable(), program);
        // The manual pages, and velumen-stack's options for bash.
        for (const char *page : {"man/man1/velumen.1.gz", "man/man1/velumen-stack.1.gz"})
            QVERIFY2(QFileInfo(share + page).size() > 100, page);
        // bash offers every option of velumen-stack's --help and, for those taking a name, the names it
        // takes; for the sources image files and folders.
        const auto complete = [&](const QString &line) {
            QByteArray offered;
            TestTools::ToolSandbox::run("bash", {"-c",
                 ". /usr/share/bash-completion/bash_completion; . \"$0\"; "
                 "COMP_LINE=$1 COMP_POINT=${#1}; read -ra COMP_WORDS <<< \"${1/=/ = }\"; [[ $1 == *' ' ]] && "
                 "COMP_WORDS+=(''); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _velumen_stack; "
                 "echo $(printf '%s\\n' \"${COMPREPLY[@]}\" | LC_ALL=C sort)",
                 share + "bash-completion/completions/velumen-stack", line}, &offered);
            return QString(offered).trimmed();
        };
        const QString stack = usr + "bin/velumen-stack";
        QStringList options;
        TestTools::ToolSandbox::run(stack, {"--help"}, &log);
        for (auto it = QRegularExpression("\n {2,6}(?:-., )?(--[a-z-]+)").globalMatch(log); it.hasNext();)
            options << it.next().captured(1);
        options.sort();
        QCOMPARE(complete("velumen-stack frames --"), options.join(' '));
        // The names are the ones velumen-stack lists when it refuses a name.
        for (const QString option : {"-c", "--method", "--fade", "-f"}) {
            QProcess refused;
            refused.start(stack, {option, "x", file("frames")});
            const QString said = refused.waitForFinished() ? refused.readAllStandardError() : "";
            QStringList names =
                said.section(": use ", 1, 1).section('\n', 0, 0).split(QRegularExpression(",? (or )?"));
            names.sort();
            QCOMPARE(complete("velumen-stack " + option + ' '), names.join(' '));
        }
        QCOMPARE(complete("velumen-stack --fade=in"), QString("in in-out"));
        QCOMPARE(complete("velumen-stack " + file("frames/n"))
                     + complete("velumen-stack " + file("frames/frame9")),
                 file("frames/frame9.jpg"));
        for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
            QCOMPARE(QImage(share + QString("icons/hicolor/%1x%1/apps/%2.png").arg(size).arg(id)).size(),
                     QSize(size, size));
        QVERIFY(QFileInfo::exists(share + "icons/hicolor/scalable/apps/" + id + ".svg"));
        const QString entry = share + "applications/" + id + ".desktop", info = share + "metainfo/" + id;
        QVERIFY2(TestTools::ToolSandbox::run("desktop-file-validate", {entry}, &log) && log.isEmpty(),
                 log.constData());
        QCOMPARE(QProcess::execute("appstreamcli", {"validate", "--no-net", info + ".metainfo.xml"}), 0);
        QVERIFY(TestTools::readFile(info + ".metainfo.xml").contains(">GPL-3.0-or-later</project_license>"));
        QVERIFY(TestTools::readFile(share + "doc/velumen/copyright").contains("License: GPL-3.0-or-later\n"));
        // The entry opens every kind of file the chooser offers, and shows the installed icon.
        QStringList lines{"Exec=velumen %F", "Icon=" + id, "Categories=Graphics;Photography;"}, types;
        for (const QString &filter : SourceFiles::nameFilters())
            types << QMimeDatabase().mimeTypeForFile(filter, QMimeDatabase::MatchExtension).name();
        types.removeDuplicates();
        const QString text = TestTools::readFile(entry);
        for (const QString &line : lines << "MimeType=" + types.join(';') + ';')
            QVERIFY2(text.contains('\n' + line + '\n'), qPrintable(line));
    }

    // Files named on the command line or dropped on the list give what the chooser gives: a folder its
    // own images (not its subfolders') in natural order, names relative to the working folder.
    void openedAndDroppedFiles()
    {
        const QStringList frames{file("frames/Frame1.tif"), file("frames/frame9.jpg"),
                                 file("frames/frame10.png")};
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
        QVERIFY(!drop(dropped, {file("frames/notes.txt")}) && drop(dropped, {file("empty")}));
        QCOMPARE(opened.openFiles({file("empty")}), QStringList());
        QCOMPARE(choice(dropped) + choice(opened), chosen + chosen);

        // The folder's earlier results (named as the pattern in force names destination images 0, 1...)
        // are left out, as velumen says when started with it; named one by one they are taken.
        QProcess velumen;
        velumen.start(VELUMEN_APP, {file("frames")});
        const QByteArray line = "velumen: left out 2 files whose names the destination pattern "
                                "output****.jpg makes, as from an earlier run\n";
        QByteArray said;
        const auto hasSaid = [&] { return (said += velumen.readAllStandardError()).contains(line); };
        QVERIFY2(QTest::qWaitFor(hasSaid, 60000), said.constData());
        velumen.kill();
        velumen.waitForFinished();
        const QStringList results{file("frames/output0000.jpg"), file("frames/output0001.jpg")};
        QVERIFY(drop(dropped, {results[1], frames[0]}));
        QCOMPARE(choice(dropped).mid(3), QStringList({results[1], frames[0]}));
        child<QLineEdit>(&dropped, "namePattern")->setText("output****.png");
        QVERIFY(drop(dropped, {file("frames")}));
        QCOMPARE(choice(dropped).mid(3), frames + results);
    }

    // In either language, with or without the option rows, the window cuts no widget short: neither at
    // the size it has when the language or the rows change, nor at its smallest. Qt's own choosers
    // follow the language, back to English too.
    void eitherLanguage()
    {
        // The name of a widget smaller than it needs (or squeezed to nothing), if there is one.
        const auto cutWidget = [&] {
            QApplication::processEvents();
            for (QWidget *w : window->findChildren<QWidget *>(QRegularExpression("^(?!qt_).")))
                if (w->isVisible() && (!w->height() || !(w->size() - w->minimumSizeHint()).isValid()))
                    return w->objectName();
            return QString();
        };
        // "Look in" and the buttons of a chooser.
        const auto chooser = [&](const char *button) {
            QStringList seen;
            clickChooser(*get<QAbstractButton>(button), [&](QFileDialog *dialog) {
                seen << dialog->findChild<QLabel *>("lookInLabel")->text();
                for (QAbstractButton *b : dialog->findChild<QDialogButtonBox *>("buttonBox")->buttons())
                    seen << b->text();
            });
            return seen.join('|');
        };
        for (int rows : {3, 0})
            for (int language : {1, 0}) {
                set({{"condition", rows ? 2 : 0}, {"fadeMethod", rows}, {"language", language}});
                QCOMPARE(cutWidget(), QString());
                window->resize(1, 1);
                QCOMPARE(cutWidget(), QString());
                QCOMPARE(chooser("sourceImagesButton") + '|' + chooser("destinationFolderButton"),
                         language ? "Szukaj w:|&Otwórz|Anuluj|Szukaj w:|&Wybierz|Anuluj"
                                  : "Look in:|&Open|Cancel|Look in:|&Choose|Cancel");
            }
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
