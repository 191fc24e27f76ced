// A private X display for tests that drive the real program with real input: Xvfb (it picks
// a free display number), the openbox window manager, xdotool and ImageMagick's import.
#pragma once

#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace apptest {

// Reads lines from a process until one starts with a prefix or the time runs out.
class LineReader {
  public:
    explicit LineReader(QProcess* process) : process_(process) {}
    // The line, or empty when none came in time (or the process ended).
    QString WaitFor(const QString& prefix, int timeout_ms);
    const QStringList& Seen() const { return seen_; }

  private:
    QProcess* process_;
    QStringList seen_;
};

class X11Session {
  public:
    // Empty when everything needed is installed, else what is missing.
    static QString MissingTools();

    X11Session();
    ~X11Session();
    // Starts Xvfb and openbox; false (with Error()) when either does not come up.
    bool Start(int timeout_ms);
    const QString& Error() const { return error_; }

    // Starts a program on the display in `workdir`; its standard output is read by Lines().
    bool Launch(const QString& program, const QStringList& args, const QString& workdir);
    LineReader& Lines() { return *lines_; }
    QProcess& Program() { return *program_; }

    // Waits until a window with this exact name is on the screen.
    bool WaitForWindow(const QString& name, int timeout_ms);
    // Runs xdotool with these blank-separated commands; true when it succeeded.
    bool Xdotool(const QString& commands);
    // The whole screen; also saved as `keep_as` when that is not empty (to look at).
    QImage Screenshot(const QString& keep_as = QString());

  private:
    bool Run(const QString& tool, const QStringList& args, int timeout_ms = 30000);

    std::unique_ptr<QProcess> xvfb_;
    std::unique_ptr<QProcess> wm_;
    std::unique_ptr<QProcess> program_;
    std::unique_ptr<LineReader> lines_;
    QProcessEnvironment env_;
    QString runtime_dir_;
    QString error_;
};

}  // namespace apptest
