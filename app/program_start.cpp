#include "app/program_start.h"

#include "app/devicelink.h"
#include "app/errors.h"

namespace lensmere {

void InstallErrorReports() {
    devicelink::SetMessageSink([](std::string_view text) {
        ShowMessage(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    });
}

TProgram::TProgram() {
    InstallErrorReports();
    zarvo_link_ = std::make_unique<TZarvoLink>();
    preview_dlg_ = new TPreviewDlg(zarvo_link_.get());
    print_dlg_ = new TPrintDlg(zarvo_link_.get());
    album_link_ = std::make_unique<AlbumDialogLink>(*preview_dlg_);
    print_link_ = std::make_unique<PrintDialogLink>(*print_dlg_);
    zarvo_link_->SetAlbum(album_link_.get());
    zarvo_link_->SetPrintDialog(print_link_.get());
}

TProgram::~TProgram() {
    // The window forgets the dialogs' links before they go; the window then
    // takes its dialogs with it.
    zarvo_link_->SetAlbum(nullptr);
    zarvo_link_->SetPrintDialog(nullptr);
    print_link_.reset();
    album_link_.reset();
    zarvo_link_.reset();
}

int RunProgram(int argc, char** argv, const std::function<void(TProgram&)>& before_show) {
    TApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("ZarvoLink"));

    int result = 0;
    {
        TProgram program;
        if (before_show)
            before_show(program);
        program.ZarvoLink().show();
        result = app.exec();
    }
    devicelink::Shutdown();
    return result;
}

}  // namespace lensmere
