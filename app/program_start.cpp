#include "app/program_start.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QTimer>

#include "app/devicelink.h"
#include "app/errors.h"

namespace lensmere {
namespace {

constexpr int kQuitSignals[] = {SIGTERM, SIGINT, SIGHUP};
int quit_pipe[2] = {-1, -1};

extern "C" void OnQuitSignal(int) {
    const char byte = 1;
    ssize_t ignored = ::write(quit_pipe[1], &byte, 1);
    (void)ignored;
}

// Ends the program the way its Exit button does when CatchQuitSignals()
// caught a signal: a transfer in progress is finished first.
class QuitOnSignals {
  public:
    explicit QuitOnSignals(TZarvoLink& window) {
        if (quit_pipe[0] < 0)
            return;
        notifier_ = std::make_unique<QSocketNotifier>(quit_pipe[0], QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [&window] {
            char bytes[16];
            while (::read(quit_pipe[0], bytes, sizeof bytes) > 0) {
            }
            QuitWhenIdle(window);
        });
    }
    QuitOnSignals(const QuitOnSignals&) = delete;
    QuitOnSignals& operator=(const QuitOnSignals&) = delete;

  private:
    static void QuitWhenIdle(TZarvoLink& window) {
        if (window.IsBusy()) {
            QTimer::singleShot(50, &window, [&window] { QuitWhenIdle(window); });
            return;
        }
        // Leaves every event loop, the modal dialogs' too.
        QCoreApplication::exit(0);
    }
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace

void CatchQuitSignals() {
    if (quit_pipe[0] >= 0 || ::pipe2(quit_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    struct sigaction sa {};
    sa.sa_handler = OnQuitSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int s : kQuitSignals)
        ::sigaction(s, &sa, nullptr);
}

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
    // The desktop entry this window belongs to: its app id under Wayland. (X11
    // desktops match the entry's StartupWMClass with the window's class,
    // the application name.)
    app.setDesktopFileName(QStringLiteral("org.quorbit.Lensmere"));

    int result = 0;
    {
        TProgram program;
        QuitOnSignals quit_on_signals(program.ZarvoLink());
        if (before_show)
            before_show(program);
        program.ZarvoLink().show();
        result = app.exec();
    }
    devicelink::Shutdown();
    return result;
}

}  // namespace lensmere
