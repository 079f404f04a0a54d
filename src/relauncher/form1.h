#pragma once
// Movrin's one window: on first activation it starts a 4-second timer whose ticks each make
// one attempt at replacing the assistant.
#include "relauncher/relauncher.h"

#include <QTimer>
#include <QWidget>

namespace krv::platform {
class ActivationJob;
}

namespace krv::relauncher {

class Form1 : public QWidget {
    Q_OBJECT
public:
    explicit Form1(const QString& argument);

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
