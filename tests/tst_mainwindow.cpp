// The main window without running jobs: start-up state, settings rows, destination names,
// Begin's refusals and the language switch. Widgets are reached by object name.

#include "destinationdialog.h"
#include "executethread.h"
#include "mainwindow.h"
#include "selectimagesbutton.h"
#include "windowtesthelpers.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMap>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStatusBar>
#include <QToolBar>
#include <QTimer>
#include <QtTest>

namespace {

QStringList itemTexts(const QComboBox *box)
{
    QStringList texts;
    for (int i = 0; i < box->count(); ++i)
        texts << box->itemText(i);
    return texts;
}

QStringList itemTexts(const QListWidget *list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->item(i)->text();
    return texts;
}

// Every text, value and visibility of a widget tree, keyed by object name.
QMap<QString, QString> snapshot(const QWidget *root)
{
    QMap<QString, QString> state;
    state.insert(root->objectName() + QStringLiteral(":title"), root->windowTitle());
    const QList<QWidget *> widgets = root->findChildren<QWidget *>();
    for (const QWidget *widget : widgets) {
        if (widget->objectName().isEmpty() || widget->objectName().startsWith(QLatin1String("qt_")))
            continue;
        const QString key = widget->objectName();
        QString value = widget->isHidden() ? QStringLiteral("hidden|") : QStringLiteral("shown|");
        value += widget->isEnabled() ? QStringLiteral("enabled|") : QStringLiteral("disabled|");
        if (auto *label = qobject_cast<const QLabel *>(widget))
            value += label->text();
        else if (auto *button = qobject_cast<const QAbstractButton *>(widget))
            value += button->text() + (button->isChecked() ? QStringLiteral("|checked") : QString());
        else if (auto *group = qobject_cast<const QGroupBox *>(widget))
            value += group->title();
        else if (auto *combo = qobject_cast<const QComboBox *>(widget))
            value += QString::number(combo->currentIndex()) + QLatin1Char('|') + itemTexts(combo).join(QLatin1Char('|'));
        else if (auto *spin = qobject_cast<const QSpinBox *>(widget))
            value += QString::number(spin->value()) + spin->suffix();
        else if (auto *list = qobject_cast<const QListWidget *>(widget))
            value += itemTexts(list).join(QLatin1Char('|'));
        else if (auto *edit = qobject_cast<const QLineEdit *>(widget))
            value += edit->text();
        else if (auto *bar = qobject_cast<const QProgressBar *>(widget))
            value += QString::number(bar->value());
        state.insert(key, value);
    }
    return state;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void startState();
    void optionRowsFollowConditionAndFade();
    void meanHoldsNoFading();
    void destinationNames();
    void newSourceFolderReachesListBeforeNewSources();
    void beginRefusesEmptyJobs();
    void languageRoundTrip();

private:
    template <typename T>
    T *child(const char *name) const
    {
        T *widget = window->findChild<T *>(QLatin1String(name));
        if (!widget)
            qFatal("no widget %s", name);
        return widget;
    }
    template <typename T>
    T *dialogChild(const char *name) const
    {
        T *widget = dialog()->findChild<T *>(QLatin1String(name));
        if (!widget)
            qFatal("no dialog widget %s", name);
        return widget;
    }
    DestinationDialog *dialog() const { return window->findChild<DestinationDialog *>(); }
    // What the source chooser sends after a choice: the new folder (when it changed), the files,
    // their number.
    void chooseSources(const QString &folder, const QStringList &files, bool folderChanged = true)
    {
        auto *button = child<SelectImagesButton>("sourceImagesButton");
        if (folderChanged)
            emit button->pathChanged(folder);
        emit button->selected(files);
        emit button->inputCountChanged(files.size());
    }
    static QStringList files(const QString &folder, int count)
    {
        QStringList list;
        for (int i = 0; i < count; ++i)
            list << QStringLiteral("%1/frame%2.png").arg(folder).arg(i);
        return list;
    }
    void setPattern(const QString &pattern) { dialogChild<QLineEdit>("namePattern")->setText(pattern); }
    void setFolder(const QString &folder) { dialogChild<QLineEdit>("destinationFolder")->setText(folder); }
    QStringList destinations() const { return itemTexts(child<QListWidget>("destinationImages")); }
    QString destinationCount() const { return child<QLabel>("destinationImagesCount")->text(); }

    MainWindow *window = nullptr;
};

void TestMainWindow::init()
{
    window = new MainWindow;
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
}

void TestMainWindow::cleanup()
{
    delete window;
    window = nullptr;
}

void TestMainWindow::startState()
{
    QCOMPARE(window->windowTitle(), QStringLiteral("Velumen"));
    QCOMPARE(window->size(), QSize(800, 720));
    QVERIFY(window->menuWidget() == nullptr);
    QVERIFY(window->findChild<QStatusBar *>() == nullptr);
    QVERIFY(window->findChild<QToolBar *>() == nullptr);

    auto *language = child<QComboBox>("language");
    QCOMPARE(itemTexts(language), QStringList({"English", "Polski"}));
    QCOMPARE(language->currentIndex(), 0);
    QCOMPARE(child<QGroupBox>("languageGroupBox")->title(), QStringLiteral("Language"));

    auto *condition = child<QComboBox>("condition");
    QCOMPARE(itemTexts(condition), QStringList({"All images", "All previous images", "Groups of images",
                                                "Groups of images (loop)", "Disjoint groups of images"}));
    QCOMPARE(condition->currentIndex(), 0);
    auto *stackMethod = child<QComboBox>("stackMethod");
    QCOMPARE(itemTexts(stackMethod), QStringList({"Lighten only", "Darken only", "Mean"}));
    QCOMPARE(stackMethod->currentIndex(), 0);
    auto *fadeMethod = child<QComboBox>("fadeMethod");
    QCOMPARE(itemTexts(fadeMethod), QStringList({"No fading", "Fade in", "Fade out", "Fade in and out"}));
    QCOMPARE(fadeMethod->currentIndex(), 0);
    QVERIFY(fadeMethod->isEnabled());

    for (const char *name : {"conditionOption1", "conditionOption2", "fadeMethodOption1", "fadeMethodOption2"}) {
        QVERIFY2(!child<QSpinBox>(name)->isVisible(), name);
        const QByteArray label = QByteArray(name) + "Label";
        QVERIFY2(!child<QLabel>(label.constData())->isVisible(), label.constData());
        QVERIFY(child<QLabel>(label.constData())->text().isEmpty());
    }
    for (const char *name : {"detailsLabel", "conditionHelp", "stackMethodHelp", "fadeMethodHelp"})
        QVERIFY2(!child<QLabel>(name)->isVisible(), name);

    // Ranges and suffixes of the option spin boxes.
    for (const char *name : {"conditionOption1", "conditionOption2"}) {
        auto *spin = child<QSpinBox>(name);
        QCOMPARE(spin->minimum(), 1);
        QCOMPARE(spin->maximum(), 9999);
        QCOMPARE(spin->value(), 1);
    }
    for (const char *name : {"fadeMethodOption1", "fadeMethodOption2"}) {
        auto *spin = child<QSpinBox>(name);
        QCOMPARE(spin->minimum(), 0);
        QCOMPARE(spin->maximum(), 100);
        QCOMPARE(spin->value(), 50);
        QCOMPARE(spin->suffix(), QStringLiteral("%"));
    }

    QCOMPARE(child<QLabel>("sourceImagesCount")->text(), QStringLiteral("0"));
    QCOMPARE(destinationCount(), QStringLiteral("0"));
    QVERIFY(destinations().isEmpty());
    QCOMPARE(child<QLabel>("sourceImagesCountLabel")->text(), QStringLiteral("Number of source images:"));
    QCOMPARE(child<QLabel>("destinationImagesCountLabel")->text(), QStringLiteral("Number of destination images:"));
    QCOMPARE(child<QPushButton>("sourceImagesButton")->text(), QStringLiteral("Choose..."));
    QCOMPARE(child<QPushButton>("destinationImagesButton")->text(), QStringLiteral("Choose..."));

    auto *begin = child<QPushButton>("executeButton");
    QVERIFY(begin->isEnabled());
    QCOMPARE(begin->text(), QStringLiteral("Begin"));
    QVERIFY(begin->font().bold());
    auto *cancel = child<QPushButton>("cancelButton");
    QVERIFY(!cancel->isEnabled());
    QCOMPARE(cancel->text(), QStringLiteral("Cancel"));
    auto *bar = child<QProgressBar>("progressBar");
    QCOMPARE(bar->value(), 0);
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 100);
    auto *open = child<QCheckBox>("openDestinationFolder");
    QVERIFY(open->isChecked());
    QCOMPARE(open->text(), QStringLiteral("Open destination folder after finishing"));

    // The dialog starts hidden, already in English, and opens without blocking the window.
    DestinationDialog *destination = dialog();
    QVERIFY(destination);
    QVERIFY(!destination->isVisible());
    QCOMPARE(itemTexts(dialogChild<QComboBox>("fileType")),
             QStringList({"JPG", "PNG", "8 bits/channel", "16 bits/channel"}));
    QCOMPARE(destination->windowTitle(), QStringLiteral("Name and format of destination images"));
    QCOMPARE(destination->destinationFolder(), QDir::homePath());
    child<QPushButton>("destinationImagesButton")->click();
    QVERIFY(destination->isVisible());
    QVERIFY(!destination->isModal());
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    QVERIFY(child<QPushButton>("executeButton")->isEnabled());
}

void TestMainWindow::optionRowsFollowConditionAndFade()
{
    auto *condition = child<QComboBox>("condition");
    auto *option1 = child<QSpinBox>("conditionOption1");
    auto *option2 = child<QSpinBox>("conditionOption2");
    auto *label1 = child<QLabel>("conditionOption1Label");
    auto *label2 = child<QLabel>("conditionOption2Label");

    struct Rows { bool shown1; QString text1; bool shown2; QString text2; };
    const QList<Rows> expected = {
        {false, QString(), false, QString()},
        {false, QString(), false, QString()},
        {true, "Number of images per group", true, "Step between groups"},
        {true, "Number of images per group", true, "Step between groups"},
        {true, "Number of groups", false, QString()},
    };
    for (int index = 0; index < expected.size(); ++index) {
        condition->setCurrentIndex(index);
        const Rows &rows = expected.at(index);
        QCOMPARE(option1->isVisible(), rows.shown1);
        QCOMPARE(label1->isVisible(), rows.shown1);
        QCOMPARE(label1->text(), rows.text1);
        QCOMPARE(option2->isVisible(), rows.shown2);
        QCOMPARE(label2->isVisible(), rows.shown2);
        QCOMPARE(label2->text(), rows.text2);
    }

    // Hidden rows keep their values for the next time, and the hidden value still counts.
    condition->setCurrentIndex(2);
    option1->setValue(7);
    option2->setValue(3);
    condition->setCurrentIndex(0);
    QCOMPARE(option1->value(), 7);
    QCOMPARE(option2->value(), 3);
    QVERIFY(label1->text().isEmpty());
    condition->setCurrentIndex(2);
    QCOMPARE(option1->value(), 7);
    QCOMPARE(label1->text(), QStringLiteral("Number of images per group"));
    chooseSources("/photos", files("/photos", 13));
    QCOMPARE(destinationCount(), QStringLiteral("3")); // (13 - 7) / 3 + 1
    condition->setCurrentIndex(4);                        // 7 groups of 13 images
    QCOMPARE(destinationCount(), QStringLiteral("7"));
    QVERIFY(!option2->isVisible());

    auto *fadeMethod = child<QComboBox>("fadeMethod");
    auto *fade1 = child<QSpinBox>("fadeMethodOption1");
    auto *fade2 = child<QSpinBox>("fadeMethodOption2");
    auto *fadeLabel1 = child<QLabel>("fadeMethodOption1Label");
    auto *fadeLabel2 = child<QLabel>("fadeMethodOption2Label");
    const QList<Rows> fadeExpected = {
        {false, QString(), false, QString()},
        {true, "Percentage of initial images", false, QString()},
        {true, "Percentage of final images", false, QString()},
        {true, "Percentage of initial images", true, "Percentage of final images"},
    };
    for (int index = 0; index < fadeExpected.size(); ++index) {
        fadeMethod->setCurrentIndex(index);
        const Rows &rows = fadeExpected.at(index);
        QCOMPARE(fade1->isVisible(), rows.shown1);
        QCOMPARE(fadeLabel1->isVisible(), rows.shown1);
        QCOMPARE(fadeLabel1->text(), rows.text1);
        QCOMPARE(fade2->isVisible(), rows.shown2);
        QCOMPARE(fadeLabel2->isVisible(), rows.shown2);
        QCOMPARE(fadeLabel2->text(), rows.text2);
    }
    // The help icons stay hidden whatever is chosen.
    for (const char *name : {"conditionHelp", "stackMethodHelp", "fadeMethodHelp"})
        QVERIFY2(!child<QLabel>(name)->isVisible(), name);
}

void TestMainWindow::meanHoldsNoFading()
{
    chooseSources("/photos", files("/photos", 4));
    child<QComboBox>("condition")->setCurrentIndex(1);
    const QStringList before = destinations();
    QCOMPARE(before.size(), 4);

    auto *stackMethod = child<QComboBox>("stackMethod");
    auto *fadeMethod = child<QComboBox>("fadeMethod");
    fadeMethod->setCurrentIndex(3);
    child<QSpinBox>("fadeMethodOption1")->setValue(20);
    QVERIFY(child<QSpinBox>("fadeMethodOption2")->isVisible());

    stackMethod->setCurrentIndex(2);
    QCOMPARE(fadeMethod->currentIndex(), 0);
    QVERIFY(!fadeMethod->isEnabled());
    QVERIFY(!child<QSpinBox>("fadeMethodOption1")->isVisible());
    QVERIFY(!child<QSpinBox>("fadeMethodOption2")->isVisible());
    QVERIFY(child<QLabel>("fadeMethodOption1Label")->text().isEmpty());

    stackMethod->setCurrentIndex(1);
    QVERIFY(fadeMethod->isEnabled());
    QCOMPARE(fadeMethod->currentIndex(), 0); // the earlier fade is not brought back
    stackMethod->setCurrentIndex(0);
    QVERIFY(fadeMethod->isEnabled());

    // Stack method, fade and file type leave the list as it was.
    fadeMethod->setCurrentIndex(1);
    child<QSpinBox>("fadeMethodOption1")->setValue(70);
    QCOMPARE(destinations(), before);
}

void TestMainWindow::destinationNames()
{
    setFolder("/out");
    QVERIFY(destinations().isEmpty());
    for (int condition = 0; condition < 5; ++condition) {
        child<QComboBox>("condition")->setCurrentIndex(condition);
        QCOMPARE(destinationCount(), QStringLiteral("0"));
    }

    chooseSources("/photos", files("/photos", 12), false);
    child<QComboBox>("condition")->setCurrentIndex(1);
    QCOMPARE(destinationCount(), QStringLiteral("12"));
    QStringList names = destinations();
    QCOMPARE(names.size(), 12);
    QCOMPARE(names.first(), QStringLiteral("/out/output0000.jpg"));
    QCOMPARE(names.at(11), QStringLiteral("/out/output0011.jpg"));

    // Every run of '*' gets the same number, each padded to its own length; a number longer than
    // its run is written in full.
    setPattern("a*b**c");
    QCOMPARE(destinations().at(7), QStringLiteral("/out/a7b07c"));
    QCOMPARE(destinations().at(11), QStringLiteral("/out/a11b11c"));
    setPattern("IMG_**_***.tif");
    QCOMPARE(destinations().at(3), QStringLiteral("/out/IMG_03_003.tif"));
    setPattern("***");
    QCOMPARE(destinations().at(5), QStringLiteral("/out/005"));

    setPattern("night.png");
    QCOMPARE(destinations(), QStringList(QVector<QString>(12, QStringLiteral("/out/night.png")).toList()));
    setPattern(QString());
    QCOMPARE(destinations(), QStringList(QVector<QString>(12, QStringLiteral("/out/")).toList()));

    // The folder is used unchanged, so a trailing '/' doubles.
    setPattern("output****.jpg");
    setFolder("/out/");
    QCOMPARE(destinations().first(), QStringLiteral("/out//output0000.jpg"));

    // A '%' with a digit in the folder or the pattern stays literal.
    setFolder("/out/50%2 done");
    setPattern("x%1_**");
    QCOMPARE(destinations().at(3), QStringLiteral("/out/50%2 done/x%1_03"));

    // The file type rewrites the extension through the pattern.
    setFolder("/out");
    setPattern("output****.jpg");
    dialogChild<QComboBox>("fileType")->setCurrentIndex(1);
    QCOMPARE(destinations().first(), QStringLiteral("/out/output0000.png"));
    dialogChild<QComboBox>("fileType")->setCurrentIndex(3);
    QCOMPARE(destinations().first(), QStringLiteral("/out/output0000.tif"));
    QCOMPARE(destinationCount(), QStringLiteral("12"));
}

void TestMainWindow::newSourceFolderReachesListBeforeNewSources()
{
    child<QComboBox>("condition")->setCurrentIndex(1);
    chooseSources("/first", files("/first", 3));
    QCOMPARE(dialog()->destinationFolder(), QStringLiteral("/first"));
    QCOMPARE(destinations(), QStringList({"/first/output0000.jpg", "/first/output0001.jpg", "/first/output0002.jpg"}));

    // Record each rebuild of the list as it happens.
    QList<QStringList> rebuilds;
    QObject context;
    connect(child<SelectImagesButton>("sourceImagesButton"), &SelectImagesButton::inputCountChanged, &context,
            [&] { rebuilds << destinations(); });
    connect(dialog(), &DestinationDialog::destinationFolderChanged, &context, [&] { rebuilds << destinations(); });

    chooseSources("/second", files("/second", 5));
    QCOMPARE(rebuilds.size(), 2);
    // First the folder moved, with the old number of images; then the new list arrived.
    QCOMPARE(rebuilds.at(0), QStringList({"/second/output0000.jpg", "/second/output0001.jpg", "/second/output0002.jpg"}));
    QCOMPARE(rebuilds.at(1).size(), 5);
    QCOMPARE(rebuilds.at(1).last(), QStringLiteral("/second/output0004.jpg"));
    QCOMPARE(child<QListWidget>("sourceImages")->count(), 5);
    QCOMPARE(child<QLabel>("sourceImagesCount")->text(), QStringLiteral("5"));

    // A folder typed in the dialog stays when the next choice comes from the same folder.
    setFolder("/elsewhere");
    chooseSources("/second", files("/second", 2), false);
    QCOMPARE(destinations(), QStringList({"/elsewhere/output0000.jpg", "/elsewhere/output0001.jpg"}));
}

void TestMainWindow::beginRefusesEmptyJobs()
{
    auto *executeThread = window->findChild<ExecuteThread *>();
    QVERIFY(executeThread);
    QSignalSpy started(executeThread, &QThread::started);
    auto *begin = child<QPushButton>("executeButton");
    const QMap<QString, QString> before = snapshot(window);

    BoxCatcher catcher;
    catcher.arm();
    begin->click();
    QCOMPARE(catcher.boxesSeen, 1);
    QCOMPARE(catcher.title, QStringLiteral("Error"));
    QCOMPARE(catcher.text, QStringLiteral("No source images loaded."));
    QCOMPARE(catcher.buttonCount, 1);
    QCOMPARE(snapshot(window), before);

    // More images per group than sources: nothing to save.
    chooseSources("/photos", files("/photos", 3));
    child<QComboBox>("condition")->setCurrentIndex(2);
    child<QSpinBox>("conditionOption1")->setValue(5);
    QCOMPARE(destinationCount(), QStringLiteral("0"));
    catcher.arm();
    begin->click();
    QCOMPARE(catcher.boxesSeen, 2);
    QCOMPARE(catcher.title, QStringLiteral("Error"));
    QCOMPARE(catcher.text, QStringLiteral("No images to be saved."));

    // The boxes speak the current language.
    child<QComboBox>("language")->setCurrentIndex(1);
    catcher.arm();
    begin->click();
    QCOMPARE(catcher.boxesSeen, 3);
    QCOMPARE(catcher.title, QStringLiteral("Błąd"));
    QCOMPARE(catcher.text, QStringLiteral("Nie ma obrazów do zapisania."));

    QVERIFY(begin->isEnabled());
    QVERIFY(!child<QPushButton>("cancelButton")->isEnabled());
    QCOMPARE(child<QProgressBar>("progressBar")->value(), 0);
    QTest::qWait(50);
    QCOMPARE(started.count(), 0);
}

void TestMainWindow::languageRoundTrip()
{
    auto *language = child<QComboBox>("language");
    const QMap<QString, QString> fresh = snapshot(window);
    const QMap<QString, QString> freshDialog = snapshot(dialog());
    language->setCurrentIndex(1);
    QVERIFY(snapshot(window) != fresh);
    language->setCurrentIndex(0);
    QCOMPARE(snapshot(window), fresh);
    QCOMPARE(snapshot(dialog()), freshDialog);

    // A job set up in every widget, with the dialog open.
    chooseSources("/photos", files("/photos", 9));
    child<QComboBox>("condition")->setCurrentIndex(3);
    child<QSpinBox>("conditionOption1")->setValue(4);
    child<QSpinBox>("conditionOption2")->setValue(2);
    child<QComboBox>("stackMethod")->setCurrentIndex(1);
    child<QComboBox>("fadeMethod")->setCurrentIndex(3);
    child<QSpinBox>("fadeMethodOption1")->setValue(30);
    child<QSpinBox>("fadeMethodOption2")->setValue(40);
    dialogChild<QComboBox>("fileType")->setCurrentIndex(2);
    dialogChild<QSpinBox>("compression")->setValue(77);
    child<QPushButton>("destinationImagesButton")->click();
    QVERIFY(dialog()->isVisible());
    const QMap<QString, QString> english = snapshot(window);
    const QMap<QString, QString> englishDialog = snapshot(dialog());

    language->setCurrentIndex(1);
    QCOMPARE(window->windowTitle(), QStringLiteral("Velumen"));
    QCOMPARE(child<QPushButton>("executeButton")->text(), QStringLiteral("Rozpocznij"));
    QCOMPARE(child<QLabel>("conditionOption1Label")->text(), QStringLiteral("Liczba obrazów na grupę"));
    QCOMPARE(child<QLabel>("conditionOption2Label")->text(), QStringLiteral("Krok pomiędzy grupami"));
    QCOMPARE(child<QLabel>("fadeMethodOption1Label")->text(), QStringLiteral("Procent początkowych obrazów"));
    QCOMPARE(child<QLabel>("fadeMethodOption2Label")->text(), QStringLiteral("Procent końcowych obrazów"));
    QCOMPARE(child<QComboBox>("condition")->itemText(3), QStringLiteral("Grupy obrazów (pętla)"));
    QCOMPARE(child<QGroupBox>("sourceImagesGroupBox")->title(), QStringLiteral("Obrazy źródłowe"));
    // The open dialog changes at once.
    QVERIFY(dialog()->isVisible());
    QCOMPARE(dialog()->windowTitle(), QStringLiteral("Nazwa i format obrazów docelowych"));
    QCOMPARE(itemTexts(dialogChild<QComboBox>("fileType")),
             QStringList({"JPG", "PNG", "8 bitów/kanał", "16 bitów/kanał"}));
    QCOMPARE(itemTexts(language), QStringList({"English", "Polski"}));

    // Only texts changed: every index, value and list is as before.
    const QMap<QString, QString> polish = snapshot(window);
    for (const char *name : {"condition", "stackMethod", "fadeMethod", "conditionOption1", "conditionOption2",
                             "fadeMethodOption1", "fadeMethodOption2", "sourceImages", "destinationImages",
                             "sourceImagesCount", "destinationImagesCount"}) {
        const QString key = QLatin1String(name);
        if (qobject_cast<QComboBox *>(window->findChild<QWidget *>(key)))
            QCOMPARE(polish.value(key).section('|', 2, 2), english.value(key).section('|', 2, 2));
        else
            QCOMPARE(polish.value(key), english.value(key));
    }
    QCOMPARE(dialogChild<QComboBox>("fileType")->currentIndex(), 2);
    QCOMPARE(dialogChild<QSpinBox>("compression")->value(), 77);

    // Disjoint groups in Polish: one row, text 28; Mean stays without fading across a switch.
    child<QComboBox>("condition")->setCurrentIndex(4);
    QCOMPARE(child<QLabel>("conditionOption1Label")->text(), QStringLiteral("Liczba grup"));
    QVERIFY(child<QLabel>("conditionOption2Label")->text().isEmpty());
    QVERIFY(!child<QSpinBox>("conditionOption2")->isVisible());
    child<QComboBox>("condition")->setCurrentIndex(3);

    language->setCurrentIndex(0);
    QCOMPARE(snapshot(window), english);
    QCOMPARE(snapshot(dialog()), englishDialog);

    child<QComboBox>("stackMethod")->setCurrentIndex(2);
    language->setCurrentIndex(1);
    QCOMPARE(child<QComboBox>("fadeMethod")->currentIndex(), 0);
    QVERIFY(!child<QComboBox>("fadeMethod")->isEnabled());
    language->setCurrentIndex(0);
    QCOMPARE(child<QComboBox>("fadeMethod")->currentIndex(), 0);
    QVERIFY(!child<QComboBox>("fadeMethod")->isEnabled());
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
