#include "runs/frm_proc.h"

#include "download/frm_download.h"
#include "platform/forms.h"
#include "platform/window_support.h"
#include "runs/fetch_update_file.h"
#include "runs/frm_atual_krv.h"
#include "runs/frm_atual_menu.h"
#include "runs/mod_add_zip.h"
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
    run.fetchFile = [this](const QString& heading, const QString& url, const QString& path,
                           qint64 listedSize) {
        return fetchUpdateFile(this, heading, url, path, listedSize);
    };
    struct Quiet {
        RunSession& run;
        ~Quiet() { run.fetchFile = nullptr; }
    } quiet{run};
    setCursor(Qt::WaitCursor);
    const std::optional<RunSession::Next> next = run.fetch();
    unsetCursor();
    if (!next)
        return;
    switch (*next) {
    case RunSession::Next::Database: {
        auto& w = form<runs::frmAtualKRV>();
        setOwner(&w, this);
        w.show();
        return;
    }
    case RunSession::Next::Menu:
        form<runs::frmAtualMenu>().show();
        return;
    case RunSession::Next::End:
        run.finish();
        return;
    }
}

} // namespace krv::runs
