// Both languages' texts, then the widgets on their own: the source chooser, the preview, the help label
// and the destination dialog (file type, name selection, folder chooser).

#include "destinationdialog.h"
#include "imagelistwidget.h"
#include "languagetext.h"
#include "selectimagesbutton.h"
#include "thumbnailwidget.h"
#include "tiplabel.h"
#include "widgettesthelpers.h"

#include <QtTest>

using namespace WidgetTest;

namespace {

// Every text of both languages, by number; the placeholders stay for the caller to fill.
const char *const texts[2][53] = {
    {"See <a href=\"#readme\">README.TXT</a> for details.", "Language", "Source images", "Choose...",
     "Number of source images:", "Preview", "Match condition for source images", "All images",
     "All previous images", "Groups of images", "Groups of images (loop)", "Disjoint groups of images",
     "Stack method", "Lighten only", "Darken only", "Mean", "Fade options", "No fading", "Fade in",
     "Fade out", "Fade in and out", "Name and format of destination images", "Number of destination images:",
     "Begin", "Cancel", "Open destination folder after finishing", "Number of images per group",
     "Step between groups", "Number of groups", "Percentage of initial images", "Percentage of final images",
     "Processing image #%1 (operation %2 of %3)...", "Error", "No source images loaded.",
     "No images to be saved.", "Select files", "Images", "All files", "Select destination folder",
     "Loading image...", "No image selected", "All existing files will be overwritten without warning.",
     "Destination folder", "Name format of destination files", "Type of destination files", "8 bits/channel",
     "16 bits/channel", "Quality", "Close",
     "Error opening image:<br><b>%1</b><br><br>Check if the file exists.<br>Check your permissions.",
     "Error saving image:<br><b>%1</b><br><br>Check if the destination directory exists.<br>Check your "
     "permissions.",
     "Cannot write to the destination folder:<br><b>%1</b><br><br>Check if the destination directory "
     "exists.<br>Check your permissions.",
     "A destination file is one of the source images:<br><b>%1</b><br><br>Choose another destination "
     "folder or name format."},
    {"Szczegóły w pliku <a href=\"#readme\">README.TXT</a>.", "Język", "Obrazy źródłowe", "Wybierz...",
     "Liczba obrazów źródłowych:", "Podgląd", "Warunek dopasowania obrazów źródłowych", "Wszystkie obrazy",
     "Wszystkie poprzednie obrazy", "Grupy obrazów", "Grupy obrazów (pętla)", "Rozłączne grupy obrazów",
     "Metoda składania", "Tylko jaśniejsze", "Tylko ciemniejsze", "Uśrednienie", "Opcje zanikania",
     "Bez zanikania", "Zanikanie na początku", "Zanikanie na końcu", "Zanikanie na początku i na końcu",
     "Nazwa i format obrazów docelowych", "Liczba obrazów docelowych:", "Rozpocznij", "Anuluj",
     "Otwórz folder docelowy po zakończeniu", "Liczba obrazów na grupę", "Krok pomiędzy grupami",
     "Liczba grup", "Procent początkowych obrazów", "Procent końcowych obrazów",
     "Przetwarzanie obrazu nr %1 (operacja %2 z %3)...", "Błąd", "Nie załadowano obrazów źródłowych.",
     "Nie ma obrazów do zapisania.", "Wybierz pliki", "Obrazy", "Wszystkie pliki", "Wybierz folder docelowy",
     "Ładowanie obrazu...", "Nie wybrano obrazu",
     "Wszystkie istniejące pliki zostaną nadpisane bez ostrzeżenia.", "Folder docelowy",
     "Format nazwy plików docelowych", "Typ plików docelowych", "8 bitów/kanał", "16 bitów/kanał", "Jakość",
     "Zamknij",
     "Błąd w odczycie obrazu:<br><b>%1</b><br><br>Sprawdź, czy plik istnieje.<br>Sprawdź swoje uprawnienia.",
     "Błąd w zapisie obrazu:<br><b>%1</b><br><br>Sprawdź, czy folder docelowy istnieje.<br>Sprawdź swoje "
     "uprawnienia.",
     "Nie można zapisać w folderze docelowym:<br><b>%1</b><br><br>Sprawdź, czy folder docelowy "
     "istnieje.<br>Sprawdź swoje uprawnienia.",
     "Plik docelowy jest jednym z obrazów źródłowych:<br><b>%1</b><br><br>Wybierz inny folder docelowy lub "
     "format nazwy."}};

// Red with a blue right half, so a preview cropped instead of reduced shows.
void writeImage(const QString &path, QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::red);
    QPainter(&image).fillRect(size.width() / 2, 0, size.width(), size.height(), Qt::blue);
    QVERIFY2(image.save(path), qPrintable(path));
}

// Where the picture landed: the box covered by pixels that are not black.
QRect drawnRect(QWidget &w)
{
    return QRegion(QBitmap::fromImage(w.grab().toImage().createMaskFromColor(qRgb(0, 0, 0)))).boundingRect();
}

// Whether the widget shows a black box with the text centred in dark gray: the preview without a picture.
bool showsText(QWidget &widget, const QString &text)
{
    // QTEST_MAIN pins new images to 96 dpi; the widget draws its text at the screen's.
    QCoreApplication::setAttribute(Qt::AA_Use96Dpi, false);
    QImage image(widget.size(), QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    painter.setPen(Qt::darkGray);
    painter.drawText(image.rect(), Qt::AlignCenter, text);
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32) == image;
}

// Waits until the preview has no decode running or waiting.
bool decoded(ThumbnailWidget &preview)
{
    return QTest::qWaitFor([&] { return !preview.findChild<QThread *>(); }, 60000);
}

} // namespace

class TestWidgets : public QObject
{
    Q_OBJECT

    QTemporaryDir home;
    std::unique_ptr<DestinationDialog> dialog;
    QStringList log; // what the widget under test announced, in order

    QString file(const QString &name) const { return home.filePath(name); }
    template <typename T> T *part(const char *name) const { return dialog->findChild<T *>(name); }
    // Logs each value a signal sends, after `what`.
    auto logAs(QString what) { return [this, what](const QVariant &v) { log << what + v.toString(); }; }
    // Picks a file type; returns what the dialog announced and whether the quality can be set.
    QStringList select(int type)
    {
        log.clear();
        part<QComboBox>("fileType")->setCurrentIndex(type);
        return log << (part<QSpinBox>("compression")->isEnabled() ? "quality editable" : "quality greyed");
    }

private slots:
    void initTestCase() { useOwnDialogsAndHome(home.path()); }
    void init()
    {
        QVERIFY(home.isValid());
        log.clear();
        dialog.reset(new DestinationDialog);
        connect(dialog.get(), &DestinationDialog::destinationFolderChanged, logAs("folder "));
        connect(dialog.get(), &DestinationDialog::namePatternChanged, logAs("pattern "));
        connect(dialog.get(), &DestinationDialog::formatChanged, logAs("format "));
        connect(dialog.get(), &DestinationDialog::compressionChanged, logAs("quality "));
    }
    void cleanup() { setCurrentLanguage(0); }

    // English first, Polish, and back: a changed, shifted or missing text, or a table read in the
    // wrong encoding, fails with the number and both texts.
    void everyText()
    {
        QCOMPARE(currentLanguage(), 0);
        for (int language : {0, 1, 0}) {
            setCurrentLanguage(language);
            for (int id = 0; id < 53; ++id)
                QCOMPARE(QString("%1: %2").arg(id).arg(languageText(id)),
                         QString("%1: %2").arg(id).arg(QString::fromUtf8(texts[language][id])));
        }
    }

    void sourceChooser()
    {
        for (const char *name : {"A/a1.png", "A/a2.png", "A/a3.jpg", "B/b1.png"})
            QVERIFY(QDir().mkpath(QFileInfo(file(name)).path()) && QFile(file(name)).open(QFile::WriteOnly));
        SelectImagesButton button;
        connect(&button, &SelectImagesButton::pathChanged, logAs("path "));
        connect(&button, &SelectImagesButton::selected, [&](const QStringList &f) { log << f.join('|'); });
        connect(&button, &SelectImagesButton::inputCountChanged, logAs(""));
        // Types the names into the chooser in `folder` and accepts, or without a folder cancels; returns
        // where the chooser opened, then its title and filters when cancelled, or what the button announced.
        auto pick = [&](const QString &folder = QString(), const QString &typed = QString()) {
            log.clear();
            return QStringList(clickChooser(button, [&](QFileDialog *chooser) {
                       if (folder.isEmpty()) // left open, it is cancelled
                           return void(log << chooser->windowTitle() << chooser->nameFilters());
                       chooser->setDirectory(folder);
                       chooser->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(typed);
                       acceptAsIs(chooser);
                   })) + log;
        };
        const QString start = canonical(home.path()), a = canonical(file("A")), b = canonical(file("B"));
        const QString images = " (*.jpeg *.jpg *.png *.tif *.tiff)";
        QCOMPARE(pick(), QStringList({start, "Select files", "Images" + images, "All files (*.*)"}));
        // A new folder first, then the files in the chooser's order, then their number.
        QCOMPARE(pick(file("A"), "\"a2.png\" \"a1.png\""),
                 QStringList({start, "path " + file("A"), file("A/a2.png") + '|' + file("A/a1.png"), "2"}));
        // The next chooser opens there; the same folder again is no news.
        QCOMPARE(pick(file("A"), "\"a3.jpg\""), QStringList({a, file("A/a3.jpg"), "1"}));
        setCurrentLanguage(1);
        QCOMPARE(pick(), QStringList({a, "Wybierz pliki", "Obrazy" + images, "Wszystkie pliki (*.*)"}));
        // Files from two folders: the first file's folder counts, not the last's nor the dialog's.
        QCOMPARE(pick(file("A"), '"' + file("B/b1.png") + "\" \"" + file("A/a1.png") + '"'),
                 QStringList({a, "path " + file("B"), file("B/b1.png") + '|' + file("A/a1.png"), "2"}));
        QCOMPARE(pick().first(), b);
    }

    // The stored preview's size, and where the widget draws it, black all around.
    void preview()
    {
        const struct { const char *name; QSize size, stored, widget; QRect drawn; } cases[] = {
            {"big.jpg", {4000, 3000}, {640, 480}, {300, 200}, {17, 0, 266, 200}},
            {"thin.png", {641, 10}, {640, 9}, {320, 100}, {0, 48, 320, 4}},
            {"thin.jpg", {641, 10}, {640, 9}, {700, 100}, {30, 45, 640, 9}},
            {"narrow.tif", {10, 641}, {9, 640}, {100, 700}, {45, 30, 9, 640}}, // reduced after decoding
            {"square.png", {640, 640}, {640, 640}, {640, 700}, {0, 30, 640, 640}},
            {"small.jpg", {500, 400}, {500, 400}, {600, 300}, {112, 0, 375, 300}}, // only the width fits
            {"odd.png", {101, 51}, {101, 51}, {200, 100}, {49, 24, 101, 51}}};
        for (const auto &c : cases) {
            writeImage(file(c.name), c.size);
            ThumbnailWidget preview;
            preview.resize(c.widget);
            preview.changeImage(file(c.name));
            const QImage image = decoded(preview) ? preview.previewImage() : QImage();
            QVERIFY2(image.size() == c.stored && drawnRect(preview) == c.drawn, c.name);
            // Reduced, not cropped: red on the left, blue on the right.
            QVERIFY2(qRed(image.pixel(0, 0)) > 200 && qBlue(image.pixel(image.width() - 1, 0)) > 200, c.name);
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
        QVERIFY(decoded(preview) && showsText(preview, "Nie wybrano obrazu")
                && preview.previewImage().isNull());

        // A large PNG decodes while the event loop goes on: a timer keeps firing until the picture comes.
        writeImage(file("large.png"), QSize(8000, 6000));
        int ticks = 0;
        QTimer timer;
        connect(&timer, &QTimer::timeout, [&] { ticks += preview.previewImage().isNull(); });
        timer.start(5);
        preview.changeImage(file("large.png"));
        QVERIFY2(decoded(preview) && ticks >= 3 && preview.previewImage().size() == QSize(640, 480),
                 qPrintable(QString::number(ticks)));
    }

    void tipLabel()
    {
        TipLabel label;
        const QImage icon = label.pixmap(Qt::ReturnByValue).toImage(); // round and blue, from the resources
        QVERIFY(icon.size() == QSize(12, 12) && !qAlpha(icon.pixel(0, 0)) && qBlue(icon.pixel(2, 6)) > 150);
        // Without a tip a click opens nothing: the first press below finds no window open.
        QTest::mouseClick(&label, Qt::LeftButton);
        // With one, the release of any button opens the same modal help window each time.
        setCurrentLanguage(1); // the title is not translated
        label.setTip(QStringLiteral("Use <b>*</b> for digits"));
        for (Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton}) {
            QTest::mousePress(&label, button);
            QVERIFY(!QApplication::activeModalWidget());
            QTest::mouseRelease(&label, button);
            auto *help = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            QVERIFY(help && help->windowTitle() == "Pomoc" && label.findChildren<QDialog *>().size() == 1);
            QCOMPARE(help->findChild<QLabel *>("tip")->text(), QStringLiteral("Use <b>*</b> for digits<br>"));
            help->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
        }
    }

    void fileTypeAndName()
    {
        part<QSpinBox>("compression")->setValue(75);
        // The rewritten pattern is announced before the new format; between the TIFF depths it stays.
        // The quality is kept through the changes.
        QCOMPARE(select(1), QStringList({"pattern output****.png", "format 1", "quality greyed"}));
        QCOMPARE(select(2), QStringList({"pattern output****.tif", "format 2", "quality greyed"}));
        QCOMPARE(select(3), QStringList({"format 3", "quality greyed"}));
        QCOMPARE(select(0), QStringList({"pattern output****.jpg", "format 0", "quality editable"}));
        // Only the text after the last "." is the extension; without one the typed name is kept.
        const struct { const char *typed; int type; const char *pattern; } cases[] = {
            {"night.2024.jpeg", 1, "night.2024.png"}, {"output****", 3, "output****.tif"}, {"", 0, ".jpg"},
            {".tif", 1, ".png"}};
        for (const auto &c : cases) {
            part<QLineEdit>("namePattern")->setText(c.typed);
            QCOMPARE(select(c.type).first(), "pattern " + QString(c.pattern));
        }
        // Shown, the name is selected without its extension, so typing replaces the name and keeps the
        // type; Close, named by the dialog itself whether or not Qt's own catalogues are there, only hides
        // it.
        setCurrentLanguage(1);
        dialog->updateLanguage();
        auto *close = part<QDialogButtonBox>("buttonBox")->button(QDialogButtonBox::Close);
        QCOMPARE(close->text(), QString::fromUtf8("Zamknij"));
        // Without a ".", all of the name is selected.
        for (const QStringList &typed : {QStringList{"a.b.tiff", "star.tiff"}, {"output", "star"}}) {
            part<QLineEdit>("namePattern")->setText(typed[0]);
            dialog->show();
            QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
            QTest::keyClicks(part<QLineEdit>("namePattern"), "star");
            close->click();
            QVERIFY(!dialog->isVisible() && dialog->namePattern() == typed[1]);
        }
    }

    void folderChooser()
    {
        QVERIFY(QDir(home.path()).mkpath("first") && QDir(home.path()).mkpath("second"));
        auto *button = part<QPushButton>("destinationFolderButton");
        // Logs the chooser's title, and 3 if it shows folders only (1) with symlinks unresolved (2).
        auto note = [&](QFileDialog *d) { log << d->windowTitle() << QString::number(d->options() & 3); };
        QCOMPARE(clickChooser(*button, note), canonical(home.path()));
        // The source chooser's folder moves the text and where the chooser starts; cancelling changes
        // nothing.
        dialog->setDestinationFolder(file("first"));
        setCurrentLanguage(1);
        QCOMPARE(clickChooser(*button, note), canonical(file("first")));
        QCOMPARE(log, QStringList({"Select destination folder", "3", "folder " + file("first"),
                                   "Wybierz folder docelowy", "3"}));
        // A folder typed by hand is passed on but does not move the chooser.
        part<QLineEdit>("destinationFolder")->setText(file("typed"));
        QCOMPARE(clickChooser(*button), canonical(file("first")));
        // A chosen folder is set, announced, and where the next chooser starts.
        clickChooser(*button, [&](QFileDialog *chooser) {
            chooser->setDirectory(file("second"));
            acceptAsIs(chooser);
        });
        QCOMPARE(log.last(), "folder " + file("second"));
        QCOMPARE(clickChooser(*button), canonical(file("second")));
    }

    // The film's check box: only for two destination images or more and with ffmpeg at hand, its tip
    // saying why not; the frame rate only while it is checked.
    void videoSetting()
    {
        auto *box = dialog->findChild<QCheckBox *>("video");
        auto *rate = dialog->findChild<QSpinBox *>("videoFrameRate");
        connect(dialog.get(), &DestinationDialog::videoChanged, logAs("video "));
        auto state = [&] {
            return QString("%1%2%3%4 %5-%6-%7 ").arg(box->isEnabled()).arg(box->isChecked())
                       .arg(dialog->video()).arg(rate->isEnabled()).arg(rate->minimum())
                       .arg(dialog->videoFrameRate()).arg(rate->maximum()) + box->toolTip();
        };
        QString states = state();
        dialog->setDestinationImageCount(2);
        box->click();
        states += '|' + state();
        dialog->setDestinationImageCount(1);
        QCOMPARE(states + '|' + state() + '|' + log.join(','),
                 QString("0000 1-25-120 %1|1111 1-25-120 %2|0100 1-25-120 %1|video true")
                     .arg(languageText(61), languageText(58)));
        setCurrentLanguage(1);
        dialog->updateLanguage();
        QCOMPARE(box->text() + '|' + dialog->findChild<QLabel *>("videoFrameRateLabel")->text(),
                 QString("Utwórz także film (MP4)|Klatek na sekundę"));
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", home.path().toLocal8Bit()); // no ffmpeg there
        DestinationDialog without;
        qputenv("PATH", path);
        without.setDestinationImageCount(5);
        box = without.findChild<QCheckBox *>("video");
        QVERIFY(!box->isEnabled() && box->toolTip().contains("sudo apt install ffmpeg"));
    }
};

QTEST_MAIN(TestWidgets)
#include "tst_widgets.moc"
