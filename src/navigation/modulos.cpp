#include "navigation/modulos.h"

#include "common/release_manifest.h"
#include "common/run_mode.h"
#include "common/updatekrv.h"
#include "download/protocol.h"
#include "navigation/frm_hist.h"
#include "navigation/frm_inicio.h"
#include "navigation/historico.h"
#include "platform/forms.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/program.h"
#include "runs/fetch_update_file.h"
#include "runs/frm_proc.h"
#include "runs/kept_files.h"
#include "runs/release_check.h"
#include "runs/signed_files.h"
#include "runs/update_record.h"
#include "runs/window_observer.h"

#include <QDir>
#include <QFileInfo>
#include <QTextCursor>

namespace krv::navigation {

using namespace platform;

namespace {
// Set for the assistant an unattended self-update started: the version it was replaced with.
const char* const kReplacedWith = "ZELVOR_REPLACED_WITH";
} // namespace

void selfUpdate(runs::RunSession& run, const runs::WorkItem& assistant, QWidget* owner) {
    const QString caller = "Programa: frmInicio\r\nRotina: Modulos";
    const QString& offered = assistant.offered;
    const QString& installed = assistant.installed;
    // An assistant that still sorts before what the server offers right after replacing
    // itself would replace itself for ever, with nobody there to notice.
    if (runmode::unattended && qEnvironmentVariableIsSet(kReplacedWith)) {
        run.fail(caller,
                 KrvError(err::Download, "O assistente acabou de ser substituído pela versão " +
                                             qEnvironmentVariable(kReplacedWith) +
                                             ", mas o servidor ainda oferece a versão " + offered +
                                             ". A atualização do assistente foi interrompida."));
        return;
    }
    const QString folder = updatekrv::updateFolder();
    if (!QFileInfo(folder).isDir())
        QDir().mkpath(folder);
    const QString archive = assistant.baseName + offered + ".zip";
    const QString path = winJoin(updatekrv::DirSis, "\\update\\" + archive);
    // Movrin runs whatever the archive holds: it is started only for the assistant the maker
    // listed in this release, at that version, never an older one.
    try {
        runs::release::offered(archive, offered, installed);
        if (runs::signaturesRequired()) {
            runs::release::fromServer(folder);
            runs::release::requireListed({archive});
        }
        const QString url = protocol::fileUrl(archive);
        const qint64 listed = runs::release::listedSize(archive);
        const runs::FetchOutcome got =
            owner ? runs::fetchUpdateFile(owner, "Atualizando Assistente...", url, path, listed)
                  : runs::fetchQuietly(url, path, listed);
        if (got.cancelled) {
            run.stopped();
            return;
        }
        if (!got.whole)
            throw KrvError(err::Download,
                           "O arquivo " + archive + " não foi baixado: " + got.reason);
        runs::release::requireListedContent(archive, path, true);
        runs::release::requireAssistantVersion(archive, path, installed);
        runs::release::markApplied();
        runs::kept::assistantBeforeHandOver(path);
    } catch (const KrvError& e) {
        runs::release::clearAfterFailure(folder);
        run.fail(caller, e);
        return;
    }
    runs::record::filesFetched();
    // Movrin unpacks only the archive checked here: a file swapped in update/ since is refused.
    const QString sha256 = manifest::fileSha256(path);
    const QString movrin = programFolder() + "/movrin";
    if (runmode::unattended) {
        // Movrin takes this process over and hands it to the new assistant: whoever waits
        // for this run gets the exit status of the run that finishes the update.
        qputenv(kReplacedWith, offered.toUtf8());
        run.status("frmInicio", "Atualizando o assistente para a versão " + offered + " (movrin)");
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
    switch (run.check(w.Inet1)) {
    case runs::RunSession::Check::Failed:
    case runs::RunSession::Check::NothingToDo:
        return; // the observer ended the program
    case runs::RunSession::Check::Assistant:
        selfUpdate(run, *run.assistant, &w);
        return;
    case runs::RunSession::Check::Due:
        break;
    }
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
