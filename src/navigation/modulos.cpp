#include "navigation/modulos.h"

#include "common/release_manifest.h"
#include "common/run_mode.h"
#include "navigation/frm_hist.h"
#include "navigation/frm_inicio.h"
#include "navigation/historico.h"
#include "platform/forms.h"
#include "platform/process.h"
#include "platform/program.h"
#include "runs/fetch_update_file.h"
#include "runs/frm_proc.h"
#include "runs/window_observer.h"

#include <QTextCursor>

namespace krv::navigation {

using namespace platform;

void handOver(runs::RunSession& run) {
    const QString archive = run.assistant->file;
    // Movrin unpacks only the archive checked here: a file swapped in update/ since is refused.
    const QString sha256 = manifest::fileSha256(runs::updatePath(archive));
    const QString movrin = programFolder() + "/movrin";
    if (run.unattended) {
        // Movrin takes this process over and hands it to the new assistant: whoever waits
        // for this run gets the exit status of the run that finishes the update.
        qputenv(runs::kReplacedWith, run.assistant->offered.toUtf8());
        run.status("frmInicio", "Atualizando o assistente para a versão " + run.assistant->offered +
                                    " (movrin)");
        endProgramAs(movrin, QStringList{"-/update/" + archive, sha256, "--unattended"} +
                                 runmode::arguments);
    }
    if (!startDetached(movrin, {"-/update/" + archive, sha256}))
        run.message(
            {"Aviso!",
             "Não foi possível iniciar " + movrin + " para concluir a atualização do assistente.",
             Buttons::OK, Icon::Critical});
    endProgram(0);
}

void Modulos(frmInicio& w) {
    runs::WindowObserver observer;
    runs::Observing observing(&observer);
    runs::RunSession& run = runs::session();
    runs::StepResult next = run.check(w.Inet1);
    if (next == runs::StepResult::ReplaceAssistant) {
        const runs::WindowFetching fetching(run.fetchFile, &w);
        next = run.replaceAssistant();
    }
    if (next == runs::StepResult::HandOver)
        handOver(run);
    if (next != runs::StepResult::Terms)
        return; // the observer ended the program
    auto& hist = form<frmHist>();
    form<runs::frmProc>().showWorkList(run.work);
    hist.RText->clear();
    HistoryText history(hist.RText);
    for (const runs::HistorySection& section : run.history)
        history.appendSection(section.code, section.records);
    QTextCursor start(hist.RText->document());
    hist.RText->setTextCursor(start);
    hist.show();
    unload(&w);
}

} // namespace krv::navigation
