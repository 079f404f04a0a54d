#include "relauncher/form1.h"

#include "platform/program.h"
#include "platform/window_support.h"

#include <QPainter>

namespace krv::relauncher {

Form1::Form1(const QString& argument, std::chrono::milliseconds tick)
    : relauncher_(argument, platform::programFolder()) {
    setObjectName("Form1");
    setWindowTitle("Atualizando assistente de atualização KRV");
    setFixedSize(360, 160);
    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(tick);
    connect(Timer1, &QTimer::timeout, this, &Form1::Timer1_Timer);
    activation_ = new platform::ActivationJob(this, [this] {
        relauncher_.reset();
        Timer1->start();
    });
}

void Form1::Timer1_Timer() {
    // The timer keeps ticking while an attempt's message is open: one attempt at a time.
    if (attemptRunning_)
        return;
    attemptRunning_ = true;
    relauncher_.Processar();
    attemptRunning_ = false;
}

void Form1::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), QColor(24, 64, 120));
    p.setPen(Qt::white);
    QFont f = font();
    f.setPointSize(16);
    f.setBold(true);
    p.setFont(f);
    p.drawText(rect().adjusted(0, 0, 0, -50), Qt::AlignCenter, "KRV");
    f.setPointSize(10);
    f.setBold(false);
    p.setFont(f);
    p.drawText(rect().adjusted(0, 60, 0, 0), Qt::AlignCenter,
               "Atualizando o assistente de atualização...");
}

} // namespace krv::relauncher
