#include "imagelistwidget.h"
#include "intlabel.h"
#include "languagetext.h"
#include "selectimagesbutton.h"
#include "thumbnailwidget.h"
#include "tipdialog.h"
#include "tiplabel.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>

namespace {

// Runs `act` on the modal file dialog as soon as it is open, from inside its event loop.
void whenFileDialogOpens(std::function<void(QFileDialog *)> act, int attempts = 200)
{
    QTimer::singleShot(10, [act, attempts]() {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (dialog && dialog->isVisible()) {
            act(dialog);
        } else if (attempts > 0) {
            whenFileDialogOpens(act, attempts - 1);
        }
    });
}

QString canonical(const QString &path)
{
    return QDir(path).canonicalPath();
}

// Writes a solid image of the given size; the format follows the suffix.
void writeImage(const QString &path, int width, int height, QColor colour = Qt::red)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    QVERIFY2(image.save(path), qPrintable(path));
}

// The box covered by pixels that are clearly not black.
QRect pictureBounds(const QImage &rendered)
{
    QRect bounds;
    for (int y = 0; y < rendered.height(); ++y)
        for (int x = 0; x < rendered.width(); ++x)
            if (qRed(rendered.pixel(x, y)) > 128)
                bounds |= QRect(x, y, 1, 1);
    return bounds;
}

QImage render(QWidget &widget)
{
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// What a black box with the given text centred in dark gray looks like.
QImage expectedTextBox(const QWidget &widget, const QString &text)
{
    QImage image(widget.size(), QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    painter.setFont(widget.font());
    painter.setPen(Qt::darkGray);
    painter.drawText(image.rect(), Qt::AlignCenter, text);
    painter.end();
    return image;
}

bool allBlack(const QImage &image)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if ((image.pixel(x, y) & 0xffffff) != 0)
                return false;
    return true;
}

} // namespace

class TestWidgets : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void intLabelAndImageList();
    void sourceChooserSignalsAndStartFolder();
    void sourceChooserTextsFollowLanguage();
    void previewStoredSize_data();
    void previewStoredSize();
    void previewKeepsPictureContent();
    void previewPlacement_data();
    void previewPlacement();
    void previewTextsAndUndecodableFile();
    void previewFollowsLatestChoice();
    void tipLabelWithoutTip();
    void tipLabelOpensModalHelp();

private:
    QTemporaryDir home;
    QTemporaryDir data;
};

void TestWidgets::initTestCase()
{
    QVERIFY(home.isValid());
    QVERIFY(data.isValid());
    // The choosers start in the home folder; point it somewhere known and disposable.
    qputenv("HOME", home.path().toLocal8Bit());
    QCOMPARE(canonical(QDir::homePath()), canonical(home.path()));
}

void TestWidgets::cleanup()
{
    setCurrentLanguage(0);
}

void TestWidgets::intLabelAndImageList()
{
    IntLabel label(nullptr);
    label.setValue(1234567);
    QCOMPARE(label.text(), QStringLiteral("1234567"));
    label.setValue(-42);
    QCOMPARE(label.text(), QStringLiteral("-42"));
    label.setValue(0);
    QCOMPARE(label.text(), QStringLiteral("0"));

    ImageListWidget list(nullptr);
    QSignalSpy current(&list, &QListWidget::currentTextChanged);
    const QStringList five = {"/p/e.jpg", "/p/a.jpg", "/p/d.jpg", "/p/b.jpg", "/p/c.jpg"};
    list.setFilenames(five);
    QCOMPARE(list.count(), 5);
    for (int i = 0; i < five.size(); ++i)
        QCOMPARE(list.item(i)->text(), five.at(i)); // chooser order, not sorted
    QCOMPARE(list.currentItem(), nullptr);

    list.setCurrentRow(2);
    QCOMPARE(current.takeLast().at(0).toString(), QStringLiteral("/p/d.jpg"));
    list.setFilenames({"/q/z.png", "/q/y.png", "/q/x.png"});
    QCOMPARE(list.count(), 3);
    QCOMPARE(list.item(0)->text(), QStringLiteral("/q/z.png"));
    // The old current entry is gone and the preview is told so.
    QVERIFY(!current.isEmpty());
    QCOMPARE(current.last().at(0).toString(), QString());
    QCOMPARE(list.currentItem(), nullptr);
}

void TestWidgets::sourceChooserSignalsAndStartFolder()
{
    const QString folderA = data.filePath("A");
    const QString folderB = data.filePath("B");
    QVERIFY(QDir().mkpath(folderA));
    QVERIFY(QDir().mkpath(folderB));
    for (const char *name : {"a1.png", "a2.png", "a3.jpg"})
        writeImage(folderA + "/" + name, 4, 4);
    for (const char *name : {"b1.png", "b2.tif"})
        writeImage(folderB + "/" + name, 4, 4);

    SelectImagesButton button(nullptr);
    QStringList log;
    connect(&button, &SelectImagesButton::pathChanged, [&](const QString &p) { log << "path " + canonical(p); });
    connect(&button, &SelectImagesButton::selected, [&](const QStringList &f) { log << "selected " + f.join('|'); });
    connect(&button, &SelectImagesButton::inputCountChanged, [&](int n) { log << "count " + QString::number(n); });

    QString startedIn;
    QStringList chosen;
    auto cancel = [&](QFileDialog *dialog) {
        startedIn = canonical(dialog->directory().absolutePath());
        dialog->reject();
    };
    auto choose = [&](const QString &folder, const QString &typed) {
        return [&, folder, typed](QFileDialog *dialog) {
            startedIn = canonical(dialog->directory().absolutePath());
            dialog->setDirectory(folder);
            dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(typed);
            chosen = dialog->selectedFiles();
            static_cast<QDialog *>(dialog)->accept();
        };
    };

    // The first chooser opens in the home folder; cancelling it emits nothing.
    whenFileDialogOpens(cancel);
    button.click();
    QCOMPARE(startedIn, canonical(home.path()));
    QVERIFY(log.isEmpty());
    QCOMPARE(button.path(), QDir::homePath());

    // A choice from a new folder: the folder first, then the files as returned, then the count.
    whenFileDialogOpens(choose(folderA, "\"a2.png\" \"a1.png\""));
    button.click();
    QCOMPARE(startedIn, canonical(home.path()));
    QCOMPARE(QSet<QString>(chosen.begin(), chosen.end()),
             QSet<QString>({folderA + "/a1.png", folderA + "/a2.png"}));
    QCOMPARE(log, QStringList({"path " + canonical(folderA), "selected " + chosen.join('|'), "count 2"}));
    log.clear();

    // The next chooser opens there; the same folder again announces no new folder.
    whenFileDialogOpens(choose(folderA, "\"a3.jpg\""));
    button.click();
    QCOMPARE(startedIn, canonical(folderA));
    QCOMPARE(chosen, QStringList({folderA + "/a3.jpg"}));
    QCOMPARE(log, QStringList({"selected " + chosen.join('|'), "count 1"}));
    log.clear();

    // Cancelling keeps the folder for the next time.
    whenFileDialogOpens(cancel);
    button.click();
    QCOMPARE(startedIn, canonical(folderA));
    QVERIFY(log.isEmpty());

    whenFileDialogOpens(choose(folderB, "\"b2.tif\" \"b1.png\""));
    button.click();
    QCOMPARE(startedIn, canonical(folderA));
    QCOMPARE(QSet<QString>(chosen.begin(), chosen.end()),
             QSet<QString>({folderB + "/b1.png", folderB + "/b2.tif"}));
    QCOMPARE(log, QStringList({"path " + canonical(folderB), "selected " + chosen.join('|'), "count 2"}));
    log.clear();

    whenFileDialogOpens(cancel);
    button.click();
    QCOMPARE(startedIn, canonical(folderB));
    QVERIFY(log.isEmpty());

    // Files from two folders (typed as full paths): only the first file's folder counts.
    whenFileDialogOpens(choose(folderB, "\"" + folderA + "/a1.png\" \"" + folderB + "/b1.png\""));
    button.click();
    QCOMPARE(chosen, QStringList({folderA + "/a1.png", folderB + "/b1.png"}));
    QCOMPARE(log, QStringList({"path " + canonical(folderA), "selected " + chosen.join('|'), "count 2"}));
    log.clear();
    whenFileDialogOpens(cancel);
    button.click();
    QCOMPARE(startedIn, canonical(folderA));
}

void TestWidgets::sourceChooserTextsFollowLanguage()
{
    SelectImagesButton button(nullptr);
    QString title;
    QStringList filters;
    QString selectedFilter;
    auto inspect = [&](QFileDialog *dialog) {
        title = dialog->windowTitle();
        filters = dialog->nameFilters();
        selectedFilter = dialog->selectedNameFilter();
        dialog->reject();
    };

    whenFileDialogOpens(inspect);
    button.click();
    QCOMPARE(title, QStringLiteral("Select files"));
    QCOMPARE(filters, QStringList({"Images (*.jpeg *.jpg *.png *.tif *.tiff)", "All files (*.*)"}));
    QCOMPARE(selectedFilter, filters.first());

    setCurrentLanguage(1);
    whenFileDialogOpens(inspect);
    button.click();
    QCOMPARE(title, QStringLiteral("Wybierz pliki"));
    QCOMPARE(filters, QStringList({"Obrazy (*.jpeg *.jpg *.png *.tif *.tiff)", "Wszystkie pliki (*.*)"}));
}

void TestWidgets::previewStoredSize_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QSize>("stored");

    QTest::newRow("large jpeg") << "big.jpg" << QSize(4000, 3000) << QSize(640, 480);
    QTest::newRow("large png") << "big.png" << QSize(4000, 3000) << QSize(640, 480);
    QTest::newRow("large tiff, portrait") << "tall.tif" << QSize(2000, 3000) << QSize(426, 640);
    QTest::newRow("640 square kept") << "square.png" << QSize(640, 640) << QSize(640, 640);
    QTest::newRow("thin png rounds down") << "thin.png" << QSize(641, 10) << QSize(640, 9);
    QTest::newRow("thin jpeg rounds down") << "thin.jpg" << QSize(641, 10) << QSize(640, 9);
    QTest::newRow("narrow jpeg") << "narrow.jpg" << QSize(10, 641) << QSize(9, 640);
    QTest::newRow("small kept") << "small.jpg" << QSize(500, 400) << QSize(500, 400);
}

void TestWidgets::previewStoredSize()
{
    QFETCH(QString, file);
    QFETCH(QSize, size);
    QFETCH(QSize, stored);

    const QString path = data.filePath(file);
    writeImage(path, size.width(), size.height());
    ThumbnailWidget preview(nullptr);
    QVERIFY(preview.previewImage().isNull());
    preview.changeImage(path);
    QCOMPARE(preview.previewImage().size(), stored);
}

void TestWidgets::previewKeepsPictureContent()
{
    // A photograph reduced while decoding must still be the same picture: left red, right blue,
    // a green band along the bottom.
    QImage photo(4000, 3000, QImage::Format_RGB32);
    photo.fill(Qt::red);
    QPainter painter(&photo);
    painter.fillRect(2000, 0, 2000, 3000, Qt::blue);
    painter.fillRect(0, 2500, 4000, 500, Qt::green);
    painter.end();
    for (const char *name : {"content.jpg", "content.png"}) {
        const QString path = data.filePath(name);
        QVERIFY(photo.save(path));
        ThumbnailWidget preview(nullptr);
        preview.changeImage(path);
        const QImage stored = preview.previewImage();
        QCOMPARE(stored.size(), QSize(640, 480));
        const auto near = [](QRgb pixel, QColor expected) {
            return qAbs(qRed(pixel) - expected.red()) < 40 && qAbs(qGreen(pixel) - expected.green()) < 40
                   && qAbs(qBlue(pixel) - expected.blue()) < 40;
        };
        QVERIFY2(near(stored.pixel(100, 100), Qt::red), qPrintable(name));
        QVERIFY2(near(stored.pixel(540, 100), Qt::blue), qPrintable(name));
        QVERIFY2(near(stored.pixel(320, 460), Qt::green), qPrintable(name));
    }
}

void TestWidgets::previewPlacement_data()
{
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<QSize>("widget");
    QTest::addColumn<QRect>("drawn");

    QTest::newRow("photo in small widget") << QSize(4000, 3000) << QSize(300, 200) << QRect(17, 0, 266, 200);
    QTest::newRow("centred unscaled") << QSize(500, 400) << QSize(600, 500) << QRect(50, 50, 500, 400);
    QTest::newRow("width not larger") << QSize(500, 400) << QSize(500, 600) << QRect(0, 100, 500, 400);
    QTest::newRow("odd margins") << QSize(101, 51) << QSize(200, 100) << QRect(49, 24, 101, 51);
    QTest::newRow("enlarged to fit") << QSize(100, 50) << QSize(100, 300) << QRect(0, 125, 100, 50);
    QTest::newRow("stored preview scaled down") << QSize(641, 10) << QSize(320, 100) << QRect(0, 48, 320, 4);
}

void TestWidgets::previewPlacement()
{
    QFETCH(QSize, picture);
    QFETCH(QSize, widget);
    QFETCH(QRect, drawn);

    const QString path = data.filePath(QStringLiteral("placed%1x%2.png").arg(picture.width()).arg(picture.height()));
    writeImage(path, picture.width(), picture.height(), Qt::red);
    ThumbnailWidget preview(nullptr);
    preview.resize(widget);
    preview.changeImage(path);
    const QImage rendered = render(preview);
    QCOMPARE(rendered.size(), widget);
    QCOMPARE(pictureBounds(rendered), drawn);
    // Outside the picture the widget is black.
    if (drawn.left() > 0)
        QCOMPARE(rendered.pixel(drawn.left() - 1, drawn.center().y()) & 0xffffff, 0u);
    if (drawn.top() > 0)
        QCOMPARE(rendered.pixel(drawn.center().x(), drawn.top() - 1) & 0xffffff, 0u);
}

void TestWidgets::previewTextsAndUndecodableFile()
{
    ThumbnailWidget preview(nullptr);
    preview.resize(240, 160);

    // Nothing chosen yet.
    QCOMPARE(render(preview), expectedTextBox(preview, QStringLiteral("No image selected")));
    QVERIFY(render(preview) != expectedTextBox(preview, QStringLiteral("Loading image...")));

    // The language is looked up at paint time.
    setCurrentLanguage(1);
    QCOMPARE(render(preview), expectedTextBox(preview, QStringLiteral("Nie wybrano obrazu")));
    setCurrentLanguage(0);

    // While the file decodes, the loading text is what a repaint shows.
    const QString picture = data.filePath("loading.png");
    writeImage(picture, 50, 40, Qt::red);
    QImage duringLoad;
    QTimer::singleShot(0, &preview, [&]() { duringLoad = render(preview); });
    preview.changeImage(picture);
    QCOMPARE(duringLoad, expectedTextBox(preview, QStringLiteral("Loading image...")));
    QCOMPARE(pictureBounds(render(preview)), QRect(95, 60, 50, 40));

    // A file the reader cannot decode leaves a plain black box, no text.
    const QString text = data.filePath("notes.png");
    QFile file(text);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("this is not a picture\n");
    file.close();
    preview.changeImage(text);
    QVERIFY(preview.previewImage().isNull());
    QVERIFY(allBlack(render(preview)));
    preview.changeImage(data.filePath("missing.jpg"));
    QVERIFY(allBlack(render(preview)));

    // Clearing the choice brings the text back.
    preview.changeImage(QString());
    QVERIFY(preview.previewImage().isNull());
    QCOMPARE(render(preview), expectedTextBox(preview, QStringLiteral("No image selected")));
}

void TestWidgets::previewFollowsLatestChoice()
{
    // The list can move on while the loading text is being painted; the preview must end up
    // showing the newest entry, not the one whose decode was still pending.
    const QString older = data.filePath("older.png");
    const QString newer = data.filePath("newer.png");
    writeImage(older, 30, 30, Qt::red);
    writeImage(newer, 20, 10, Qt::blue);
    ThumbnailWidget preview(nullptr);
    preview.resize(100, 100);
    QTimer::singleShot(0, &preview, [&]() { preview.changeImage(newer); });
    preview.changeImage(older);
    QCOMPARE(preview.previewImage().size(), QSize(20, 10));

    // Likewise a list cleared in the meantime leaves nothing chosen.
    QTimer::singleShot(0, &preview, [&]() { preview.changeImage(QString()); });
    preview.changeImage(older);
    QVERIFY(preview.previewImage().isNull());
    QCOMPARE(render(preview), expectedTextBox(preview, QStringLiteral("No image selected")));
}

void TestWidgets::tipLabelWithoutTip()
{
    QWidget window;
    TipLabel *label = new TipLabel(&window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QVERIFY(label->text().isEmpty());
    const QImage icon = label->pixmap(Qt::ReturnByValue).toImage();
    QCOMPARE(icon.size(), QSize(12, 12));
    QVERIFY(icon.hasAlphaChannel());
    QCOMPARE(qAlpha(icon.pixel(0, 0)), 0); // round icon: transparent corners
    QVERIFY(qBlue(icon.pixel(2, 6)) > qRed(icon.pixel(2, 6)) + 80); // blue ring
    QCOMPARE(label->cursor().shape(), Qt::PointingHandCursor);

    QSignalSpy clicked(label, &TipLabel::clicked);
    const int windowsBefore = QApplication::topLevelWidgets().size();
    QTest::mouseClick(label, Qt::LeftButton);
    QCOMPARE(clicked.count(), 1);
    QCOMPARE(QApplication::topLevelWidgets().size(), windowsBefore);
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
    QVERIFY(label->findChildren<QDialog *>().isEmpty());
}

void TestWidgets::tipLabelOpensModalHelp()
{
    QWidget window;
    TipLabel *label = new TipLabel(&window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    setCurrentLanguage(1); // the help window's title does not depend on the language
    label->setTip(QStringLiteral("Use <b>*</b> for digits"));

    const QList<TipDialog *> dialogs = label->findChildren<TipDialog *>();
    QCOMPARE(dialogs.size(), 1);
    TipDialog *dialog = dialogs.first();
    QVERIFY(!dialog->isVisible());

    // Only the release counts, with any button.
    QTest::mousePress(label, Qt::LeftButton);
    QVERIFY(!dialog->isVisible());
    QTest::mouseRelease(label, Qt::LeftButton);
    QVERIFY(dialog->isVisible());
    QVERIFY(dialog->isModal());
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Pomoc"));
    QVERIFY(!(dialog->windowFlags() & Qt::WindowContextHelpButtonHint));
    QCOMPARE(dialog->objectName(), QStringLiteral("TipDialog"));
    auto *tip = dialog->findChild<QLabel *>(QStringLiteral("tip"));
    QVERIFY(tip);
    QCOMPARE(tip->text(), QStringLiteral("Use <b>*</b> for digits<br>"));
    QCOMPARE(tip->textFormat(), Qt::AutoText);
    auto *buttons = dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
    QVERIFY(buttons);
    QCOMPARE(buttons->buttons().size(), 1);
    QCOMPARE(buttons->standardButtons(), QDialogButtonBox::Ok);
    QVERIFY(buttons->centerButtons());
    QVERIFY(QApplication::activeModalWidget() == dialog);

    buttons->button(QDialogButtonBox::Ok)->click();
    QVERIFY(!dialog->isVisible());

    // The next click opens the same window again; Escape closes it.
    QTest::mouseClick(label, Qt::RightButton);
    QVERIFY(dialog->isVisible());
    QCOMPARE(label->findChildren<TipDialog *>().size(), 1);
    QCOMPARE(tip->text(), QStringLiteral("Use <b>*</b> for digits<br>"));
    QTest::keyClick(dialog, Qt::Key_Escape);
    QVERIFY(!dialog->isVisible());
}

int main(int argc, char **argv)
{
    // Drive Qt's own file dialog, whatever desktop the test runs on.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QApplication app(argc, argv);
    TestWidgets test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_widgets.moc"
