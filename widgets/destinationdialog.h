#ifndef VELUMEN_DESTINATIONDIALOG_H
#define VELUMEN_DESTINATIONDIALOG_H

#include <QDialog>
#include <QString>

class QShowEvent;

namespace Ui {
class DestinationDialog;
}

// The non-modal dialog for the destination folder, name pattern, file type and JPEG quality.
// Every change is announced at once; Close only hides the window.
class DestinationDialog : public QDialog
{
    Q_OBJECT

public:
    explicit DestinationDialog(QWidget *parent = nullptr);
    ~DestinationDialog() override;

    QString destinationFolder() const;
    QString namePattern() const;
    int format() const;
    int compression() const;
    // Whether the film is asked for (never while it cannot be made), and its frame rate.
    bool video() const;
    int videoFrameRate() const;

    // Writes the current language's texts into the dialog, shown or hidden.
    void updateLanguage();

signals:
    void destinationFolderChanged(const QString &);
    void namePatternChanged(const QString &);
    void formatChanged(int);
    void compressionChanged(int);
    void videoChanged(bool);
    void videoFrameRateChanged(int);

public slots:
    void setDestinationFolder(const QString &destinationFolder);
    // A film needs at least two destination images (and ffmpeg): the check box follows the count.
    void setDestinationImageCount(int count);

private slots:
    void changeFileType(int type);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void updateVideoControls();

    Ui::DestinationDialog *ui;
    bool videoPossible;
    int destinationImageCount = 0;
};

#endif
