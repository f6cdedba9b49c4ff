// The main window without running jobs: start-up state, settings rows, destination names, Begin's
// refusals and the language switch.

#include "destinationdialog.h"
#include "languagetext.h"
#include "testtools.h"
#include "windowtesthelpers.h"

#include <QtTest>

namespace {

QStringList items(const QAbstractItemModel *model)
{
    QStringList texts;
    for (int row = 0; row < model->rowCount(); ++row)
        texts << model->index(row, 0).data().toString();
    return texts;
}

// Every named widget as "shown|enabled|<checked, index, value, suffix, minimum, maximum, list items>|
// <window title, title, text, combo items>" (empty parts left out), so that whole windows compare at
// once. Without the texts it holds what a language switch must keep.
QMap<QString, QString> snapshot(const QWidget *root, bool withTexts = true)
{
    QMap<QString, QString> state{{QStringLiteral(":title"), withTexts ? root->windowTitle() : QString()}};
    const QList<QWidget *> widgets = root->findChildren<QWidget *>(QRegularExpression(QStringLiteral("^(?!qt_).")));
    for (const QWidget *w : widgets) {
        QStringList values{w->isHidden() ? "hidden" : "shown", w->isEnabled() ? "enabled" : "disabled"}, texts;
        for (const char *name : {"checked", "currentIndex", "value", "suffix", "minimum", "maximum"})
            values << w->property(name).toString();
        texts << (w->isWindow() ? w->windowTitle() : QString()) << w->property("title").toString()
              << w->property("text").toString();
        if (auto *view = qobject_cast<const QAbstractItemView *>(w))
            values << items(view->model());
        if (auto *combo = qobject_cast<const QComboBox *>(w))
            texts << items(combo->model());
        values.removeAll(QString());
        texts.removeAll(QString());
        state.insert(w->objectName(), (withTexts ? values + texts : values).join(QLatin1Char('|')));
    }
    return state;
}

} // namespace

class TestMainWindow : public QObject, WindowFixture
{
    Q_OBJECT

    DestinationDialog *dialog() const { return window->findChild<DestinationDialog *>(); }
    QStringList destinations() const { return items(get<QListWidget>("destinationImages")->model()); }
    QStringList choose(const QString &folder, int count, bool newFolder = true)
    {
        QStringList files;
        for (int i = 0; i < count; ++i)
            files << QStringLiteral("%1/frame%2.png").arg(folder).arg(i);
        chooseSources(folder, files, newFolder);
        return files;
    }
    // The labels of an option pair, "label 1|label 2|"; a hidden box or label adds a "-".
    QString rows(const QByteArray &prefix) const
    {
        QString shown;
        for (const QByteArray &name : {prefix + "Option1", prefix + "Option2"}) {
            const QLabel *label = get<QLabel>(name + "Label");
            shown += QString(get<QSpinBox>(name)->isVisible() ? "" : "-") + (label->isVisible() ? "" : "-") + label->text() + '|';
        }
        return shown;
    }

private slots:
    void init() { newWindow(); }

    void startState()
    {
        QCOMPARE(window->size(), QSize(800, 720));
        QVERIFY(!window->menuWidget() && !window->findChild<QStatusBar *>() && !window->findChild<QToolBar *>());
        QCOMPARE(dialog()->destinationFolder(), QDir::homePath());
        const QMap<QString, QString> state = snapshot(window.get()), expected = {
            {":title", "Velumen"}, {"language", "shown|enabled|0|English|Polski"}, {"condition", "shown|enabled|0|All "
             "images|All previous images|Groups of images|Groups of images (loop)|Disjoint groups of images"},
            {"stackMethod", "shown|enabled|0|Lighten only|Darken only|Mean"}, {"sourceImagesCount", "shown|enabled|0"},
            {"fadeMethod", "shown|enabled|0|No fading|Fade in|Fade out|Fade in and out"},
            {"conditionOption1", "hidden|enabled|1|1|9999|1"}, {"conditionOption2", "hidden|enabled|1|1|9999|1"},
            {"fadeMethodOption1", "hidden|enabled|50|%|0|100|50%"}, {"fadeMethodOption2", "hidden|enabled|50|%|0|100|50%"},
            {"progressBar", "shown|enabled|0|0|100|0%"}, {"languageGroupBox", "shown|enabled|false|Language"},
            {"sourceImagesCountLabel", "shown|enabled|Number of source images:"}, {"cancelButton", "shown|disabled|false|Cancel"},
            {"destinationImagesCountLabel", "shown|enabled|Number of destination images:"},
            {"sourceImagesButton", "shown|enabled|false|Choose..."}, {"destinationImagesButton", "shown|enabled|false|Choose..."},
            {"executeButton", "shown|enabled|false|Begin"}, {"fileType", "shown|enabled|0|JPG|PNG|8 bits/channel|16 bits/channel"},
            {"openDestinationFolder", "shown|enabled|true|Open destination folder after finishing"},
            {"DestinationDialog", "hidden|enabled|Name and format of destination images"}};
        for (auto it = expected.begin(); it != expected.end(); ++it)
            QVERIFY2(state.value(it.key()) == it.value(), qPrintable(it.key() + ": " + state.value(it.key())));
        // The dialog opens without blocking the window.
        click("destinationImagesButton");
        QVERIFY(dialog()->isVisible() && !dialog()->isModal() && !QApplication::activeModalWidget());
    }

    void optionRowsAndMean()
    {
        // Values set in hidden rows are kept through every change of the rows; no sources, no destinations.
        get<QSpinBox>("conditionOption1")->setValue(7);
        get<QSpinBox>("conditionOption2")->setValue(3);
        const QString hidden = QStringLiteral("--|--|"), group("Number of images per group|Step between groups|");
        const QStringList conditionRows = {hidden, hidden, group, group, "Number of groups|--|"};
        for (int i : {2, 0, 4, 1, 3, 0}) {
            get("condition")->setCurrentIndex(i);
            QCOMPARE(rows("condition") + get<QLabel>("destinationImagesCount")->text() + destinations().join(""),
                     conditionRows[i] + "0");
        }
        const QStringList fadeRows = {hidden, "Percentage of initial images|--|", "Percentage of final images|--|",
                                      "Percentage of initial images|Percentage of final images|"};
        for (int i : {3, 0, 1, 2, 0}) {
            get("fadeMethod")->setCurrentIndex(i);
            QCOMPARE(rows("fadeMethod"), fadeRows[i]);
        }
        choose("/photos", 13);
        get("condition")->setCurrentIndex(2);
        QCOMPARE(destinations().size(), 3); // (13 - 7) / 3 + 1
        for (const char *name : {"detailsLabel", "conditionHelp", "stackMethodHelp", "fadeMethodHelp"})
            QVERIFY2(!get<QLabel>(name)->isVisible(), name);

        // Mean forces "No fading" and holds it, across a language switch too; leaving Mean does not
        // bring the earlier fade back.
        const QStringList before = destinations();
        for (int other : {1, 0}) {
            get("fadeMethod")->setCurrentIndex(3);
            get("stackMethod")->setCurrentIndex(2);
            get("language")->setCurrentIndex(other);
            QVERIFY(get("fadeMethod")->currentIndex() == 0 && !get("fadeMethod")->isEnabled() && rows("fadeMethod") == hidden);
            get("stackMethod")->setCurrentIndex(other);
            QVERIFY(get("fadeMethod")->currentIndex() == 0 && get("fadeMethod")->isEnabled());
        }
        // Stack method, fade and fade percentages leave the list as it was.
        get("fadeMethod")->setCurrentIndex(1);
        get<QSpinBox>("fadeMethodOption1")->setValue(70);
        QCOMPARE(destinations(), before);
    }

    void destinationList()
    {
        get("condition")->setCurrentIndex(1);
        choose("/first", 3);
        // Sources from another folder: the folder reaches the list first, with the old number of images.
        QString atFolderChange;
        QObject context;
        connect(dialog(), &DestinationDialog::destinationFolderChanged, &context,
                [&] { atFolderChange = destinations().join(QLatin1Char(' ')); });
        const QStringList second = choose("/second", 5);
        QCOMPARE(atFolderChange, QStringLiteral("/second/output0000.jpg /second/output0001.jpg /second/output0002.jpg"));
        QCOMPARE(destinations().last(), QStringLiteral("/second/output0004.jpg"));
        QVERIFY(items(get<QListWidget>("sourceImages")->model()) == second && get<QLabel>("sourceImagesCount")->text() == "5");
        // A folder typed in the dialog stays when the next choice comes from the same folder.
        get<QLineEdit>("destinationFolder")->setText("/out");
        choose("/second", 12, false);
        QCOMPARE(destinations().first(), QStringLiteral("/out/output0000.jpg"));

        // Each run of '*' gets the number padded to its own length, a longer number is written in
        // full, the folder is used unchanged and '%' stays literal.
        const struct { const char *folder, *pattern; int index; const char *name; } cases[] = {
            {"/out", "output****.jpg", 11, "/out/output0011.jpg"}, {"/out", "a*b**c", 7, "/out/a7b07c"},
            {"/out", "a*b**c", 11, "/out/a11b11c"}, {"/out", "IMG_**_***.tif", 3, "/out/IMG_03_003.tif"},
            {"/out", "***", 5, "/out/005"}, {"/out", "night.png", 5, "/out/night.png"}, {"/out", "", 5, "/out/"},
            {"/out/", "output****.jpg", 0, "/out//output0000.jpg"}, {"/50%2", "x%1_**", 3, "/50%2/x%1_03"}};
        for (const auto &c : cases) {
            get<QLineEdit>("destinationFolder")->setText(c.folder);
            get<QLineEdit>("namePattern")->setText(c.pattern);
            QCOMPARE(destinations().at(c.index), QString::fromUtf8(c.name));
            QCOMPARE(destinations().count(c.name), QString(c.pattern).contains('*') ? 1 : 12);
        }
    }

    // Each refusal in both languages, before anything is loaded, computed or written: no sources,
    // nothing to save, a missing destination folder, a destination that is a source under another name.
    void beginRefusals()
    {
        QTemporaryDir folder;
        const QString dir = QDir(folder.path()).canonicalPath(), among = dir + "/sub/../output0000.jpg";
        const QStringList sources{dir + "/frame0.png", dir + "/output0000.jpg"}; // a re-chosen folder holds an output
        for (const QString &file : sources)
            QVERIFY(TestTools::writeFile(file, "not touched"));
        QVERIFY(QDir(dir).mkdir("sub"));
        QSignalSpy started(worker(), &QThread::started);
        BoxCatcher catcher;
        QStringList expected("Error|No source images loaded.|1");
        click();
        chooseSources(dir, sources);
        for (int language : {0, 1}) {
            get("language")->setCurrentIndex(language);
            get("condition")->setCurrentIndex(2); // more images per group than sources
            get<QSpinBox>("conditionOption1")->setValue(5);
            click();
            get("condition")->setCurrentIndex(0);
            for (const char *folder : {"/missing", "/sub/.."}) {
                get<QLineEdit>("destinationFolder")->setText(dir + folder);
                click();
            }
            for (const QString &text : {languageText(34), languageText(51).arg(dir + "/missing"), languageText(52).arg(among)})
                expected << languageText(32) + '|' + text + "|1";
        }
        QCOMPARE(catcher.seen, expected);
        QTest::qWait(50);
        QVERIFY(started.count() == 0 && controls() == "Rozpocznij|1|0|0");
        QCOMPARE(QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList({"frame0.png", "output0000.jpg", "sub"}));
        for (const QString &file : sources)
            QCOMPARE(TestTools::readFile(file), QByteArray("not touched"));
    }

    void languageRoundTrip()
    {
        // A job set up in every widget, with the dialog open.
        choose("/photos", 9);
        const QList<QPair<const char *, int>> settings = {
            {"condition", 3}, {"conditionOption1", 4}, {"conditionOption2", 2}, {"stackMethod", 1}, {"fadeMethod", 3},
            {"fadeMethodOption1", 30}, {"fadeMethodOption2", 40}, {"fileType", 2}, {"compression", 77}};
        for (const auto &setting : settings) {
            QWidget *widget = get<QWidget>(setting.first);
            widget->setProperty(qobject_cast<QComboBox *>(widget) ? "currentIndex" : "value", setting.second);
        }
        click("destinationImagesButton");
        const QMap<QString, QString> english = snapshot(window.get());
        QStringList englishTexts;
        for (int id = 0; id < 53; ++id)
            englishTexts << languageText(id);
        // Only texts change: every index, value, list and visibility stays, and no English text is left.
        QMap<QString, QString> values = snapshot(window.get(), false);
        values[QStringLiteral("language")] = QStringLiteral("shown|enabled|1");
        get("language")->setCurrentIndex(1);
        QCOMPARE(snapshot(window.get(), false), values);
        const QStringList shown = QStringList(snapshot(window.get()).values()).join('|').split('|');
        for (const QString &text : englishTexts)
            QVERIFY2(!shown.contains(text), qPrintable(text));
        get("language")->setCurrentIndex(0);
        QCOMPARE(snapshot(window.get()), english);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
