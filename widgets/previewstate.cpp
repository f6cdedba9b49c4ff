#include "previewstate.h"

#include "languagetext.h"
#include "thumbnailwidget.h"

#include <QFileInfo>
#include <QGroupBox>
#include <QListWidget>

PreviewState::PreviewState(QGroupBox *box, ThumbnailWidget *preview, QListWidget *sources,
                           QListWidget *destinations, QObject *parent)
    : QObject(parent),
      box(box),
      preview(preview),
      destinations(destinations)
{
    // The source list already hands its current file to the preview; a click on the current file,
    // which changes nothing there, brings it back after a destination image was shown.
    connect(sources, &QListWidget::currentTextChanged, this, &PreviewState::sourceChanged);
    connect(sources, &QListWidget::itemClicked, this, &PreviewState::sourceClicked);
    // A new choice of sources clears the preview, whatever it shows.
    connect(sources->model(), &QAbstractItemModel::modelReset, this, &PreviewState::sourcesReplaced);
    connect(destinations, &QListWidget::itemClicked, this, &PreviewState::destinationClicked);
}

void PreviewState::runStarted()
{
    running = true;
    followingRun = true;
    runImage = QImage();
}

void PreviewState::runPicture(int image, int total, const QImage &picture)
{
    // Nothing of a cancelled or failed run reaches the user.
    if (!running)
        return;
    runImage = picture;
    runImageNumber = image;
    runTotal = total;
    if (followingRun)
        showRunPicture();
}

void PreviewState::runCompleted()
{
    running = false;
    followingRun = false;
    if (!runImage.isNull())
        showRunPicture();
}

void PreviewState::runStopped()
{
    running = false;
    followingRun = false;
}

void PreviewState::retranslate()
{
    box->setTitle(shows == Shows::Source
                      ? languageText(5)
                      : languageText(53).arg(QString::number(image + 1), QString::number(total)));
    // The window's smallest size keeps the longest title shown so far whole.
    box->setMinimumWidth(qMax(box->minimumWidth(), box->minimumSizeHint().width()));
}

void PreviewState::sourceChanged()
{
    followingRun = false;
    show(Shows::Source);
}

void PreviewState::sourcesReplaced()
{
    followingRun = false;
    if (shows != Shows::Source)
        preview->changeImage(QString());
    show(Shows::Source);
}

void PreviewState::sourceClicked(QListWidgetItem *item)
{
    followingRun = false;
    if (shows != Shows::Source)
        preview->changeImage(item->text());
    show(Shows::Source);
}

void PreviewState::destinationClicked(QListWidgetItem *item)
{
    // The image being made may still hold an earlier run's file.
    const bool beingMade = running && destinations->row(item) == runImageNumber && !runImage.isNull();
    if (!beingMade && QFileInfo(item->text()).isFile()) {
        followingRun = false;
        preview->changeImage(item->text());
        show(Shows::DestinationFile, destinations->row(item), destinations->count());
    } else if (running) {
        followingRun = true;
        if (!runImage.isNull())
            showRunPicture();
    }
}

void PreviewState::showRunPicture()
{
    preview->showImage(runImage);
    show(Shows::Run, runImageNumber, runTotal);
}

void PreviewState::show(Shows shows, int image, int total)
{
    this->shows = shows;
    this->image = image;
    this->total = total;
    retranslate();
}
