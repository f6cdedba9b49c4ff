#include "languagetext.h"

#include <QtTest>

// Every text of both languages, by number; the placeholders stay for the caller to fill.
static const char *const texts[2][53] = {
    {"See <a href=\"#readme\">README.TXT</a> for details.", "Language", "Source images", "Choose...",
     "Number of source images:", "Preview", "Match condition for source images", "All images", "All previous images",
     "Groups of images", "Groups of images (loop)", "Disjoint groups of images", "Stack method", "Lighten only",
     "Darken only", "Mean", "Fade options", "No fading", "Fade in", "Fade out", "Fade in and out",
     "Name and format of destination images", "Number of destination images:", "Begin", "Cancel",
     "Open destination folder after finishing", "Number of images per group", "Step between groups",
     "Number of groups", "Percentage of initial images", "Percentage of final images",
     "Processing image #%1 (operation %2 of %3)...", "Error", "No source images loaded.", "No images to be saved.",
     "Select files", "Images", "All files", "Select destination folder", "Loading image...", "No image selected",
     "All existing files will be overwritten without warning.", "Destination folder",
     "Name format of destination files", "Type of destination files", "8 bits/channel", "16 bits/channel", "Quality",
     "Close", "Error opening image:<br><b>%1</b><br><br>Check if the file exists.<br>Check your permissions.",
     "Error saving image:<br><b>%1</b><br><br>Check if the destination directory exists.<br>Check your permissions.",
     "Cannot write to the destination folder:<br><b>%1</b><br><br>Check if the destination directory exists.<br>"
     "Check your permissions.",
     "A destination file is one of the source images:<br><b>%1</b><br><br>Choose another destination folder or name "
     "format."},
    {"Szczegóły w pliku <a href=\"#readme\">README.TXT</a>.", "Język", "Obrazy źródłowe", "Wybierz...",
     "Liczba obrazów źródłowych:", "Podgląd", "Warunek dopasowania obrazów źródłowych", "Wszystkie obrazy",
     "Wszystkie poprzednie obrazy", "Grupy obrazów", "Grupy obrazów (pętla)", "Rozłączne grupy obrazów",
     "Metoda składania", "Tylko jaśniejsze", "Tylko ciemniejsze", "Uśrednienie", "Opcje zanikania", "Bez zanikania",
     "Zanikanie na początku", "Zanikanie na końcu", "Zanikanie na początku i na końcu",
     "Nazwa i format obrazów docelowych", "Liczba obrazów docelowych:", "Rozpocznij", "Anuluj",
     "Otwórz folder docelowy po zakończeniu", "Liczba obrazów na grupę", "Krok pomiędzy grupami", "Liczba grup",
     "Procent początkowych obrazów", "Procent końcowych obrazów", "Przetwarzanie obrazu nr %1 (operacja %2 z %3)...",
     "Błąd", "Nie załadowano obrazów źródłowych.", "Nie ma obrazów do zapisania.", "Wybierz pliki", "Obrazy",
     "Wszystkie pliki", "Wybierz folder docelowy", "Ładowanie obrazu...", "Nie wybrano obrazu",
     "Wszystkie istniejące pliki zostaną nadpisane bez ostrzeżenia.", "Folder docelowy",
     "Format nazwy plików docelowych", "Typ plików docelowych", "8 bitów/kanał", "16 bitów/kanał", "Jakość", "Zamknij",
     "Błąd w odczycie obrazu:<br><b>%1</b><br><br>Sprawdź, czy plik istnieje.<br>Sprawdź swoje uprawnienia.",
     "Błąd w zapisie obrazu:<br><b>%1</b><br><br>Sprawdź, czy folder docelowy istnieje.<br>Sprawdź swoje uprawnienia.",
     "Nie można zapisać w folderze docelowym:<br><b>%1</b><br><br>Sprawdź, czy folder docelowy istnieje.<br>"
     "Sprawdź swoje uprawnienia.",
     "Plik docelowy jest jednym z obrazów źródłowych:<br><b>%1</b><br><br>Wybierz inny folder docelowy lub format "
     "nazwy."}};

class TestLanguageText : public QObject
{
    Q_OBJECT

private slots:
    // English first, Polish, and back: a changed, shifted or missing text, or a table read in the
    // wrong encoding, fails with the number and both texts.
    void everyText()
    {
        QCOMPARE(currentLanguage(), 0);
        for (int language : {0, 1, 0}) {
            setCurrentLanguage(language);
            for (int id = 0; id < 53; ++id)
                QCOMPARE(QString("%1: %2").arg(id).arg(languageText(id)),
                         QString("%1: %2").arg(id).arg(QString::fromUtf8(texts[language][id])));
        }
    }
};

QTEST_APPLESS_MAIN(TestLanguageText)
#include "tst_languagetext.moc"
