#pragma once
// Movrin's one window: on first activation it starts a timer (4 s a tick) whose ticks each
// make one attempt at replacing the assistant.
#include "relauncher/relauncher.h"

#include <QTimer>
#include <QWidget>
#include <chrono>

namespace krv::platform {
class ActivationJob;
}

namespace krv::relauncher {

class Form1 : public QWidget {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kTick{4000};

    // tick: the time between attempts; only tests shorten it.
    explicit Form1(const QString& argument, std::chrono::milliseconds tick = kTick);

    QTimer* Timer1;
    const Relauncher& relauncher() const { return relauncher_; }
    Relauncher& relauncher() { return relauncher_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void Timer1_Timer();

    Relauncher relauncher_;
    platform::ActivationJob* activation_;
    bool attemptRunning_ = false;
};

} // namespace krv::relauncher
