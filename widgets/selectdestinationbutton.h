#ifndef VELUMEN_SELECTDESTINATIONBUTTON_H
#define VELUMEN_SELECTDESTINATIONBUTTON_H

#include <QPushButton>
#include <QString>

// Opens the folder chooser for the destination folder, starting in the folder last set or chosen.
class SelectDestinationButton : public QPushButton
{
    Q_OBJECT

public:
    explicit SelectDestinationButton(QWidget *parent = nullptr);

    // The folder the next chooser starts in.
    QString path() const { return m_path; }

signals:
    void selected(const QString &path);

public slots:
    void setPath(const QString &path);

private slots:
    void selectFolder();

private:
    QString m_path;
};

#endif
