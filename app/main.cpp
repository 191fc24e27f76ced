// lensmere: the main window first, then the album and the print dialog, which
// live as long as the program; the program ends when the main window closes.
#include "app/pictures_folder.h"
#include "app/program_start.h"

int main(int argc, char** argv) {
    lensmere::EnterPicturesFolderIfAsked(argc, argv);
    return lensmere::RunProgram(argc, argv);
}
