#ifndef VELUMEN_PREVIEWSTATE_H
#define VELUMEN_PREVIEWSTATE_H

#include <QImage>
#include <QObject>
#include <QString>

class QGroupBox;
class QListWidget;
class QListWidgetItem;
class ThumbnailWidget;

// What the preview shows, and its group box's title: a source image, a destination file clicked in
// the destination list, or the destination image a run is making. A run's pictures are followed
// from its start until the user clicks a source or a written destination (clicking one not yet
// written follows the run again); its completion shows the last destination image written, and a
// cancel or a failure keeps the last picture.
class PreviewState : public QObject
{
    Q_OBJECT

public:
    PreviewState(QGroupBox *box, ThumbnailWidget *preview, QListWidget *sources, QListWidget *destinations,
                 QObject *parent);

    void runStarted();
    // A reduced picture of destination image `image` (0-based) of `total`, from the run under way.
    void runPicture(int image, int total, const QImage &picture);
    void runCompleted();
    // Cancelled or failed: the picture and its title stay.
    void runStopped();
    // The title in the current language.
    void retranslate();

private:
    enum class Shows { Source, DestinationFile, Run };

    void sourceChanged();
    void sourcesReplaced();
    void sourceClicked(QListWidgetItem *item);
    void destinationClicked(QListWidgetItem *item);
    void showRunPicture();
    void show(Shows shows, int image = 0, int total = 0);

    QGroupBox *box;
    ThumbnailWidget *preview;
    QListWidget *destinations;
    Shows shows = Shows::Source;
    int image = 0; // of a destination shown, 0-based
    int total = 0;
    bool running = false;
    bool followingRun = false;
    QImage runImage; // the run's last picture, of destination image runImageNumber
    int runImageNumber = 0;
    int runTotal = 0;
};

#endif
