#include "app/skin/tools/window_event_reporter.h"

#include "app/skin/cool_button.h"
#include "app/skin/cool_form.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace lensmere::skin {

namespace {

void Report(const QString& line) {
    std::fputs(line.toUtf8().append('\n').constData(), stdout);
    std::fflush(stdout);
}

}  // namespace

WindowEventReporter::WindowEventReporter(QWidget* window) : QObject(window), window_(window) {}

void WindowEventReporter::Attach(QWidget* window) {
    auto* reporter = new WindowEventReporter(window);
    for (auto* form : window->findChildren<TCoolForm*>())
        reporter->WatchForm(form);
    for (auto* button : window->findChildren<TCoolButton*>())
        reporter->WatchButton(button);
    QCoreApplication::instance()->installEventFilter(reporter);
}

void WindowEventReporter::WatchForm(TCoolForm* form) {
    connect(form, &TCoolForm::DragMoveStarted, this, [](bool by_system) {
        Report(by_system ? QStringLiteral("drag system") : QStringLiteral("drag follow"));
    });
}

void WindowEventReporter::WatchButton(TCoolButton* button) {
    const QString line = QStringLiteral("click ") + button->objectName();
    connect(button, &TCoolButton::Clicked, this, [line] { Report(line); });
}

bool WindowEventReporter::eventFilter(QObject* watched, QEvent* event) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr || widget->window() != window_)
        return false;
    if (event->type() == QEvent::MouseButtonPress) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const QPoint at = widget->mapTo(window_, mouse->position().toPoint());
        Report(QStringLiteral("press %1 %2").arg(at.x()).arg(at.y()));
    } else if (event->type() == QEvent::Paint && !ready_ &&
               qobject_cast<TCoolForm*>(widget) != nullptr) {
        // The skin paints once the window is really on the screen.
        ready_ = true;
        QTimer::singleShot(0, window_, [this] {
            Report(QStringLiteral("ready %1 %2").arg(window_->x()).arg(window_->y()));
        });
    } else if (event->type() == QEvent::Move && widget == window_) {
        Report(QStringLiteral("move %1 %2").arg(window_->x()).arg(window_->y()));
    }
    return false;
}

}  // namespace lensmere::skin
