#include "app/dialoglinks.h"

#include "app/albumdialog.h"
#include "app/printdialog.h"

namespace lensmere {

void AlbumDialogLink::ShowFolder(const QString& folder) {
    dialog_.ShowFolder(folder);
}

void PrintDialogLink::LoadPicture(const QString& file) {
    dialog_.LoadPicture(file);
}

void PrintDialogLink::PreparePicture() {
    dialog_.PreparePicture();
}

void PrintDialogLink::ShowModal() {
    dialog_.ShowModal();
}

}  // namespace lensmere
