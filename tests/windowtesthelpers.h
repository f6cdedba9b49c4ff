#ifndef VELUMEN_WINDOWTESTHELPERS_H
#define VELUMEN_WINDOWTESTHELPERS_H

// Shared by the main window tests.

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <QWidget>

// Closes the next message box that appears (it is modal, so the test runs it from a timer) and
// keeps what it showed.
class BoxCatcher : public QObject
{
public:
    QString title;
    QString text;
    int buttonCount = 0;
    int boxesSeen = 0;

    void arm()
    {
        tries = 0;
        QTimer::singleShot(20, this, [this] { poll(); });
    }

    // How long to look for the box, in steps of 20 ms.
    int maxTries = 250;

private:
    int tries = 0;

    void poll()
    {
        const QWidgetList widgets = QApplication::topLevelWidgets();
        for (QWidget *widget : widgets) {
            auto *box = qobject_cast<QMessageBox *>(widget);
            if (box && box->isVisible()) {
                title = box->windowTitle();
                text = box->text();
                buttonCount = box->buttons().size();
                ++boxesSeen;
                box->button(QMessageBox::Ok)->click();
                return;
            }
        }
        if (++tries < maxTries)
            QTimer::singleShot(20, this, [this] { poll(); });
    }
};

// Stands in for the desktop's opener of file URLs, so that no file manager starts during a test.
class UrlRecorder : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> urls;

public slots:
    void openUrl(const QUrl &url) { urls << url; }
};

#endif
