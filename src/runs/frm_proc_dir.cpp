#include "runs/frm_proc_dir.h"

#include "platform/forms.h"
#include "platform/window_support.h"
#include "runs/frm_atual_krv.h"
#include "runs/mod_add_zip.h"
#include "runs/run_session.h"
#include "runs/txt_zip.h"
#include "runs/window_observer.h"

#include <QVBoxLayout>

namespace krv::runs {

using namespace platform;

frmProcDir::frmProcDir() {
    setObjectName("frmProcDir");
    setWindowTitle("Assistente de atualização Norvale - Processamento");
    resize(420, 110);
    txtZip = criaTxtZip(this);
    lblStatus = new QLabel(this);
    lblStatus->setObjectName("lblStatus");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblStatus);
    job_ = new ActivationJob(this, [this] { Processa(); });
    IniciaZip();
}

QString frmProcDir::tag() const {
    return job_->tag();
}

void frmProcDir::Processa() {
    WindowObserver observer;
    observer.showStatus = [this](const QString& text) { St(lblStatus, text); };
    Observing observing(&observer);
    setCursor(Qt::WaitCursor);
    if (session().applyFolder() == RunSession::Next::Database) {
        auto& next = form<runs::frmAtualKRV>();
        setOwner(&next, this);
        next.show();
    }
}

} // namespace krv::runs
