#ifndef VELUMEN_LANGUAGETEXT_H
#define VELUMEN_LANGUAGETEXT_H

#include <QString>

// The interface texts by number, 0 to 55, in the current language (0 English, 1 Polish). New texts
// go at the end, so that every number keeps its text.
const QString &languageText(int id);
void setCurrentLanguage(int language);
int currentLanguage();

#endif
