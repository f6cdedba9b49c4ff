#include "imagelistwidget.h"
#include "languagetext.h"
#include "selectimagesbutton.h"
#include "thumbnailwidget.h"
#include "tiplabel.h"
#include "widgettesthelpers.h"

#include <QtTest>

using namespace WidgetTest;

// Red with a blue right half, so a preview cropped instead of reduced shows.
static void writeImage(const QString &path, QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::red);
    QPainter(&image).fillRect(size.width() / 2, 0, size.width(), size.height(), Qt::blue);
    QVERIFY2(image.save(path), qPrintable(path));
}

// Where the picture landed: the box covered by pixels that are not black.
static QRect drawnRect(QWidget &widget)
{
    const QImage rendered = widget.grab().toImage();
    QRect bounds;
    for (int y = 0; y < rendered.height(); ++y)
        for (int x = 0; x < rendered.width(); ++x)
            if (rendered.pixel(x, y) & 0xffffff)
                bounds |= QRect(x, y, 1, 1);
    return bounds;
}

// Whether the widget shows a black box with the text centred in dark gray: the preview without a picture.
static bool showsText(QWidget &widget, const QString &text)
{
    // QTEST_MAIN pins new images to 96 dpi; the widget draws its text at the screen's.
    QCoreApplication::setAttribute(Qt::AA_Use96Dpi, false);
    QImage image(widget.size(), QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    painter.setPen(Qt::darkGray);
    painter.drawText(image.rect(), Qt::AlignCenter, text);
    painter.end();
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32) == image;
}

// Waits until the preview has no decode running or waiting.
static bool decoded(ThumbnailWidget &preview) { return QTest::qWaitFor([&] { return !preview.findChild<QThread *>(); }, 60000); }

class TestWidgets : public QObject
{
    Q_OBJECT

    QTemporaryDir home;
    QString file(const QString &name) const { return home.filePath(name); }

private slots:
    void initTestCase() { QVERIFY(home.isValid()); useOwnDialogsAndHome(home.path()); }
    void cleanup() { setCurrentLanguage(0); }

    void sourceChooser()
    {
        for (const char *name : {"A/a1.png", "A/a2.png", "A/a3.jpg", "B/b1.png"})
            QVERIFY(QDir(home.path()).mkpath(QFileInfo(file(name)).path()) && QFile(file(name)).open(QIODevice::WriteOnly));
        SelectImagesButton button;
        QStringList log, texts;
        connect(&button, &SelectImagesButton::pathChanged, [&](const QString &p) { log << "path " + canonical(p); });
        connect(&button, &SelectImagesButton::selected, [&](const QStringList &f) { log << f.join('|'); });
        connect(&button, &SelectImagesButton::inputCountChanged, [&](int n) { log << QString::number(n); });
        // Types the names into the chooser in `folder` and accepts, or without a folder cancels;
        // returns where the chooser opened, then what the button announced.
        auto pick = [&](const QString &folder = QString(), const QString &typed = QString()) {
            log.clear();
            const QString openedIn = clickChooser(button, [&](QFileDialog *dialog) {
                texts = QStringList(dialog->windowTitle()) + dialog->nameFilters();
                if (folder.isEmpty())
                    return dialog->reject();
                dialog->setDirectory(folder);
                dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(typed);
                acceptAsIs(dialog);
            });
            return QStringList(openedIn) + log;
        };
        const QString start = canonical(home.path()), a = canonical(file("A")), b = canonical(file("B"));
        QCOMPARE(pick(), QStringList(start));
        QCOMPARE(texts, QStringList({"Select files", "Images (*.jpeg *.jpg *.png *.tif *.tiff)", "All files (*.*)"}));
        // A new folder first, then the files in the chooser's order, then their number.
        QCOMPARE(pick(file("A"), "\"a2.png\" \"a1.png\""),
                 QStringList({start, "path " + a, file("A/a2.png") + '|' + file("A/a1.png"), "2"}));
        // The next chooser opens there; the same folder again is no news.
        QCOMPARE(pick(file("A"), "\"a3.jpg\""), QStringList({a, file("A/a3.jpg"), "1"}));
        setCurrentLanguage(1);
        QCOMPARE(pick(), QStringList(a));
        QCOMPARE(texts, QStringList({"Wybierz pliki", "Obrazy (*.jpeg *.jpg *.png *.tif *.tiff)", "Wszystkie pliki (*.*)"}));
        // Files from two folders: the first file's folder counts, not the last's nor the dialog's.
        QCOMPARE(pick(file("A"), '"' + file("B/b1.png") + "\" \"" + file("A/a1.png") + '"'),
                 QStringList({a, "path " + b, file("B/b1.png") + '|' + file("A/a1.png"), "2"}));
        QCOMPARE(pick(), QStringList(b));
    }

    // The stored preview's size, and where the widget draws it, black all around.
    void preview()
    {
        const struct { const char *name; QSize size, stored, widget; QRect drawn; } cases[] = {
            {"big.jpg", {4000, 3000}, {640, 480}, {300, 200}, {17, 0, 266, 200}},
            {"thin.png", {641, 10}, {640, 9}, {320, 100}, {0, 48, 320, 4}},
            {"thin.jpg", {641, 10}, {640, 9}, {700, 100}, {30, 45, 640, 9}},
            {"narrow.jpg", {10, 641}, {9, 640}, {100, 700}, {45, 30, 9, 640}},
            {"square.png", {640, 640}, {640, 640}, {640, 700}, {0, 30, 640, 640}},
            {"small.jpg", {500, 400}, {500, 400}, {600, 300}, {112, 0, 375, 300}}, // only the width fits
            {"odd.png", {101, 51}, {101, 51}, {200, 100}, {49, 24, 101, 51}}};
        for (const auto &c : cases) {
            writeImage(file(c.name), c.size);
            ThumbnailWidget preview;
            preview.resize(c.widget);
            preview.changeImage(file(c.name));
            const QImage stored = decoded(preview) ? preview.previewImage() : QImage();
            QVERIFY2(stored.size() == c.stored && drawnRect(preview) == c.drawn, c.name);
            // Reduced while decoding, it must still be the whole picture.
            QVERIFY2(c.size.width() < 4000 || (qRed(stored.pixel(100, 240)) > 200 && qBlue(stored.pixel(540, 240)) > 200), c.name);
        }
    }

    void previewStatesAndChoices()
    {
        ThumbnailWidget preview;
        preview.resize(240, 160);
        QVERIFY(showsText(preview, "No image selected"));
        // While the file decodes, the loading text shows, in the language of the moment; then the picture.
        setCurrentLanguage(1);
        writeImage(file("older.png"), QSize(50, 40));
        preview.changeImage(file("older.png"));
        QVERIFY(showsText(preview, QString::fromUtf8("Ładowanie obrazu...")) && decoded(preview));
        QCOMPARE(drawnRect(preview), QRect(95, 60, 50, 40));
        // A file that is no picture (this test program) leaves a plain black box.
        preview.changeImage(QCoreApplication::applicationFilePath());
        QVERIFY(decoded(preview) && preview.previewImage().isNull() && drawnRect(preview).isEmpty());
        // The list may move on while a file decodes: the newest choice wins...
        writeImage(file("newer.png"), QSize(20, 10));
        preview.changeImage(file("older.png"));
        preview.changeImage(file("newer.png"));
        QVERIFY(decoded(preview) && preview.previewImage().size() == QSize(20, 10));
        // ...also when a new choice of files replaces the list and its current entry: no picture then.
        ImageListWidget list;
        connect(&list, &QListWidget::currentTextChanged, &preview, &ThumbnailWidget::changeImage);
        list.setFilenames({file("older.png"), file("newer.png")});
        list.setCurrentRow(0);
        list.setFilenames({file("newer.png")});
        QVERIFY(decoded(preview) && preview.previewImage().isNull() && showsText(preview, "Nie wybrano obrazu"));

        // A large PNG decodes while the event loop goes on: a timer keeps firing until the picture comes.
        writeImage(file("large.png"), QSize(8000, 6000));
        int ticks = 0;
        QTimer timer;
        connect(&timer, &QTimer::timeout, [&] { ticks += preview.previewImage().isNull(); });
        timer.start(5);
        preview.changeImage(file("large.png"));
        QVERIFY2(decoded(preview) && ticks >= 3 && preview.previewImage().size() == QSize(640, 480), qPrintable(QString::number(ticks)));
    }

    void tipLabel()
    {
        TipLabel label;
        const QImage icon = label.pixmap(Qt::ReturnByValue).toImage(); // round and blue, from the resources
        QVERIFY(icon.size() == QSize(12, 12) && qAlpha(icon.pixel(0, 0)) == 0 && qBlue(icon.pixel(2, 6)) > 150);
        // Without a tip a click opens nothing.
        QTest::mouseClick(&label, Qt::LeftButton);
        QVERIFY(!QApplication::activeModalWidget() && !label.findChild<QDialog *>());
        // With one, the release of any button opens the same modal help window each time.
        setCurrentLanguage(1); // the title is not translated
        label.setTip(QStringLiteral("Use <b>*</b> for digits"));
        for (Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton}) {
            QTest::mousePress(&label, button);
            QVERIFY(!QApplication::activeModalWidget());
            QTest::mouseRelease(&label, button);
            auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            QVERIFY(dialog && dialog->windowTitle() == "Pomoc" && label.findChildren<QDialog *>().size() == 1);
            auto *buttons = dialog->findChild<QDialogButtonBox *>();
            QVERIFY(dialog->findChild<QLabel *>("tip")->text() == "Use <b>*</b> for digits<br>"
                    && buttons->standardButtons() == QDialogButtonBox::Ok);
            buttons->buttons().first()->click();
        }
    }
};

QTEST_MAIN(TestWidgets)
#include "tst_widgets.moc"
