#include "platform/window_support.h"

#include "platform/program.h"
#include "platform/test_hook.h"

#include <QEvent>
#include <QTimer>
#include <QWidget>

namespace krv::platform {

void St(QLabel* caption, const QString& text) {
    caption->setText(text);
    hook::status(caption->window()->objectName(), text);
    yield();
}

void setOwner(QWidget* window, QWidget* owner) {
    window->setParent(owner, window->windowFlags() | Qt::Window);
}

ActivationJob::ActivationJob(QWidget* window, std::function<void()> job)
    : QObject(window), window_(window), job_(std::move(job)) {
    window->installEventFilter(this);
}

void ActivationJob::run() {
    if (!tag_.isEmpty())
        return;
    tag_ = ".";
    job_();
}

bool ActivationJob::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_) {
        if (event->type() == QEvent::Show) {
            window_->activateWindow();
            // Queued: the window paints first, and a platform that never activates it
            // still gets the job started.
            QTimer::singleShot(0, this, [this] { run(); });
        } else if (event->type() == QEvent::WindowActivate) {
            QTimer::singleShot(0, this, [this] { run(); });
        }
    }
    return false;
}

} // namespace krv::platform
