#include "navigation/modulos.h"

#include "common/erro_fatal.h"
#include "common/file_version.h"
#include "common/run_mode.h"
#include "common/text.h"
#include "common/updatekrv.h"
#include "database/connection.h"
#include "download/protocol.h"
#include "navigation/frm_hist.h"
#include "navigation/frm_inicio.h"
#include "navigation/historico.h"
#include "platform/dialogs.h"
#include "platform/forms.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/program.h"
#include "platform/test_hook.h"
#include "runs/fetch_update_file.h"
#include "runs/frm_proc.h"
#include "runs/holds.h"
#include "runs/kept_files.h"
#include "runs/release_check.h"
#include "runs/run_outcome.h"
#include "runs/signed_files.h"
#include "runs/update_record.h"

#include <QDir>
#include <QFileInfo>
#include <QTextCursor>
#include <cmath>
#include <limits>

namespace krv::navigation {

using namespace platform;

namespace {

// The first row's value of the one column of sql, as "000000"; empty on any failure.
QString installedNumber(const QString& sql, const QString& column) {
    QString result;
    std::unique_ptr<database::Recordset> rs;
    try {
        database::CriaRecordset(rs, true);
        rs->Open(sql, database::Conexao());
        if (!rs->eof()) {
            const QVariant v = rs->field(column);
            const QString t = v.toString().trimmed();
            bool ok = false;
            const double n = t.toDouble(&ok);
            if (v.isNull())
                result.clear();
            else if (ok)
                result = text::formatZeros(std::llround(n), 6);
            else
                result = v.toString();
        }
    } catch (const std::exception&) {
        result.clear();
    }
    database::CriaRecordset(rs, false);
    return result;
}

// A program of the program folder by its base name; empty when it is not there.
QString programModule(const QString& baseName) {
    const QString folder = programFolder() + "/";
    const QString path = moduleFile(folder, baseName);
    if (!ordinaryFileExists(path))
        return {};
    return path;
}

QString installedModuleVersion(const QString& path) {
    const QFileInfo fi(path);
    return VersaoArquivo(fi.fileName(), fi.path() + "/");
}

// Set for the assistant an unattended self-update started: the version it was replaced with.
const char* const kReplacedWith = "ZELVOR_REPLACED_WITH";

[[noreturn]] void selfUpdate(frmInicio& w, const QString& baseName, const QString& offered,
                             const QString& installed) {
    QString caller = "Programa: frmInicio\r\nRotina: Modulos";
    // An assistant that still sorts before what the server offers right after replacing
    // itself would replace itself for ever, with nobody there to notice.
    if (runmode::unattended && qEnvironmentVariableIsSet(kReplacedWith))
        ErroFatal(caller,
                  KrvError(err::Download, "O assistente acabou de ser substituído pela versão " +
                                              qEnvironmentVariable(kReplacedWith) +
                                              ", mas o servidor ainda oferece a versão " + offered +
                                              ". A atualização do assistente foi interrompida."));
    const QString folder = updatekrv::updateFolder();
    if (!QFileInfo(folder).isDir())
        QDir().mkpath(folder);
    const QString archive = baseName + offered + ".zip";
    const QString path = winJoin(updatekrv::DirSis, "\\update\\" + archive);
    // Movrin runs whatever the archive holds: it is started only for the assistant the maker
    // listed in this release, at that version, never an older one.
    try {
        runs::release::offered(archive, offered, installed);
        if (runs::signaturesRequired()) {
            runs::release::fromServer(folder);
            runs::release::requireListed({archive});
        }
        const runs::FetchOutcome got =
            runs::fetchUpdateFile(&w, "Atualizando Assistente...", protocol::fileUrl(archive), path,
                                  runs::release::listedSize(archive));
        if (got.cancelled)
            runs::updateStopped();
        if (!got.whole)
            throw KrvError(err::Download,
                           "O arquivo " + archive + " não foi baixado: " + got.reason);
        runs::release::requireListedContent(archive, path, true);
        runs::release::requireAssistantVersion(archive, path, installed);
        runs::release::markApplied();
        runs::kept::assistantBeforeHandOver(path);
    } catch (const KrvError& e) {
        runs::release::clearAfterFailure(folder);
        ErroFatal(caller, e);
    }
    runs::record::filesFetched();
    const QString movrin = programFolder() + "/movrin";
    if (runmode::unattended) {
        // Movrin takes this process over and hands it to the new assistant: whoever waits
        // for this run gets the exit status of the run that finishes the update.
        qputenv(kReplacedWith, offered.toUtf8());
        hook::status("frmInicio",
                     "Atualizando o assistente para a versão " + offered + " (movrin)");
        endProgramAs(movrin,
                     QStringList{"-/update/" + archive, "--unattended"} + runmode::arguments);
    }
    if (!startDetached(movrin, {"-/update/" + archive}))
        msgBox("Não foi possível iniciar " + movrin + " para concluir a atualização do assistente.",
               Buttons::OK, Icon::Critical, "Aviso!");
    endProgram(0);
}

} // namespace

QString PegaAtBD() {
    return installedNumber("select ult_atualizacao from licensa", "ult_atualizacao");
}

QString PegaAtMNU() {
    return installedNumber("select atmenu from licensa", "atmenu");
}

bool sortsBefore(const QString& installed, const QString& offered) {
    return QString::compare(installed, offered, Qt::CaseSensitive) < 0;
}

std::optional<int> moduleCode(const QString& text) {
    bool ok = false;
    const double n = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(n))
        return std::nullopt;
    const double r = std::nearbyint(n);
    if (r < std::numeric_limits<int>::min() || r > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(r);
}

std::optional<QString> Historico(const protocol::Inet& inet, HistoryText& history, int code,
                                 const QString& installed) {
    const protocol::ListAnswer answer =
        protocol::requestList(inet, protocol::historyUrl(code, installed));
    if (!answer.ok)
        return answer.failure;
    QList<QStringList> records;
    for (const protocol::Record& r : answer.records)
        records << QStringList{r.field(0), r.field(1), r.field(2)};
    history.appendSection(code, records);
    return std::nullopt;
}

void serverUnreadable(const QString& what, const QString& reason) {
    msgBox("Não foi possível ler " + what + " no servidor de atualização: " + reason +
               ".\r\nNenhuma alteração foi feita. Verifique a conexão e tente novamente mais "
               "tarde.",
           Buttons::OK, Icon::Critical, "Aviso!");
    endProgram(1);
}

QString workListArchive(const QString& baseName, const QString& offered) {
    const QString name = baseName + offered + ".zip";
    if (baseName.isEmpty() || name.contains('/') || name.contains('\\') || name.contains(QChar(0)))
        return {};
    return name;
}

void Modulos(frmInicio& w) {
    const protocol::ListAnswer answer = protocol::requestList(w.Inet1, protocol::versionListUrl());
    updatekrv::VersaoBD.clear();
    // A list that could not be read is no proof that nothing is due.
    if (!answer.ok)
        serverUnreadable("a lista de versões", answer.failure);
    auto& hist = form<frmHist>();
    auto& proc = form<runs::frmProc>();
    proc.lstAux->clear();
    hist.RText->clear();
    HistoryText history(hist.RText);
    auto fetchHistory = [&](int code, const QString& installed) {
        if (const auto failure = Historico(w.Inet1, history, code, installed))
            serverUnreadable(QString("o histórico de alterações do módulo %1").arg(code), *failure);
    };
    for (const protocol::Record& r : answer.records) {
        // A record the server got wrong must not stop the others, nor queue empty versions.
        if (!r.hasField(2))
            continue;
        const std::optional<int> code = moduleCode(r.field(0));
        if (!code)
            continue;
        const QString baseName = r.field(1);
        const QString offered = r.field(2);
        if (*code == 1) {
            const QString installed = PegaAtBD();
            if (installed != offered) {
                updatekrv::VersaoBD = offered;
                runs::release::offered("krv.mdb", offered, installed);
                proc.lstAux->addItem("krv.mdb");
                fetchHistory(1, installed);
            }
        } else if (*code == 11) {
            const QString installed = PegaAtMNU();
            if (installed != offered && !runs::holds::leaveOut("menu", "mnusis_cs.krv", offered)) {
                updatekrv::VersaoMenu = offered;
                runs::release::offered("mnusis_cs.krv", offered, installed);
                proc.lstAux->addItem("mnusis_cs.krv");
                fetchHistory(11, installed);
            }
        } else {
            const QString archive = workListArchive(baseName, offered);
            if (archive.isEmpty())
                continue; // a name that would leave the update folder
            const QString path = programModule(baseName);
            if (path.isEmpty())
                continue;
            const QString installed = installedModuleVersion(path);
            if (!sortsBefore(installed, offered))
                continue;
            if (runs::holds::leaveOut(*code == 0 ? "assistant" : "module", baseName, offered))
                continue;
            if (*code == 0)
                selfUpdate(w, baseName, offered, installed);
            runs::release::offered(archive, offered, installed);
            proc.lstAux->addItem(archive);
            fetchHistory(*code, installed);
        }
    }
    // Decided on the work list: items due with an empty history still show the terms.
    if (proc.lstAux->count() == 0) {
        runs::reportOutcome(runs::Outcome::NothingToDo);
        msgBox("Seu sistema não necessita de nenhuma atualização!", Buttons::OK, Icon::Information,
               "Aviso!");
        endProgram(0);
    }
    QTextCursor start(hist.RText->document());
    hist.RText->setTextCursor(start);
    hist.show();
    unload(&w);
}

} // namespace krv::navigation
