#include "app/errors.h"

#include <QMessageBox>
#include <QThread>

#include <stdexcept>

#include "app/dialogstyle.h"

namespace lensmere {
namespace {

MessageHandler& Handler() {
    static MessageHandler handler;
    return handler;
}

}  // namespace

void ShowMessage(const QString& text) {
    if (MessageHandler handler = Handler()) {
        handler(text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("ZarvoLink"), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    styleMessageBox(box);
    box.exec();
}

MessageHandler SetMessageHandler(MessageHandler handler) {
    MessageHandler previous = std::move(Handler());
    Handler() = std::move(handler);
    return previous;
}

void ReportApplicationError(const std::exception& error) {
    ShowMessage(QString::fromUtf8(error.what()));
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ReportApplicationError(error);
    } catch (...) {
        ReportApplicationError(std::runtime_error("Unknown error"));
    }
    return false;
}

}  // namespace lensmere
