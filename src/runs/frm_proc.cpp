#include "runs/frm_proc.h"

#include "download/frm_download.h"
#include "platform/forms.h"
#include "platform/window_support.h"
#include "runs/fetch_update_file.h"
#include "runs/mod_add_zip.h"
#include "runs/next_window.h"
#include "runs/txt_zip.h"

#include <QCloseEvent>
#include <QScopedValueRollback>
#include <QVBoxLayout>

namespace krv::runs {

using namespace platform;

frmProc::frmProc() {
    setObjectName("frmProc");
    setWindowTitle("Assistente de atualização KRV - Processamento");
    resize(420, 220);
    lstAux = new QListWidget(this);
    lstAux->setObjectName("lstAux");
    txtZip = criaTxtZip(this);
    lblStatus = new QLabel(this);
    lblStatus->setObjectName("lblStatus");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lstAux, 1);
    layout->addWidget(lblStatus);
    IniciaZip();
}

void frmProc::closeEvent(QCloseEvent* event) {
    if (!working_) {
        QWidget::closeEvent(event);
        return;
    }
    event->ignore();
    if (download::frmDownload* d = downloadUnderWay())
        d->askToStop();
}

void frmProc::showWorkList(const WorkList& work) {
    lstAux->clear();
    for (const QString& file : work.files())
        lstAux->addItem(file);
    for (const WorkItem& item : work.held)
        lstAux->addItem(item.file + " (retida)");
}

void frmProc::Processa() {
    // Cleared however the run is left: the hand-over, or an end a test turns into a throw.
    const QScopedValueRollback working(working_, true);
    RunSession& run = session();
    showWorkList(run.work);
    observer_.showStatus = [this](const QString& text) { St(lblStatus, text); };
    Observing observing(&observer_);
    const WindowFetching fetching(run.fetchFile, this);
    setCursor(Qt::WaitCursor);
    const StepResult next = run.fetch();
    unsetCursor();
    showNext(next, this);
}

} // namespace krv::runs
