#ifndef VELUMEN_WIDGETTESTHELPERS_H
#define VELUMEN_WIDGETTESTHELPERS_H

// Shared by the widget tests: the choosers are driven as a user would, through Qt's own file
// dialog opened by a real button click, from inside the dialog's event loop.

#include <QtWidgets>

#include <functional>

namespace WidgetTest {

inline QString canonical(const QString &path) { return QDir(path).canonicalPath(); }

// Makes every chooser Qt's own dialog, whatever the desktop, and points the home folder, where the
// choosers first open, at a disposable folder.
inline void useOwnDialogsAndHome(const QString &home)
{
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    qputenv("HOME", home.toLocal8Bit());
}

// Clicks `button` and hands the file dialog it opens to `act`; a dialog `act` leaves open is
// cancelled. Returns the canonical folder the dialog opened in, empty if none opened.
inline QString clickChooser(QAbstractButton &button,
                            const std::function<void(QFileDialog *)> &act = [](QFileDialog *) {})
{
    QObject guard; // polls still pending when no dialog opened die with it
    QString startedIn;
    std::function<void()> poll = [&]() {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return QTimer::singleShot(10, &guard, poll);
        startedIn = canonical(dialog->directory().absolutePath());
        act(dialog);
        if (dialog->isVisible()) // cancelled by default, and never left open to hang the test
            dialog->reject();
    };
    QTimer::singleShot(10, &guard, poll);
    button.click();
    return startedIn;
}

// Accepts the dialog with what it holds now; QDialog's accept skips QFileDialog's own checks of the
// typed text, so the chooser returns exactly the selection the test set up.
inline void acceptAsIs(QFileDialog *dialog) { static_cast<QDialog *>(dialog)->accept(); }

} // namespace WidgetTest

#endif
