// The program's one way of failing: errors are raised as exceptions derived from Error,
// whose text is what the user reads; every handler runs through RunHandler, and whatever
// it raises ends up in a message box, after which the program goes on. Tests replace the
// message box with a handler that records the texts.
#pragma once

#include <QApplication>
#include <QString>

#include <exception>
#include <functional>
#include <stdexcept>
#include <string>

namespace lensmere {

// An error whose text is shown to the user as it is.
class Error : public std::runtime_error {
  public:
    explicit Error(const std::string& message) : std::runtime_error(message) {}
    explicit Error(const QString& message) : std::runtime_error(message.toStdString()) {}
};

// A file or folder that could not be created, written or opened; the text is the one for
// its operating-system error code ("File access denied", "Disk full", "I/O error 5", ...).
class InOutError : public Error {
  public:
    explicit InOutError(int code);
    int Code() const { return code_; }

  private:
    int code_;
};

// A text that is not a number, or a picture that cannot be read or made
// ("'$5A1G' is not a valid integer value", "Bitmap image is not valid", "JPEG error #…").
class ConversionError : public Error {
  public:
    using Error::Error;
};

// The text of an errno value as the program reports it.
std::string InOutErrorText(int code);

// Shows a modal message box with an OK button (or hands the text to the
// installed handler).
void ShowMessage(const QString& text);

using MessageHandler = std::function<void(const QString& text)>;
// Installs a handler in place of the message box, or restores the message box
// with an empty function. Returns the previous handler.
MessageHandler SetMessageHandler(MessageHandler handler);

// Reports an error that escaped a handler.
void ReportError(const std::exception& error);

// Runs a handler; whatever it raises is reported and swallowed. Qt must not see an
// exception leave an event handler.
template <class Handler>
void RunHandler(Handler&& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        ReportError(error);
    } catch (...) {
        ReportError(std::runtime_error("Unknown error"));
    }
}

// The application object: an exception that leaves the delivery of an event
// is reported instead of ending the program.
class TApplication : public QApplication {
  public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace lensmere
