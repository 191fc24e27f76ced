#include "app/errors.h"

#include <QMessageBox>
#include <QThread>

#include <cerrno>
#include <stdexcept>

#include "app/dialogstyle.h"

namespace lensmere {
namespace {

// A message box centred over the window it belongs to. Qt places a box by a guess at the
// window frame's size, which puts it off centre by the guess's error.
class CentredMessageBox : public QMessageBox {
  public:
    using QMessageBox::QMessageBox;

  protected:
    void showEvent(QShowEvent* event) override {
        QMessageBox::showEvent(event);  // gives the box its size
        CentreOverOwner(*this);
    }
};

MessageHandler& Handler() {
    static MessageHandler handler;
    return handler;
}

}  // namespace

InOutError::InOutError(int code) : Error(InOutErrorText(code)), code_(code) {}

std::string InOutErrorText(int code) {
    switch (code) {
        case ENOENT:
            return "File not found";
        case ENOTDIR:
        case EISDIR:
        case ENAMETOOLONG:
        case EINVAL:
        case ELOOP:
            return "Invalid filename";
        case EMFILE:
        case ENFILE:
            return "Too many open files";
        case EACCES:
        case EPERM:
        case EROFS:
        case ETXTBSY:
            return "File access denied";
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return "Disk full";
        default:
            return "I/O error " + std::to_string(code);
    }
}

void ShowMessage(const QString& text) {
    if (MessageHandler handler = Handler()) {
        handler(text);
        return;
    }
    // Over the dialog that raised the error: the modal one on top, which need not be active
    // yet when a system dialog has just closed.
    QWidget* owner = QApplication::activeModalWidget();
    if (owner == nullptr) {
        owner = QApplication::activeWindow();
    }
    CentredMessageBox box(QMessageBox::NoIcon, QStringLiteral("ZarvoLink"), text, QMessageBox::Ok,
                          owner);
    StyleMessageBox(box);
    box.exec();
}

MessageHandler SetMessageHandler(MessageHandler handler) {
    MessageHandler previous = std::move(Handler());
    Handler() = std::move(handler);
    return previous;
}

void ReportError(const std::exception& error) {
    ShowMessage(QString::fromUtf8(error.what()));
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ReportError(error);
    } catch (...) {
        ReportError(std::runtime_error("Unknown error"));
    }
    return false;
}

}  // namespace lensmere
