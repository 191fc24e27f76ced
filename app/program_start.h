// The program's windows as start-up makes them: the main window first (its
// creation handler runs), then the album and then the print dialog, which
// live as long as the program and are shown modally on demand. The error
// reports of the device link and of the dialogs go to the program's general
// error report.
#pragma once

#include <functional>
#include <memory>

#include "app/albumdialog.h"
#include "app/dialoglinks.h"
#include "app/mainwindow.h"
#include "app/printdialog.h"

namespace lensmere {

// Sends the messages of the device link and the errors the dialogs raise to
// the program's message boxes. Done before the main window is made, so that
// its start-up already reports through them.
void InstallErrorReports();

class TProgram;

// From now on SIGTERM, SIGINT and SIGHUP (the session ending, Ctrl-C) end the
// program the way its Exit button does, once RunProgram's event loop runs
// (a signal that comes earlier waits for it), so that what the program
// cleans up at its end is cleaned up.
void CatchQuitSignals();

// The program from start to end: the application, the windows, the main
// window shown, the event loop, the device link shut down. `before_show`
// (main, tests) sees the windows before the main window shows. The exit code.
int RunProgram(int argc, char** argv, const std::function<void(TProgram&)>& before_show = {});

class TProgram {
  public:
    TProgram();
    ~TProgram();

    TZarvoLink& ZarvoLink() { return *zarvo_link_; }
    TPreviewDlg& PreviewDlg() { return *preview_dlg_; }
    TPrintDlg& PrintDlg() { return *print_dlg_; }

  private:
    std::unique_ptr<TZarvoLink> zarvo_link_;
    // Children of the main window, which owns them.
    TPreviewDlg* preview_dlg_ = nullptr;
    TPrintDlg* print_dlg_ = nullptr;
    std::unique_ptr<AlbumDialogLink> album_link_;
    std::unique_ptr<PrintDialogLink> print_link_;
};

}  // namespace lensmere
