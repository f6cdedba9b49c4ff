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

signals:
    void pathChanged(QString path);
    void selected(QStringList files);
    void inputCountChanged(int count);

private slots:
    void selectFiles();

private:
    QString m_path;
};

#endif
