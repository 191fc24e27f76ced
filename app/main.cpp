// lensmere: the main window first, then the album and the print dialog, which
// live as long as the program; the program ends when the main window closes.
// Started from the desktop menu it works in the user's Pictures folder and
// keeps its temporary pictures in a private folder that goes when it ends.
#include <cstdio>
#include <memory>
#include <string>

#include "app/pictures_folder.h"
#include "app/program_start.h"
#include "app/temporary_folder.h"

int main(int argc, char** argv) {
    lensmere::CatchQuitSignals();
    bool from_menu = false;
    lensmere::EnterPicturesFolderIfAsked(argc, argv, &from_menu);
    std::unique_ptr<lensmere::PrivateTemporaryFolder> temporary;
    if (from_menu) {
        std::string error;
        temporary = lensmere::PrivateTemporaryFolder::Create(&error);
        if (!temporary) {
            std::fprintf(stderr, "lensmere: %s; keeping the temporary pictures where it works\n",
                         error.c_str());
        }
    }
    return lensmere::RunProgram(argc, argv, [&](lensmere::TProgram& program) {
        if (temporary)
            program.ZarvoLink().SetTemporaryFolder(temporary->path());
    });
}
