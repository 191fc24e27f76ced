// The program's general error report: anything a handler raises ends up in a
// message box, after which the program goes on. Tests replace the message
// box with a handler that records the texts.
#pragma once

#include <QApplication>
#include <QString>

#include <exception>
#include <functional>

namespace lensmere {

// Shows a modal message box with an OK button (or hands the text to the
// installed handler).
void ShowMessage(const QString& text);

using MessageHandler = std::function<void(const QString& text)>;
// Installs a handler in place of the message box, or restores the message box
// with an empty function. Returns the previous handler.
MessageHandler SetMessageHandler(MessageHandler handler);

// Reports an error that escaped a handler.
void ReportApplicationError(const std::exception& error);

// Runs a handler; whatever it raises is reported and swallowed.
template <class Handler>
void RunHandler(Handler&& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        ReportApplicationError(error);
    } catch (...) {
        ReportApplicationError(std::runtime_error("Unknown error"));
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
