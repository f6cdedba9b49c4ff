#ifndef VELUMEN_SELECTIMAGESBUTTON_H
#define VELUMEN_SELECTIMAGESBUTTON_H

#include <QPushButton>
#include <QString>
#include <QStringList>

// Opens the file chooser for several source images at once and remembers the folder of the
// last choice, so the next chooser starts there.
class SelectImagesButton : public QPushButton
{
    Q_OBJECT

public:
    explicit SelectImagesButton(QWidget *parent = nullptr);

    // The folder the next chooser opens in.
    QString path() const { return m_path; }

    // The image files among `paths` as absolute paths, in the given order, each folder replaced by
    // the images directly inside it in natural order, less those named as destination images (an
    // earlier run's results). Paths that are neither an existing image file nor a folder go to
    // `leftOut`.
    QStringList imageFiles(const QStringList &paths, QStringList *leftOut = nullptr);
    // What the last chooseFiles() left out of folders as destination names, or empty.
    QString resultsLeftOutNotice() const { return m_resultsLeftOut; }

public slots:
    // Chooses the image files of `paths` (as imageFiles) exactly as if the chooser had returned
    // them; when there are none, nothing changes, as after a cancelled chooser. Returns the paths
    // left out.
    QStringList chooseFiles(const QStringList &paths);
    // The destination name pattern in force, whose names a folder's images are checked against.
    void setDestinationPattern(const QString &pattern) { m_destinationPattern = pattern; }

signals:
    void pathChanged(QString path);
    void selected(QStringList files);
    void inputCountChanged(int count);

private slots:
    void selectFiles();

private:
    void choose(const QStringList &files);

    QString m_path;
    QString m_destinationPattern;
    QString m_resultsLeftOut;
};

#endif
