#include "destinationdialog.h"
#include "languagetext.h"
#include "selectdestinationbutton.h"
#include "tiplabel.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>

namespace {

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

template <typename T>
T *part(const DestinationDialog &dialog, const char *name)
{
    T *widget = dialog.findChild<T *>(QLatin1String(name));
    if (!widget)
        qFatal("missing %s", name);
    return widget;
}

QStringList itemTexts(const QComboBox *box)
{
    QStringList texts;
    for (int i = 0; i < box->count(); ++i)
        texts << box->itemText(i);
    return texts;
}

// Records the dialog's four signals in the order they arrive.
struct SignalLog
{
    QStringList entries;

    explicit SignalLog(DestinationDialog &dialog)
    {
        QObject::connect(&dialog, &DestinationDialog::destinationFolderChanged,
                         [this](const QString &f) { entries << "folder " + f; });
        QObject::connect(&dialog, &DestinationDialog::namePatternChanged,
                         [this](const QString &p) { entries << "pattern " + p; });
        QObject::connect(&dialog, &DestinationDialog::formatChanged,
                         [this](int f) { entries << "format " + QString::number(f); });
        QObject::connect(&dialog, &DestinationDialog::compressionChanged,
                         [this](int q) { entries << "quality " + QString::number(q); });
    }

    QStringList take()
    {
        QStringList taken = entries;
        entries.clear();
        return taken;
    }
};

} // namespace

class TestDestinationDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup() { setCurrentLanguage(0); }

    void initialState();
    void textsInBothLanguages();
    void fileTypeRewritesExtension();
    void qualityOnlyForJpeg();
    void showSelectsNameWithoutExtension();
    void folderChooserStartAndCancel();
    void closeHides();

private:
    QTemporaryDir home;
};

void TestDestinationDialog::initTestCase()
{
    QVERIFY(home.isValid());
    qputenv("HOME", home.path().toLocal8Bit());
}

void TestDestinationDialog::initialState()
{
    DestinationDialog dialog(nullptr);
    QCOMPARE(dialog.objectName(), QStringLiteral("DestinationDialog"));
    QCOMPARE(dialog.size(), QSize(280, 246));
    QVERIFY(!(dialog.windowFlags() & Qt::WindowContextHelpButtonHint));
    QCOMPARE(dialog.destinationFolder(), QDir::homePath());
    QCOMPARE(dialog.namePattern(), QStringLiteral("output****.jpg"));
    QCOMPARE(dialog.format(), 0);
    QCOMPARE(dialog.compression(), 92);

    auto *quality = part<QSpinBox>(dialog, "compression");
    QCOMPARE(quality->minimum(), 1);
    QCOMPARE(quality->maximum(), 100);
    QVERIFY(quality->isEnabled());
    QVERIFY(part<TipLabel>(dialog, "namePatternTip")->isHidden());
    auto *notice = part<QLabel>(dialog, "overwriteNotice");
    QVERIFY(notice->font().italic());
    QCOMPARE(notice->alignment(), Qt::AlignCenter);
    auto *type = part<QComboBox>(dialog, "fileType");
    QCOMPARE(type->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
    QCOMPARE(type->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
    auto *buttons = part<QDialogButtonBox>(dialog, "buttonBox");
    QCOMPARE(buttons->standardButtons(), QDialogButtonBox::Close);
    QVERIFY(buttons->centerButtons());
    QVERIFY(!part<SelectDestinationButton>(dialog, "destinationFolderButton")->text().isEmpty());
}

void TestDestinationDialog::textsInBothLanguages()
{
    DestinationDialog dialog(nullptr);
    auto *type = part<QComboBox>(dialog, "fileType");
    QCOMPARE(itemTexts(type), QStringList({"JPG", "PNG", QString::fromUtf8("TIFF (8 bitów/kanał)"),
                                           QString::fromUtf8("TIFF (16 bitów/kanał)")}));

    auto texts = [&]() {
        return QStringList({dialog.windowTitle(), part<QLabel>(dialog, "overwriteNotice")->text(),
                            part<QGroupBox>(dialog, "destinationFolderBox")->title(),
                            part<SelectDestinationButton>(dialog, "destinationFolderButton")->text(),
                            part<QGroupBox>(dialog, "namePatternBox")->title(),
                            part<QGroupBox>(dialog, "fileTypeBox")->title(),
                            part<QLabel>(dialog, "compressionLabel")->text(),
                            part<QDialogButtonBox>(dialog, "buttonBox")->button(QDialogButtonBox::Close)->text()});
    };
    const QStringList english = {"Name and format of destination images",
                                 "All existing files will be overwritten without warning.",
                                 "Destination folder",
                                 "Choose...",
                                 "Name format of destination files",
                                 "Type of destination files",
                                 "Quality",
                                 "Close"};
    const QStringList polish = {QString::fromUtf8("Nazwa i format obrazów docelowych"),
                                QString::fromUtf8("Wszystkie istniejące pliki zostaną nadpisane bez ostrzeżenia."),
                                QString::fromUtf8("Folder docelowy"),
                                QString::fromUtf8("Wybierz..."),
                                QString::fromUtf8("Format nazwy plików docelowych"),
                                QString::fromUtf8("Typ plików docelowych"),
                                QString::fromUtf8("Jakość"),
                                QString::fromUtf8("Zamknij")};

    type->setCurrentIndex(3);
    SignalLog log(dialog);
    dialog.updateLanguage();
    QCOMPARE(texts(), english);
    QCOMPARE(itemTexts(type), QStringList({"JPG", "PNG", "8 bits/channel", "16 bits/channel"}));

    // Switching works on a shown dialog too and changes no setting.
    dialog.show();
    setCurrentLanguage(1);
    dialog.updateLanguage();
    QCOMPARE(texts(), polish);
    QCOMPARE(itemTexts(type),
             QStringList({"JPG", "PNG", QString::fromUtf8("8 bitów/kanał"), QString::fromUtf8("16 bitów/kanał")}));
    setCurrentLanguage(0);
    dialog.updateLanguage();
    QCOMPARE(texts(), english);
    QCOMPARE(type->currentIndex(), 3);
    QCOMPARE(dialog.namePattern(), QStringLiteral("output****.tif"));
    QVERIFY(log.entries.isEmpty());
}

void TestDestinationDialog::fileTypeRewritesExtension()
{
    DestinationDialog dialog(nullptr);
    auto *type = part<QComboBox>(dialog, "fileType");
    auto *pattern = part<QLineEdit>(dialog, "namePattern");
    SignalLog log(dialog);

    // The rewritten pattern is announced before the new format.
    type->setCurrentIndex(1);
    QCOMPARE(log.take(), QStringList({"pattern output****.png", "format 1"}));
    QCOMPARE(dialog.namePattern(), QStringLiteral("output****.png"));
    QCOMPARE(dialog.format(), 1);

    type->setCurrentIndex(2);
    QCOMPARE(log.take(), QStringList({"pattern output****.tif", "format 2"}));
    // Between the two TIFF depths the pattern stays as it is.
    type->setCurrentIndex(3);
    QCOMPARE(log.take(), QStringList({"format 3"}));
    type->setCurrentIndex(2);
    QCOMPARE(log.take(), QStringList({"format 2"}));
    QCOMPARE(dialog.namePattern(), QStringLiteral("output****.tif"));
    type->setCurrentIndex(0);
    QCOMPARE(log.take(), QStringList({"pattern output****.jpg", "format 0"}));

    // Only the text after the last dot is the extension.
    pattern->setText(QStringLiteral("night.2024.jpeg"));
    log.take();
    type->setCurrentIndex(1);
    QCOMPARE(dialog.namePattern(), QStringLiteral("night.2024.png"));
    QCOMPARE(log.take(), QStringList({"pattern night.2024.png", "format 1"}));

    // A pattern without a dot keeps what the user typed and gains the extension.
    pattern->setText(QStringLiteral("output****"));
    log.take();
    type->setCurrentIndex(3);
    QCOMPARE(dialog.namePattern(), QStringLiteral("output****.tif"));
    QCOMPARE(log.take(), QStringList({"pattern output****.tif", "format 3"}));
    pattern->setText(QString());
    type->setCurrentIndex(0);
    QCOMPARE(dialog.namePattern(), QStringLiteral(".jpg"));

    // A pattern that is only an extension keeps an empty name.
    pattern->setText(QStringLiteral(".tif"));
    type->setCurrentIndex(1);
    QCOMPARE(dialog.namePattern(), QStringLiteral(".png"));

    // Typing in the pattern is passed on as typed, unchecked.
    log.take();
    pattern->setText(QStringLiteral("a/b\\c"));
    QCOMPARE(log.take(), QStringList({"pattern a/b\\c"}));
}

void TestDestinationDialog::qualityOnlyForJpeg()
{
    DestinationDialog dialog(nullptr);
    auto *type = part<QComboBox>(dialog, "fileType");
    auto *quality = part<QSpinBox>(dialog, "compression");
    SignalLog log(dialog);

    quality->setValue(75);
    QCOMPARE(log.take(), QStringList({"quality 75"}));
    for (int index : {1, 2, 3}) {
        type->setCurrentIndex(index);
        QVERIFY(!quality->isEnabled());
        QCOMPARE(quality->value(), 75);
    }
    type->setCurrentIndex(0);
    QVERIFY(quality->isEnabled());
    QCOMPARE(dialog.compression(), 75);
    // Switching types never reports the quality again.
    QVERIFY(!log.take().join(',').contains(QLatin1String("quality")));
    quality->setValue(100);
    quality->setValue(101);
    QCOMPARE(dialog.compression(), 100);
    QCOMPARE(log.take(), QStringList({"quality 100"}));
}

void TestDestinationDialog::showSelectsNameWithoutExtension()
{
    DestinationDialog dialog(nullptr);
    auto *pattern = part<QLineEdit>(dialog, "namePattern");

    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(pattern->selectedText(), QStringLiteral("output****"));
    QCOMPARE(pattern->selectionStart(), 0);
    // Typing replaces the name and keeps the extension.
    QApplication::setActiveWindow(&dialog);
    QTest::keyClicks(pattern, QStringLiteral("star"));
    QCOMPARE(dialog.namePattern(), QStringLiteral("star.jpg"));
    dialog.hide();

    pattern->setText(QStringLiteral("a.b.tiff"));
    dialog.show();
    QCOMPARE(pattern->selectedText(), QStringLiteral("a.b"));
    dialog.hide();

    // Without a "." the dialog's own selection is empty; QDialog then hands the line edit a tab
    // focus-in, which selects the whole text, so typing replaces the whole name.
    pattern->setText(QStringLiteral("output"));
    dialog.show();
    QCOMPARE(pattern->selectedText(), QStringLiteral("output"));
    dialog.hide();
}

void TestDestinationDialog::folderChooserStartAndCancel()
{
    const QString first = home.filePath("first");
    const QString second = home.filePath("second");
    const QString typed = home.filePath("typed");
    for (const QString &folder : {first, second, typed})
        QVERIFY(QDir().mkpath(folder));

    DestinationDialog dialog(nullptr);
    dialog.updateLanguage();
    auto *button = part<SelectDestinationButton>(dialog, "destinationFolderButton");
    auto *folderEdit = part<QLineEdit>(dialog, "destinationFolder");
    SignalLog log(dialog);

    QString startedIn;
    QString caption;
    QFileDialog::Options options;
    auto cancel = [&](QFileDialog *chooser) {
        startedIn = canonical(chooser->directory().absolutePath());
        caption = chooser->windowTitle();
        options = chooser->options();
        chooser->reject();
    };

    whenFileDialogOpens(cancel);
    button->click();
    QCOMPARE(startedIn, canonical(home.path()));
    QCOMPARE(caption, QStringLiteral("Select destination folder"));
    QVERIFY(options.testFlag(QFileDialog::ShowDirsOnly));
    QVERIFY(options.testFlag(QFileDialog::DontResolveSymlinks));
    QVERIFY(log.entries.isEmpty());
    QCOMPARE(dialog.destinationFolder(), QDir::homePath());

    // The source chooser's folder moves both the text and where the chooser starts.
    dialog.setDestinationFolder(first);
    QCOMPARE(log.take(), QStringList({"folder " + first}));
    QCOMPARE(folderEdit->text(), first);
    setCurrentLanguage(1);
    whenFileDialogOpens(cancel);
    button->click();
    QCOMPARE(startedIn, canonical(first));
    QCOMPARE(caption, QString::fromUtf8("Wybierz folder docelowy"));
    QVERIFY(log.entries.isEmpty());
    QCOMPARE(dialog.destinationFolder(), first);

    // A folder typed by hand is passed on but does not move the chooser.
    folderEdit->setText(typed);
    QCOMPARE(log.take(), QStringList({"folder " + typed}));
    whenFileDialogOpens(cancel);
    button->click();
    QCOMPARE(startedIn, canonical(first));
    QCOMPARE(dialog.destinationFolder(), typed);

    // Choosing a folder sets the text, announces it and is where the next chooser starts.
    whenFileDialogOpens([&](QFileDialog *chooser) {
        chooser->setDirectory(second);
        static_cast<QDialog *>(chooser)->accept();
    });
    button->click();
    QCOMPARE(canonical(dialog.destinationFolder()), canonical(second));
    QCOMPARE(log.take(), QStringList({"folder " + dialog.destinationFolder()}));
    whenFileDialogOpens(cancel);
    button->click();
    QCOMPARE(startedIn, canonical(second));
    QVERIFY(log.entries.isEmpty());
}

void TestDestinationDialog::closeHides()
{
    QWidget window;
    DestinationDialog *dialog = new DestinationDialog(&window);
    window.show();
    dialog->show();
    QVERIFY(dialog->isVisible());
    QVERIFY(!dialog->isModal());
    part<QLineEdit>(*dialog, "namePattern")->setText(QStringLiteral("kept.png"));
    part<QDialogButtonBox>(*dialog, "buttonBox")->button(QDialogButtonBox::Close)->click();
    QVERIFY(!dialog->isVisible());
    QCOMPARE(dialog->result(), int(QDialog::Rejected));
    dialog->show();
    QCOMPARE(dialog->namePattern(), QStringLiteral("kept.png"));
}

int main(int argc, char **argv)
{
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QApplication app(argc, argv);
    TestDestinationDialog test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_destinationdialog.moc"
