#include "runs/run_session.h"

#include "common/erro_fatal.h"
#include "common/text.h"
#include "common/updatekrv.h"
#include "database/abre_server.h"
#include "database/connection.h"
#include "database/menu_file.h"
#include "database/rehearsal.h"
#include "database/safe_update.h"
#include "database/schema_snapshot.h"
#include "database/schema_statements.h"
#include "database/schema_sync.h"
#include "database/update_file.h"
#include "download/protocol.h"
#include "platform/paths.h"
#include "platform/program.h"
#include "platform/run_lock.h"
#include "platform/settings.h"
#include "runs/delta_update.h"
#include "runs/dir_run.h"
#include "runs/holds.h"
#include "runs/kept_files.h"
#include "runs/leftovers.h"
#include "runs/mod_add_zip.h"
#include "runs/release_check.h"
#include "runs/release_steering.h"
#include "runs/run_end.h"
#include "runs/signed_files.h"
#include "runs/update_record.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QSqlError>
#include <algorithm>
#include <climits>
#include <filesystem>
#include <map>

namespace krv::runs {

using platform::Answer;
using platform::Buttons;
using platform::Icon;

RunSession& session() {
    static RunSession instance;
    return instance;
}

void RunSession::reset() {
    values = RunValues{};
    work.clear();
    history.clear();
    assistant.reset();
    installed = {};
    unattended = false;
    now = false;
    dataChange = database::DataChangePolicy::Ask;
    ownsUpdateFolder_ = true;
    placement_.clear();
    record.reset();
    releaseCheck.reset();
    tlsFailure.clear();
    stepWindow_.clear();
    lastMessage_.clear();
    ended_.reset();
    updatekrv::reset();
}

// ---- reports

void RunSession::status(const QString& window, const QString& text) {
    if (observer_)
        observer_->status(window, text);
}

Answer RunSession::message(const Message& message) {
    lastMessage_ = message.text;
    return observer_ ? observer_->message(message) : message.defaultAnswer;
}

void RunSession::progress(const Progress& progress) {
    if (observer_)
        observer_->progress(progress);
}

void RunSession::line(const QString& text) {
    if (observer_)
        observer_->line(text);
}

void RunSession::end(const RunEnd& failedOrDone) {
    RunEnd end = failedOrDone;
    // A run that fails after placing archives leaves no new module on the old structure.
    if (end.outcome == Outcome::Failed) {
        if (const rollback::FileResult back = placement_.undo(record); back.any())
            end.errorText += "\r\n\r\n" + putBackText(back);
    } else {
        placement_.clear();
    }
    ended_ = end;
    if (const std::optional<Message> report = reportBox(end))
        lastMessage_ = report->text;
    if (observer_)
        observer_->ended(end);
}

void RunSession::waitForPerson(const RunEnd& end) {
    if (observer_)
        observer_->waitsForPerson(end);
}

void RunSession::fail(const QString& caller, const KrvError& error) {
    failWith(error, RunEnd::Report::Fatal, caller);
}

void RunSession::failWith(const std::exception& error, RunEnd::Report report, const QString& caller,
                          int number) {
    // What was fetched is recorded first; a failed run keeps only what a later one resumes.
    if (ownsUpdateFolder_)
        releaseCheck.clearAfterFailure(updatekrv::updateFolder());
    end(failureEnd(error, report, caller, number));
}

void RunSession::stopped() {
    const QString text = "A atualização foi interrompida a pedido do usuário. Nada mais foi "
                         "aplicado; o que já foi baixado será aproveitado na próxima atualização.";
    message({"Aviso!", text, Buttons::OK, Icon::Information});
    RunEnd e;
    e.errorText = text;
    end(e);
}

namespace {

RunEnd ends(Outcome outcome, const QString& text = {}, int programCode = 0) {
    RunEnd e;
    e.outcome = outcome;
    e.errorText = text;
    e.programCode = programCode;
    return e;
}

Message box(const QString& text, Icon icon, const QString& title = "Aviso!") {
    return {title, text, Buttons::OK, icon};
}

// Porta as a port number; 0 when it is not a whole number from 1 to 65535.
int portNumber(const QString& porta) {
    bool ok = false;
    const int n = porta.trimmed().toInt(&ok);
    return ok && n >= 1 && n <= 65535 ? n : 0;
}

// The manifest fetched and accepted, and the withdrawn versions installed here put back;
// false when the run has failed.
bool steerRelease(RunSession& run, const QList<protocol::Record>& records) {
    try {
        run.releaseCheck.fromServer(updatekrv::updateFolder());
    } catch (const KrvError& e) {
        run.fail("Programa: frmInicio\r\nRotina: Modulos", e);
        return false;
    }
    QMap<QString, QString> offered;
    for (const protocol::Record& r : records) {
        const std::optional<int> code = moduleCode(r.field(0));
        if (code && *code != 1)
            offered[*code == 11 ? QString("menu") : r.field(1).toLower()] = r.field(2);
    }
    return steering::putBackWithdrawn(run, offered);
}

} // namespace

QString anotherRunText(const QString& folder) {
    return "Outra atualização do sistema em " + folder +
           " já está em andamento. Aguarde o término dela e tente novamente.";
}

void serverUnreadable(RunSession& session, const QString& what, const QString& reason) {
    const QString text = "Não foi possível ler " + what + " no servidor de atualização: " + reason +
                         ".\r\nNenhuma alteração foi feita. Verifique a conexão e tente novamente "
                         "mais tarde.";
    session.message(box(text, Icon::Critical));
    session.end(ends(Outcome::Failed, text, 1));
}

// ---- start

StepResult RunSession::start() {
    message(box("Atenção!\r\nAntes de continuar com este processo, certifique-se de ter uma cópia "
                "de segurança (backup) dos arquivos do sistema.",
                Icon::Information));
    updatekrv::DirSis = platform::getSetting("DirSis", platform::programFolder());
    updatekrv::DirSisExe = platform::getSetting("DirSisExe", platform::programFolder());
    // Until the lock is held the update folder may be another run's.
    ownsUpdateFolder_ = false;
    if (database::AbreServer() == 1) {
        const QString text = "Não foi possível estabelecer conexão com o servidor!";
        message(box(text, Icon::Critical));
        end(ends(Outcome::Failed, text));
        return StepResult::Ended;
    }
    // Taken before anything changes (the connection's repair of Config.BD before it is
    // atomic and gives the same file each time); held until the process ends.
    if (platform::takeRunLock(updatekrv::DirSis) == platform::RunLock::Busy) {
        const QString text = anotherRunText(updatekrv::DirSis);
        message(box(text, Icon::Exclamation));
        end(ends(Outcome::Locked, text));
        return StepResult::Ended;
    }
    ownsUpdateFolder_ = true;
    values.Atualizou = false;
    record.begin([this] {
        return record::RunFacts{values.UsuarioAtual,
                                !values.DirOrigem.isEmpty() ? values.DirOrigem
                                                            : protocol::baseUrl(),
                                values.Atualizou, lastMessage_};
    });
    return StepResult::ChooseSource;
}

// ---- Internet: login, version check, terms

std::optional<QString> readPortFile() {
    const auto lines = text::readTextLines(platform::programFolder() + "/port.cfg");
    if (!lines || lines->isEmpty())
        return std::nullopt;
    return lines->first();
}

void RunSession::readPort() {
    if (const auto port = readPortFile())
        values.Porta = *port;
}

bool requestLogin(const protocol::Inet& inet, const QString& user, const QString& password,
                  QString& tlsFailure) {
    const protocol::ServerAnswer answer = inet.Request(protocol::loginUrl(user, password));
    tlsFailure = answer.tlsFailure ? answer.failure : QString();
    return protocol::isWellFormed(answer.body);
}

StepResult RunSession::logIn(protocol::Inet& inet, const QString& user, const QString& password,
                             bool remember) {
    const QString porta = values.Porta;
    if (!porta.isEmpty()) {
        const int port = portNumber(porta);
        if (port == 0) {
            const QString text = "A porta de conexão configurada (" + porta +
                                 ") não é válida. Informe um número de 1 a 65535 em \"Config.\".";
            message(box(text, Icon::Exclamation));
            waitForPerson(ends(Outcome::Failed, text));
            return StepResult::WaitsForPerson;
        }
        inet.RemotePort = port;
    }
    const bool ok = requestLogin(inet, user, password, tlsFailure);
    if (!ok && !tlsFailure.isEmpty()) {
        // Not the user's name or password: checking them again cannot help.
        const QString text = kNoSecureConnection + tlsFailure + ".";
        message(box(text, Icon::Critical));
        waitForPerson(ends(Outcome::Failed, text));
        return StepResult::WaitsForPerson;
    }
    if (!ok) {
        const QString text = "Ocorreu um erro ao consultar o servidor, verifique se o usuário e a "
                             "senha estão corretos e tente novamente!";
        message(box(text, Icon::Critical));
        waitForPerson(ends(Outcome::LoginRefused, text));
        return StepResult::WaitsForPerson;
    }
    if (remember) {
        platform::saveSetting("atuser", user);
        platform::saveSetting("atpwd", password);
    }
    values.UsuarioAtual = user;
    return StepResult::Check;
}

StepResult RunSession::check(const protocol::Inet& inet) {
    const protocol::ListAnswer answer = protocol::requestList(inet, protocol::versionListUrl());
    values.VersaoBD.clear();
    installed = InstalledVersions::read();
    work.clear();
    history.clear();
    assistant.reset();
    // A list that could not be read is no proof that nothing is due.
    if (!answer.ok) {
        serverUnreadable(*this, "a lista de versões", answer.failure);
        return StepResult::Ended;
    }
    // With a key, the maker's manifest steers the release before the work list is made.
    if (signaturesRequired() && !steerRelease(*this, answer.records))
        return StepResult::Ended;
    auto due = [&](WorkItem item) {
        QString failure;
        const std::optional<HistorySection> section =
            fetchHistory(inet, item.code, item.installed, &failure);
        work.items << item;
        if (!section) {
            serverUnreadable(
                *this, QString("o histórico de alterações do módulo %1").arg(item.code), failure);
            return false;
        }
        history << *section;
        return true;
    };
    for (const protocol::Record& r : answer.records) {
        // A record the server got wrong must not stop the others, nor queue empty versions.
        if (!r.hasField(2))
            continue;
        const std::optional<int> code = moduleCode(r.field(0));
        if (!code)
            continue;
        WorkItem item;
        item.code = *code;
        item.baseName = r.field(1);
        item.offered = r.field(2);
        if (*code == 1 || *code == 11) {
            const bool db = *code == 1;
            item.kind = db ? WorkItem::Kind::Database : WorkItem::Kind::Menu;
            item.file = db ? "krv.mdb" : "mnusis_cs.krv";
            item.baseName.clear();
            item.installed = db ? installed.databaseText() : installed.menuText();
            if (!isDue(item.kind, item.installed, item.offered))
                continue;
            if (!db && holds::leaveOut(*this, "menu", item.file, item.offered, item.installed)) {
                work.held << item;
                continue;
            }
            (db ? values.VersaoBD : values.VersaoMenu) = item.offered;
            releaseCheck.offered(item.file, item.offered, item.installed);
            if (!due(item))
                return StepResult::Ended;
            continue;
        }
        item.file = workListArchive(item.baseName, item.offered);
        if (item.file.isEmpty())
            continue; // a name that would leave the update folder
        const QString path = programModule(item.baseName);
        if (path.isEmpty())
            continue;
        if (const std::optional<QString> version = installedModuleVersion(path)) {
            item.installed = *version;
        } else {
            // Told as the version reader always told it: a box titled with the program's name.
            message({QString(), "No Version Info available!", Buttons::OK, Icon::None});
            item.installed.clear();
        }
        if (!isDue(WorkItem::Kind::Module, item.installed, item.offered))
            continue;
        if (holds::leaveOut(*this, *code == 0 ? "assistant" : "module", item.baseName, item.offered,
                            item.installed)) {
            work.held << item;
            continue;
        }
        if (*code == 0) {
            item.kind = WorkItem::Kind::Assistant;
            assistant = item;
            return steering::takeRelease(*this) ? StepResult::ReplaceAssistant : StepResult::Ended;
        }
        releaseCheck.offered(item.file, item.offered, item.installed);
        if (!due(item))
            return StepResult::Ended;
    }
    // Decided on the work list: items due with an empty history still show the terms.
    if (work.isEmpty()) {
        const bool putBack = values.Atualizou; // a withdrawn version put back
        message(box(putBack ? "Atualização concluída com sucesso!"
                            : "Seu sistema não necessita de nenhuma atualização!",
                    Icon::Information));
        end(ends(putBack ? Outcome::Updated : Outcome::NothingToDo));
        return StepResult::Ended;
    }
    return steering::takeRelease(*this) ? StepResult::Terms : StepResult::Ended;
}

StepResult RunSession::refuseTerms() {
    end(ends(Outcome::TermsRefused));
    return StepResult::Ended;
}

// ---- the assistant's own update

StepResult RunSession::replaceAssistant() {
    const QString caller = "Programa: frmInicio\r\nRotina: Modulos";
    const WorkItem& item = *assistant;
    // An assistant that still sorts before what the server offers right after replacing
    // itself would replace itself for ever, with nobody there to notice.
    if (unattended && qEnvironmentVariableIsSet(kReplacedWith)) {
        fail(caller,
             KrvError(err::Download, "O assistente acabou de ser substituído pela versão " +
                                         qEnvironmentVariable(kReplacedWith) +
                                         ", mas o servidor ainda oferece a versão " + item.offered +
                                         ". A atualização do assistente foi interrompida."));
        return StepResult::Ended;
    }
    const QString folder = updatekrv::updateFolder();
    if (!QFileInfo(folder).isDir())
        QDir().mkpath(folder);
    // Movrin runs whatever the archive holds: it is started only for the assistant the maker
    // listed in this release, at that version, never an older one.
    try {
        releaseCheck.offered(item.file, item.offered, item.installed);
        if (signaturesRequired()) {
            releaseCheck.fromServer(folder);
            releaseCheck.requireListed({item.file});
        }
        if (!fetchVerified(releaseCheck, record, fetchFile, item, "Atualizando Assistente...")) {
            stopped();
            return StepResult::Ended;
        }
        releaseCheck.markApplied();
        kept::assistantBeforeHandOver(record, updatePath(item.file));
    } catch (const std::exception& e) {
        failWith(e, RunEnd::Report::Fatal, caller);
        return StepResult::Ended;
    }
    record.filesFetched();
    return StepResult::HandOver;
}

// ---- fetch, verify, unpack

StepResult RunSession::fetch() {
    const QString window = stepWindow_ = "frmProc";
    const QString caller = "Programa: frmProc\r\nRotina: Processa";
    try {
        clearLeftovers(updatekrv::DirSis);
        status(window, "Criando pasta temporária");
        const QString folder = updatekrv::updateFolder();
        if (!QFileInfo(folder).isDir() && !QDir().mkpath(folder))
            throw KrvError(err::FileAccess, "Não foi possível criar a pasta " + folder);
        const QStringList entries = work.files();
        removeLeftoverParts(folder, entries + delta::resumable(folder));
        dropUncheckedMenuFile(folder, entries);
        // With a key, the release's signed manifest decides before any file is fetched.
        if (signaturesRequired()) {
            releaseCheck.fromServer(folder);
            releaseCheck.requireListed(entries);
        }

        const delta::FetchOne fetchOne = [&](const QString& name, const QString& path,
                                             qint64 listed) {
            return fetchFromServer(record, fetchFile, name, path, listed,
                                   "Baixando atualização...");
        };
        const bool holdBack = signaturesRequired() || work.has(WorkItem::Kind::Database);
        for (const WorkItem& item : work.items) {
            status(window, "Solicitando arquivo");
            const QString path = updatePath(item.file);
            // A module may come as a delta against its installed files (runs/delta_update.h).
            delta::Attempt viaDelta;
            std::optional<std::vector<StagedMember>> rebuiltFiles;
            if (item.kind == WorkItem::Kind::Module)
                viaDelta = delta::forRun(releaseCheck.current(), record, item.file, folder,
                                         fetchOne, [&](const QString& t) { status(window, t); });
            if (viaDelta.served) {
                rebuiltFiles = std::move(viaDelta.files);
            } else if (viaDelta.cutOff) {
                if (viaDelta.cutOff->cancelled) {
                    stopped();
                    return StepResult::Ended;
                }
                throw KrvError(err::Download, "O arquivo " + viaDelta.delta +
                                                  " não foi baixado: " + viaDelta.cutOff->reason);
            } else if (!fetchVerified(releaseCheck, record, fetchFile, item,
                                      "Baixando atualização...")) {
                stopped();
                return StepResult::Ended;
            }
            protocol::sendClientLog(values.UsuarioAtual, item.file);
            values.Atualizou = true;
            switch (item.kind) {
            case WorkItem::Kind::Module:
                // Placed only once every file has passed its check and the database step its
                // proof, so that nothing refused leaves a file changed. Without a key or an
                // update file, each archive is unpacked as it comes, as it always was.
                if (holdBack) {
                    placement_.add({path, QFileInfo(path).fileName(), "Descompactando arquivo",
                                    std::move(rebuiltFiles)});
                    break;
                }
                status(window, "Descompactando arquivo");
                Descompacta(path, "*.*", updatekrv::DirSis, 0);
                break;
            case WorkItem::Kind::Database:
            case WorkItem::Kind::Menu:
            case WorkItem::Kind::Assistant:
            case WorkItem::Kind::Other:
                break;
            }
        }
        releaseCheck.markApplied();
        record.filesFetched();
        if (!holdBack)
            placement_.placedAlready(); // a failing menu reload puts them back
        if (work.has(WorkItem::Kind::Database)) {
            status(window, "Atualizar banco de dados");
            return StepResult::UpdateDatabase;
        }
        placement_.place(record, releaseCheck, [&](const QString& text) { status(window, text); });
        if (work.has(WorkItem::Kind::Menu)) {
            status(window, "Atualizar banco de dados");
            return StepResult::ReloadMenu;
        }
        return StepResult::Finish;
    } catch (const std::exception& e) {
        failWith(e, RunEnd::Report::Fatal, caller);
    }
    return StepResult::Ended;
}

// ---- the database update

StepResult RunSession::updateDatabase() {
    using namespace database;
    const QString window = stepWindow_ = "frmAtualKRV";
    try {
        UpdateFile dbAtual =
            openUpdateFile(updatePath(WorkItem::Kind::Database), kUpdateFileConnect);
        if (dbAtual.query("select * from numero").empty()) {
            // Style 80 combines two icon bits, which names no single icon: none is shown.
            const QString text = "Arquivo <krv.mdb> inválido!";
            message(box(text, Icon::None));
            end(ends(Outcome::Failed, text));
            return StepResult::Ended;
        }

        // Copies a killed run left would otherwise stay in the suite's database for good.
        dropLeftoverShadows(Conexao());
        SnapshotView snapshot;
        snapshot.status = [&](const QString& text) { status(window, text); };
        snapshot.start = [&](int maximum) {
            progress({Progress::Phase::Start, 0, maximum, kSnapshotCaption});
        };
        snapshot.step = [&](int value, const QString& label) {
            progress({Progress::Phase::Step, value, 0, label});
        };
        snapshot.finish = [&] { progress({Progress::Phase::Finish, 0, 0, {}}); };
        LerEstrutura(dbAtual, Conexao(), snapshot);
        progress({Progress::Phase::Listing, 0, 0, {}});

        SyncView view;
        view.status = [&](const QString& text) { status(window, text); };
        view.line = [&](const QString& text) { line(text); };
        view.executed = [this](const QString& sql) { record.statement(sql); };
        SafeUpdateOptions options;
        options.policy = dataChange;
        options.ask = [&](const QList<ColumnLoss>& losses) {
            return message({"Atenção!", lossQuestion(losses), Buttons::YesNo, Icon::Question,
                            Answer::No}) == Answer::Yes;
        };
        options.copyFolder = record::recordsFolder(updatekrv::DirSis);
        options.copied = [this](const QString& path, const ColumnLoss& loss) {
            record.dataCopied(path, loss.table, loss.column, loss.rows);
        };
        options.idle = [] { platform::yield(); };
        options.keyLeftOut = [this](const QString& key) {
            record.note("foreign_keys_left_out", QJsonObject{{"key", key}});
        };
        options.beforeLiveChanges = [&] {
            placement_.place(record, releaseCheck,
                             [&](const QString& text) { status(window, text); });
        };
        updateStructure(dbAtual, Conexao(), view, options);
        record.statementsDone();
        dbAtual.close();

        // Only now: a run that stopped earlier leaves the old version, so the next one repeats.
        Conexao().Execute(bookkeepingStatement(values.VersaoBD, Conexao().backslashEscapes()));
        line("Análise concluída!");
        if (work.has(WorkItem::Kind::Menu))
            return StepResult::ReloadMenu;
        return StepResult::Finish;
    } catch (const std::exception& e) {
        failWith(e, RunEnd::Report::Runtime);
    }
    return StepResult::Ended;
}

// ---- the menu reload

namespace {} // namespace

StepResult RunSession::reloadMenu() {
    using namespace database;
    const QString caller = "Programa: frmAtualMenu\r\nRotina: Processa";
    stepWindow_.clear();
    try {
        MenuFileReader file(updatePath(WorkItem::Kind::Menu));
        const int maximum = std::max(int(std::min<qint64>(file.size(), INT_MAX)), 1);
        progress({Progress::Phase::Start, 0, maximum, {}});

        Transaction transaction(Conexao());
        Connection& conexao = Conexao();
        kept::menuBeforeReload(record);
        conexao.Execute("delete from menu");
        MenuInsertBatch batch(1000, 200000, conexao.backslashEscapes());
        qint64 done = 0;
        while (!file.atEnd()) {
            const QString text = file.readLine();
            // Every line counts its CR LF; a last line without one overshoots by two.
            done += text.size() + 2;
            progress({Progress::Phase::Step, int(std::min<qint64>(done, maximum)), maximum, {}});
            batch.add(parseMenuLine(text));
            if (batch.full())
                conexao.Execute(batch.take());
        }
        if (!batch.empty())
            conexao.Execute(batch.take());
        conexao.Execute(menuVersionUpdate(values.VersaoMenu, conexao.backslashEscapes()));
        transaction.commit();
        record.menuReloaded();
    } catch (const std::exception& e) {
        failWith(e, RunEnd::Report::Fatal, caller, err::Database);
        return StepResult::Ended;
    }
    message(box("Arquivo atualizado com sucesso!", Icon::Information, "Concluído!"));
    return StepResult::Finish;
}

// ---- the end of a run

namespace {

// Deletes the files directly in folder, then the folder itself. Every failure (folder
// missing, a file that cannot be deleted, a subfolder keeping the folder) is ignored: the
// leftovers go with a later run.
void removeUpdateFolder(const QString& folder) {
    namespace fs = std::filesystem;
    const fs::path dir = QFile::encodeName(folder).toStdString();
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code ignored;
        // Only the folder's own entries: a link is removed as a link, a subfolder stays.
        if (!fs::is_directory(it->symlink_status(ignored)))
            fs::remove(it->path(), ignored);
    }
    fs::remove(dir, ec);
}

} // namespace

StepResult RunSession::finish() {
    return finish(stepWindow_);
}

StepResult RunSession::finish(const QString& statusWindow) {
    if (!statusWindow.isEmpty())
        status(statusWindow, "Removendo temporários");
    platform::yield();
    record.filesFetched();
    removeUpdateFolder(updatekrv::updateFolder());
    message(box(values.Atualizou ? "Atualização concluída com sucesso!"
                                 : "Nenhuma atualização realizada!",
                Icon::Information));
    end(ends(values.Atualizou ? Outcome::Updated : Outcome::NothingToDo));
    return StepResult::Ended;
}

// ---- the directory run

StepResult RunSession::chooseFolder(const QString& folder) {
    if (!holdsUpdateFiles(folder)) {
        const QString text = "Arquivos de atualização não encontrados no diretório informado!";
        message(box(text, Icon::Information));
        waitForPerson(ends(Outcome::Failed, text));
        return StepResult::WaitsForPerson;
    }
    values.DirOrigem = folder;
    return StepResult::ApplyFolder;
}

namespace {

void copyReplacing(const QString& from, const QString& to) {
    if (QFileInfo::exists(to) && !QFile::remove(to))
        throw KrvError(err::FileAccess, "Não foi possível substituir " + to + ".");
    QFile source(from);
    if (!source.copy(to))
        throw KrvError(err::FileAccess, "Não foi possível copiar " + from + " para " + to + ": " +
                                            source.errorString());
}

} // namespace

StepResult RunSession::applyFolder() {
    const QString window = stepWindow_ = "frmProcDir";
    const QString caller = "Programa: frmProcDir\r\nRotina: Processa";
    const QString origin = values.DirOrigem;
    // names and, when a manifest was checked, the medium's manifest and its signature.
    auto withSignatures = [&](const QStringList& names) {
        QStringList out = names;
        if (releaseCheck.current() && !names.isEmpty())
            for (const QString& file : {manifest::FileName, manifest::FileName + ".sig"})
                out << firstMatch(origin, "\\" + file);
        return out;
    };
    try {
        clearLeftovers(updatekrv::DirSis);
        installed = InstalledVersions::read();
        // Every file of the medium is checked before the first one is applied, so a refused
        // file leaves the suite as it was; the medium's files are never removed.
        work.clear();
        // With a key, a module may come only as a delta the medium's manifest lists.
        QStringList onlyAsDelta;
        const bool deltas = signaturesRequired() && !firstMatch(origin, "\\*.delta").isEmpty();
        if (deltas)
            releaseCheck.fromMedium(origin);
        for (const ModuleArchive& row : kModuleArchives) {
            QString found = firstMatch(origin, row.mask);
            if (found.isEmpty() && deltas &&
                !(found = delta::mediumDeltaArchive(*releaseCheck.current(), origin, row.mask))
                     .isEmpty())
                onlyAsDelta << found;
            if (!found.isEmpty() && !holds::leaveOutArchive(*this, row.mask, found)) {
                WorkItem item;
                item.file = found;
                item.status = row.status;
                work.items << item;
            }
        }
        const QStringList archives = work.files();
        // The medium may come from a system that ignores case: "KRV.MDB" is the same file.
        const QString mdbName = firstMatch(origin, "\\krv.mdb");
        QStringList names = archives;
        if (!mdbName.isEmpty()) {
            WorkItem item;
            item.kind = WorkItem::Kind::Database;
            item.file = mdbName;
            work.items << item;
            names << mdbName;
        }
        // The modules rebuilt from the medium's deltas, by archive.
        std::map<QString, std::vector<StagedMember>> rebuilt;
        // With a key, the medium's signed manifest must list every file it offers, as it is.
        if (signaturesRequired() && !names.isEmpty()) {
            releaseCheck.fromMedium(origin);
            releaseCheck.requireListed(names);
            for (const QString& name : names)
                if (!onlyAsDelta.contains(name))
                    releaseCheck.requireListedContent(name, platform::winJoin(origin, "\\" + name),
                                                      false);
            if (!mdbName.isEmpty())
                releaseCheck.requireUpdateFileVersion(platform::winJoin(origin, "\\" + mdbName),
                                                      installed.databaseText());
            rebuilt = delta::forMedium(releaseCheck.current(), record, archives, onlyAsDelta,
                                       origin, [&](const QString& t) { status(window, t); });
            releaseCheck.markApplied();
        }
        // The archives are applied whatever else the medium holds: recorded before the first.
        QStringList onMedium = archives;
        for (const QString& name : onlyAsDelta)
            onMedium.removeAll(name);
        record.filesFound(origin, withSignatures(onMedium));
        // Placed once the update file, when due, has passed its proof.
        for (const WorkItem& item : work.items) {
            if (item.kind != WorkItem::Kind::Module)
                continue;
            // Told in the order of the medium's archives, as the person follows them.
            status(window, item.status);
            PendingArchive archive{
                platform::winJoin(origin, "\\" + item.file), item.file, {}, std::nullopt};
            if (rebuilt.count(item.file))
                archive.rebuilt = std::move(rebuilt.at(item.file));
            placement_.add(std::move(archive));
            values.Atualizou = true;
        }

        if (!mdbName.isEmpty()) {
            const QString mdb = platform::winJoin(origin, "\\" + mdbName);
            database::UpdateFile file = database::openUpdateFile(mdb, database::kUpdateFileConnect);
            const database::UpdateRows numero = file.query("select * from numero");
            if (numero.empty()) {
                // The original asked for the information and the critical icon at once;
                // the critical one is what the user sees.
                const QString text = "Arquivo <krv.mdb> inválido!";
                message(box(text, Icon::Critical));
                end(ends(Outcome::Failed, text));
                return StepResult::Ended;
            }
            values.VersaoBD = numero.first().text("CodAtu");
            // A version that could not be read makes the update due.
            if (isDue(WorkItem::Kind::Database, installed.databaseIfRead(), values.VersaoBD)) {
                values.Atualizou = true;
                record.filesFound(origin, withSignatures({mdbName}));
                status(window, "Atualizando Banco de Dados");
                const QString folder = updatekrv::updateFolder();
                if (!QFileInfo(folder).isDir())
                    QDir().mkpath(folder); // a failure shows in the copy below
                file.close();
                dropUncheckedMenuFile(folder, {});
                copyReplacing(mdb, updatePath(WorkItem::Kind::Database));
                return StepResult::UpdateDatabase;
            }
        }
        placement_.place(record, releaseCheck, [&](const QString& text) { status(window, text); });
        message(box(values.Atualizou ? "Atualização concluída com sucesso!"
                                     : "Nenhuma atualização realizada!",
                    Icon::Information));
        end(ends(values.Atualizou ? Outcome::Updated : Outcome::NothingToDo));
    } catch (const std::exception& e) {
        failWith(e, RunEnd::Report::Fatal, caller);
    }
    return StepResult::Ended;
}

} // namespace krv::runs
