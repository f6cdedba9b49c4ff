#include "destinationdialog.h"

#include "languagetext.h"
#include "ui_destinationdialog.h"
#include "videoencoder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QSpinBox>

DestinationDialog::DestinationDialog(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::DestinationDialog)
    , videoPossible(!VideoEncoder::program().isEmpty())
{
    // The form makes the dialog's own connections (Close, folder chooser, file type) first, so a
    // file type change rewrites the pattern before formatChanged goes out below.
    ui->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    ui->namePatternTip->hide();

    connect(ui->destinationFolder, &QLineEdit::textChanged, this,
            &DestinationDialog::destinationFolderChanged);
    connect(ui->namePattern, &QLineEdit::textChanged, this, &DestinationDialog::namePatternChanged);
    connect(ui->fileType, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &DestinationDialog::formatChanged);
    connect(ui->compression, QOverload<int>::of(&QSpinBox::valueChanged), this,
            &DestinationDialog::compressionChanged);

    connect(ui->video, &QCheckBox::toggled, this, &DestinationDialog::videoChanged);
    connect(ui->video, &QCheckBox::toggled, this, &DestinationDialog::updateVideoControls);
    connect(ui->videoFrameRate, QOverload<int>::of(&QSpinBox::valueChanged), this,
            &DestinationDialog::videoFrameRateChanged);

    ui->destinationFolder->setText(QDir::homePath());
    updateVideoControls();
}

DestinationDialog::~DestinationDialog()
{
    delete ui;
}

QString DestinationDialog::destinationFolder() const
{
    return ui->destinationFolder->text();
}

QString DestinationDialog::namePattern() const
{
    return ui->namePattern->text();
}

int DestinationDialog::format() const
{
    return ui->fileType->currentIndex();
}

int DestinationDialog::compression() const
{
    return ui->compression->value();
}

bool DestinationDialog::video() const
{
    return ui->video->isChecked() && ui->video->isEnabled();
}

int DestinationDialog::videoFrameRate() const
{
    return ui->videoFrameRate->value();
}

void DestinationDialog::setDestinationImageCount(int count)
{
    destinationImageCount = count;
    updateVideoControls();
}

void DestinationDialog::updateVideoControls()
{
    const bool possible = videoPossible && destinationImageCount >= 2;
    ui->video->setEnabled(possible);
    ui->videoFrameRate->setEnabled(possible && ui->video->isChecked());
    ui->videoFrameRateLabel->setEnabled(ui->videoFrameRate->isEnabled());
    const QString tip = languageText(!videoPossible ? 59 : possible ? 58 : 61);
    ui->video->setToolTip(tip);
    ui->videoFrameRate->setToolTip(tip);
}

void DestinationDialog::updateLanguage()
{
    setWindowTitle(languageText(21));
    ui->overwriteNotice->setText(languageText(41));
    ui->destinationFolderBox->setTitle(languageText(42));
    ui->destinationFolderButton->setText(languageText(3));
    ui->namePatternBox->setTitle(languageText(43));
    ui->fileTypeBox->setTitle(languageText(44));
    ui->fileType->setItemText(2, languageText(45));
    ui->fileType->setItemText(3, languageText(46));
    ui->compressionLabel->setText(languageText(47));
    ui->video->setText(languageText(56));
    ui->videoFrameRateLabel->setText(languageText(57));
    updateVideoControls();
    if (QPushButton *close = ui->buttonBox->button(QDialogButtonBox::Close))
        close->setText(languageText(48));
}

void DestinationDialog::setDestinationFolder(const QString &destinationFolder)
{
    ui->destinationFolder->setText(destinationFolder);
    ui->destinationFolderButton->setPath(destinationFolder);
}

void DestinationDialog::changeFileType(int type)
{
    ui->compression->setEnabled(type == 0);

    QString extension;
    switch (type) {
    case 0:
        extension = QStringLiteral("jpg");
        break;
    case 1:
        extension = QStringLiteral("png");
        break;
    default:
        extension = QStringLiteral("tif");
        break;
    }

    // Only the extension is replaced. A pattern without any "." keeps all of its text: dropping it
    // would turn every destination into the same hidden file ".png".
    const QString pattern = ui->namePattern->text();
    const int dot = pattern.lastIndexOf(QLatin1Char('.'));
    const QString base = dot >= 0 ? pattern.left(dot) : pattern;
    ui->namePattern->setText(QStringLiteral("%1.%2").arg(base, extension));
}

void DestinationDialog::showEvent(QShowEvent *)
{
    // Select the name without its extension, so typing replaces the name and keeps the type.
    // Without a "." the backward move covers everything and nothing stays selected.
    QLineEdit *pattern = ui->namePattern;
    const QString text = pattern->text();
    pattern->setFocus();
    pattern->selectAll();
    pattern->cursorBackward(true, text.length() - text.lastIndexOf(QLatin1Char('.')));
}
