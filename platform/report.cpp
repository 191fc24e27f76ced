#include "platform/report.h"

#include <unistd.h>

#include <cerrno>
#include <mutex>

namespace platform {
namespace {

std::mutex& ReporterMutex() {
    static std::mutex mutex;
    return mutex;
}

ErrorReporter& InstalledReporter() {
    static ErrorReporter reporter;
    return reporter;
}

// One write() per report so that lines from several threads or processes do
// not interleave on a shared terminal.
void ReportToStderr(std::string_view caption, std::string_view text) {
    std::string line;
    line.reserve(caption.size() + text.size() + 3);
    line.append(caption).append(": ").append(text);
    // A report is one line whatever the text holds.
    for (char& c : line) {
        if (c == '\n' || c == '\r')
            c = ' ';
    }
    line.push_back('\n');
    const char* p = line.data();
    size_t left = line.size();
    while (left > 0) {
        ssize_t n = ::write(STDERR_FILENO, p, left);
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            return;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
}

}  // namespace

void ReportError(std::string_view caption, std::string_view text) {
    ErrorReporter reporter;
    {
        std::lock_guard lock(ReporterMutex());
        reporter = InstalledReporter();
    }
    // Called outside the lock: a reporter may itself report or install another.
    if (reporter) {
        reporter(caption, text);
    } else {
        ReportToStderr(caption, text);
    }
}

ErrorReporter SetErrorReporter(ErrorReporter reporter) {
    std::lock_guard lock(ReporterMutex());
    ErrorReporter previous = std::move(InstalledReporter());
    InstalledReporter() = std::move(reporter);
    return previous;
}

}  // namespace platform
