#ifndef VELUMEN_LANGUAGETEXT_H
#define VELUMEN_LANGUAGETEXT_H

#include <QString>

// The interface texts by number, 0 to 50, in the current language (0 English, 1 Polish).
const QString &languageText(int id);
void setCurrentLanguage(int language);
int currentLanguage();

#endif
