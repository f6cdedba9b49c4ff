#include "languagetext.h"

#include <QStringList>

namespace {

// Built before main runs; the position in each list is the text's number.
const QList<QStringList> languageTexts = {
    {
        QStringLiteral("See <a href=\"#readme\">README.TXT</a> for details."), // 0
        QStringLiteral("Language"), // 1
        QStringLiteral("Source images"), // 2
        QStringLiteral("Choose..."), // 3
        QStringLiteral("Number of source images:"), // 4
        QStringLiteral("Preview"), // 5
        QStringLiteral("Match condition for source images"), // 6
        QStringLiteral("All images"), // 7
        QStringLiteral("All previous images"), // 8
        QStringLiteral("Groups of images"), // 9
        QStringLiteral("Groups of images (loop)"), // 10
        QStringLiteral("Disjoint groups of images"), // 11
        QStringLiteral("Stack method"), // 12
        QStringLiteral("Lighten only"), // 13
        QStringLiteral("Darken only"), // 14
        QStringLiteral("Mean"), // 15
        QStringLiteral("Fade options"), // 16
        QStringLiteral("No fading"), // 17
        QStringLiteral("Fade in"), // 18
        QStringLiteral("Fade out"), // 19
        QStringLiteral("Fade in and out"), // 20
        QStringLiteral("Name and format of destination images"), // 21
        QStringLiteral("Number of destination images:"), // 22
        QStringLiteral("Begin"), // 23
        QStringLiteral("Cancel"), // 24
        QStringLiteral("Open destination folder after finishing"), // 25
        QStringLiteral("Number of images per group"), // 26
        QStringLiteral("Step between groups"), // 27
        QStringLiteral("Number of groups"), // 28
        QStringLiteral("Percentage of initial images"), // 29
        QStringLiteral("Percentage of final images"), // 30
        QStringLiteral("Processing image #%1 (operation %2 of %3)..."), // 31
        QStringLiteral("Error"), // 32
        QStringLiteral("No source images loaded."), // 33
        QStringLiteral("No images to be saved."), // 34
        QStringLiteral("Select files"), // 35
        QStringLiteral("Images"), // 36
        QStringLiteral("All files"), // 37
        QStringLiteral("Select destination folder"), // 38
        QStringLiteral("Loading image..."), // 39
        QStringLiteral("No image selected"), // 40
        QStringLiteral("All existing files will be overwritten without warning."), // 41
        QStringLiteral("Destination folder"), // 42
        QStringLiteral("Name format of destination files"), // 43
        QStringLiteral("Type of destination files"), // 44
        QStringLiteral("8 bits/channel"), // 45
        QStringLiteral("16 bits/channel"), // 46
        QStringLiteral("Quality"), // 47
        QStringLiteral("Close"), // 48
        QStringLiteral("Error opening image:<br><b>%1</b><br><br>Check if the file exists.<br>Check your "
                       "permissions."), // 49
        QStringLiteral("Error saving image:<br><b>%1</b><br><br>Check if the destination directory "
                       "exists.<br>Check your permissions."), // 50
        QStringLiteral("Cannot write to the destination folder:<br><b>%1</b><br><br>Check if the destination "
                       "directory exists.<br>Check your permissions."), // 51
        QStringLiteral("A destination file is one of the source images:<br><b>%1</b><br><br>Choose another "
                       "destination folder or name format."), // 52
        QStringLiteral("Preview: destination image %1 of %2"), // 53
        QStringLiteral("%1% · about %2 left"), // 54
        QStringLiteral("%1 h %2 min"), // 55
        QStringLiteral("Also make a video (MP4)"), // 56
        QStringLiteral("Frames per second"), // 57
        QStringLiteral("The video is made in the destination folder, named after the name format without its "
                       "runs of * and with the extension mp4 (output****.jpg gives output.mp4). Every "
                       "destination image is one frame; the video is reduced to fit within 3840 × 2160, "
                       "keeping the aspect ratio."), // 58
        QStringLiteral("Making a video needs ffmpeg. Install it (on Debian or Ubuntu: sudo apt install "
                       "ffmpeg) or put it in the tools folder, then start Velumen again."), // 59
        QStringLiteral("The video file cannot be replaced:<br><b>%1</b><br><br>Check your "
                       "permissions."), // 60
        QStringLiteral("A video needs at least two destination images."), // 61
    },
    {
        QStringLiteral("Szczegóły w pliku <a href=\"#readme\">README.TXT</a>."), // 0
        QStringLiteral("Język"), // 1
        QStringLiteral("Obrazy źródłowe"), // 2
        QStringLiteral("Wybierz..."), // 3
        QStringLiteral("Liczba obrazów źródłowych:"), // 4
        QStringLiteral("Podgląd"), // 5
        QStringLiteral("Warunek dopasowania obrazów źródłowych"), // 6
        QStringLiteral("Wszystkie obrazy"), // 7
        QStringLiteral("Wszystkie poprzednie obrazy"), // 8
        QStringLiteral("Grupy obrazów"), // 9
        QStringLiteral("Grupy obrazów (pętla)"), // 10
        QStringLiteral("Rozłączne grupy obrazów"), // 11
        QStringLiteral("Metoda składania"), // 12
        QStringLiteral("Tylko jaśniejsze"), // 13
        QStringLiteral("Tylko ciemniejsze"), // 14
        QStringLiteral("Uśrednienie"), // 15
        QStringLiteral("Opcje zanikania"), // 16
        QStringLiteral("Bez zanikania"), // 17
        QStringLiteral("Zanikanie na początku"), // 18
        QStringLiteral("Zanikanie na końcu"), // 19
        QStringLiteral("Zanikanie na początku i na końcu"), // 20
        QStringLiteral("Nazwa i format obrazów docelowych"), // 21
        QStringLiteral("Liczba obrazów docelowych:"), // 22
        QStringLiteral("Rozpocznij"), // 23
        QStringLiteral("Anuluj"), // 24
        QStringLiteral("Otwórz folder docelowy po zakończeniu"), // 25
        QStringLiteral("Liczba obrazów na grupę"), // 26
        QStringLiteral("Krok pomiędzy grupami"), // 27
        QStringLiteral("Liczba grup"), // 28
        QStringLiteral("Procent początkowych obrazów"), // 29
        QStringLiteral("Procent końcowych obrazów"), // 30
        QStringLiteral("Przetwarzanie obrazu nr %1 (operacja %2 z %3)..."), // 31
        QStringLiteral("Błąd"), // 32
        QStringLiteral("Nie załadowano obrazów źródłowych."), // 33
        QStringLiteral("Nie ma obrazów do zapisania."), // 34
        QStringLiteral("Wybierz pliki"), // 35
        QStringLiteral("Obrazy"), // 36
        QStringLiteral("Wszystkie pliki"), // 37
        QStringLiteral("Wybierz folder docelowy"), // 38
        QStringLiteral("Ładowanie obrazu..."), // 39
        QStringLiteral("Nie wybrano obrazu"), // 40
        QStringLiteral("Wszystkie istniejące pliki zostaną nadpisane bez ostrzeżenia."), // 41
        QStringLiteral("Folder docelowy"), // 42
        QStringLiteral("Format nazwy plików docelowych"), // 43
        QStringLiteral("Typ plików docelowych"), // 44
        QStringLiteral("8 bitów/kanał"), // 45
        QStringLiteral("16 bitów/kanał"), // 46
        QStringLiteral("Jakość"), // 47
        QStringLiteral("Zamknij"), // 48
        QStringLiteral("Błąd w odczycie obrazu:<br><b>%1</b><br><br>Sprawdź, czy plik istnieje.<br>Sprawdź "
                       "swoje uprawnienia."), // 49
        QStringLiteral("Błąd w zapisie obrazu:<br><b>%1</b><br><br>Sprawdź, czy folder docelowy "
                       "istnieje.<br>Sprawdź swoje uprawnienia."), // 50
        QStringLiteral("Nie można zapisać w folderze docelowym:<br><b>%1</b><br><br>Sprawdź, czy folder "
                       "docelowy istnieje.<br>Sprawdź swoje uprawnienia."), // 51
        QStringLiteral("Plik docelowy jest jednym z obrazów źródłowych:<br><b>%1</b><br><br>Wybierz inny "
                       "folder docelowy lub format nazwy."), // 52
        QStringLiteral("Podgląd: obraz docelowy %1 z %2"), // 53
        QStringLiteral("%1% · zostało około %2"), // 54
        QStringLiteral("%1 godz. %2 min"), // 55
        QStringLiteral("Utwórz także film (MP4)"), // 56
        QStringLiteral("Klatek na sekundę"), // 57
        QStringLiteral("Film powstaje w folderze docelowym, a jego nazwa to format nazwy bez ciągów znaków * "
                       "i z rozszerzeniem mp4 (output****.jpg daje output.mp4). Każdy obraz docelowy to "
                       "jedna klatka; film jest zmniejszany tak, by zmieścił się w 3840 × 2160, z "
                       "zachowaniem proporcji."), // 58
        QStringLiteral("Do utworzenia filmu potrzebny jest program ffmpeg. Zainstaluj go (w Debianie lub "
                       "Ubuntu: sudo apt install ffmpeg) albo umieść go w folderze tools, a następnie "
                       "uruchom Velumen ponownie."), // 59
        QStringLiteral("Nie można zastąpić pliku filmu:<br><b>%1</b><br><br>Sprawdź swoje "
                       "uprawnienia."), // 60
        QStringLiteral("Film wymaga co najmniej dwóch obrazów docelowych."), // 61
    },
};

int language = 0;

} // namespace

const QString &languageText(int id)
{
    return languageTexts.at(language).at(id);
}

void setCurrentLanguage(int newLanguage)
{
    language = newLanguage;
}

int currentLanguage()
{
    return language;
}
