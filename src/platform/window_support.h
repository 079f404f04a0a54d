#pragma once
// Two conventions every window shares: a status caption shown to the user is followed by one
// pass of the event loop, and windows that run a job by themselves start it once, on their
// first activation or, where the platform delivers none, right after being shown.
#include <QLabel>
#include <QObject>
#include <QString>
#include <functional>

namespace krv::platform {

// Puts text into the caption, records it for the test hook, and yields once.
void St(QLabel* caption, const QString& text);

// Makes window a separate window owned by owner (shown above it, closed with the program)
// keeping the window flags it set for itself: a plain re-parenting would reset them and
// bring back buttons the window does not have.
void setOwner(QWidget* window, QWidget* owner);

// Runs job once for window: on its first activation, or right after it is shown when no
// activation comes. The run-once marker is tag(), "." once the job has started.
class ActivationJob : public QObject {
public:
    ActivationJob(QWidget* window, std::function<void()> job);
    const QString& tag() const { return tag_; }
    // Starts the job now unless it has already started.
    void run();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* window_;
    std::function<void()> job_;
    QString tag_;
};

} // namespace krv::platform
