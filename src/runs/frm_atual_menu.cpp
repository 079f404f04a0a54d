#include "runs/frm_atual_menu.h"

#include "platform/program.h"
#include "platform/window_support.h"
#include "runs/next_window.h"
#include "runs/run_session.h"
#include "runs/window_observer.h"

#include <QCloseEvent>

namespace krv::runs {

using namespace platform;

frmAtualMenu::frmAtualMenu() {
    setObjectName("frmAtualMenu");
    setWindowTitle("Atualização de Menu");
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint);
    setFixedSize(360, 70);
    Percent = new QProgressBar(this);
    Percent->setObjectName("Percent");
    Percent->setGeometry(12, 12, 336, 20);
    Percent->setRange(0, 1);
    Percent->setValue(0);
    Percent->setTextVisible(false);
    Label2 = new QLabel("100%", this);
    Label2->setObjectName("Label2");
    Label2->setGeometry(288, 38, 60, 18);
    Label2->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Label1 = new QLabel("0%", this);
    Label1->setObjectName("Label1");
    Label1->setGeometry(12, 38, 60, 18);
    job_ = new ActivationJob(this, [this] { Processa(); });
}

void frmAtualMenu::Form_Activate() {
    job_->run();
}

QString frmAtualMenu::tag() const {
    return job_->tag();
}

void frmAtualMenu::closeEvent(QCloseEvent* event) {
    // The window offers no cancel: once started, the reload runs to its end, which ends
    // the program anyway.
    if (!tag().isEmpty())
        event->ignore();
    else
        QWidget::closeEvent(event);
}

void frmAtualMenu::Processa() {
    WindowObserver observer;
    observer.showProgress = [this](const Progress& p) {
        if (p.phase == Progress::Phase::Start) {
            Percent->setRange(0, p.maximum);
            Percent->setValue(0);
        } else if (p.phase == Progress::Phase::Step) {
            Percent->setValue(p.value);
            yield();
        }
    };
    Observing observing(&observer);
    showNext(session().reloadMenu(), this);
    // A failure ended the program through the observer.
    endProgram(1);
}

} // namespace krv::runs
