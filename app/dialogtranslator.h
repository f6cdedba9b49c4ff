#ifndef VELUMEN_DIALOGTRANSLATOR_H
#define VELUMEN_DIALOGTRANSLATOR_H

#include <QTranslator>

// Qt's own translation of its standard dialogs (the file and folder choosers' buttons, columns and
// labels), so that they speak the language the window speaks. Velumen's own texts never come
// from here.
class DialogTranslator : public QTranslator
{
    Q_OBJECT

public:
    explicit DialogTranslator(QObject *parent = nullptr);

    // 0 English (Qt's own texts, nothing installed), 1 Polish. Without Qt's Polish catalogue on
    // the system the dialogs simply stay in English.
    void setLanguage(int language);

private:
    bool installed = false;
};

#endif
