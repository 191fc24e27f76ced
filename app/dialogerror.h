// Errors raised by the picture decoders and the two dialogs, and the hook through which
// the dialogs' button and menu handlers hand them to the program's error report.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>

class QString;
class QWidget;

namespace lensmere {

// Carries the exact text the user is shown ("JPEG error #%d", "Bitmap image is not valid", ...).
class DialogError : public std::runtime_error {
  public:
    explicit DialogError(const std::string& message) : std::runtime_error(message) {}
    explicit DialogError(const QString& message);
};

// Text for an operating-system error code the way file errors are shown to the user
// ("File not found", "File access denied", ..., or "I/O error %d").
QString ioErrorText(int errnoValue);

// Qt must not see an exception leave an event handler, so the dialogs' handlers run their
// work through runReported(), which passes anything thrown to the report set here. The
// program installs its general error report; the default shows what() in a message box.
using ErrorReport = std::function<void(QWidget* parent, const std::exception& error)>;
void setErrorReport(ErrorReport report);
void reportError(QWidget* parent, const std::exception& error);

template <class Work>
void runReported(QWidget* parent, Work&& work) {
    try {
        work();
    } catch (const std::exception& error) {
        reportError(parent, error);
    }
}

}  // namespace lensmere
