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
#include "runs/signed_files.h"
#include "runs/update_record.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <algorithm>
#include <climits>
#include <filesystem>
#include <map>

namespace krv::runs {

using platform::Answer;
using platform::Buttons;
using platform::Icon;

EntryKind entryKind(const QString& entry) {
    const QString ext = entry.right(3).toLower();
    if (ext == "zip")
        return EntryKind::Archive;
    if (ext == "mdb")
        return EntryKind::Database;
    if (ext == "krv")
        return EntryKind::Menu;
    return EntryKind::Other;
}

QStringList WorkList::files() const {
    QStringList names;
    for (const WorkItem& item : items)
        names << item.file;
    return names;
}

RunSession& session() {
    static RunSession instance;
    return instance;
}

void RunSession::reset() {
    values = RunValues{};
    work.clear();
    history.clear();
    assistant.reset();
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

void RunSession::end(const RunEnd& end) {
    ended_ = end;
    const KrvError error(end.errorNumber, end.errorText, end.errorLine);
    if (end.report == RunEnd::Report::Fatal)
        lastMessage_ = fatalReportText(end.caller, error);
    else if (end.report == RunEnd::Report::Runtime)
        lastMessage_ = runtimeReportText(error);
    if (observer_)
        observer_->ended(end);
}

void RunSession::waitForPerson(const RunEnd& end) {
    if (observer_)
        observer_->waitsForPerson(end);
}

void RunSession::fail(const QString& caller, const KrvError& error) {
    RunEnd e;
    e.outcome = Outcome::Failed;
    e.errorNumber = error.number();
    e.errorText = error.description();
    e.errorLine = error.line();
    e.report = RunEnd::Report::Fatal;
    e.caller = caller.isEmpty() ? QString("Programa e rotina não especificados!") : caller;
    e.programCode = 1;
    end(e);
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
        release::fromServer(updatekrv::updateFolder());
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

QString runtimeReportText(const KrvError& error) {
    return QString("Erro em tempo de execução '%1':\r\n\r\n%2")
        .arg(error.number())
        .arg(error.description());
}

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

bool RunSession::start() {
    message(box("Atenção!\r\nAntes de continuar com este processo, certifique-se de ter uma cópia "
                "de segurança (backup) dos arquivos do sistema.",
                Icon::Information));
    updatekrv::DirSis = platform::getSetting("DirSis", platform::programFolder());
    updatekrv::DirSisExe = platform::getSetting("DirSisExe", platform::programFolder());
    if (database::AbreServer() == 1) {
        const QString text = "Não foi possível estabelecer conexão com o servidor!";
        message(box(text, Icon::Critical));
        end(ends(Outcome::Failed, text));
        return false;
    }
    // Taken before anything changes (the connection's repair of Config.BD before it is
    // atomic and gives the same file each time); held until the process ends.
    if (platform::takeRunLock(updatekrv::DirSis) == platform::RunLock::Busy) {
        const QString text = anotherRunText(updatekrv::DirSis);
        message(box(text, Icon::Exclamation));
        end(ends(Outcome::Locked, text));
        return false;
    }
    values.Atualizou = false;
    record::begin();
    return true;
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

bool RunSession::logIn(protocol::Inet& inet, const QString& user, const QString& password,
                       bool remember) {
    const QString porta = values.Porta;
    if (!porta.isEmpty()) {
        const int port = portNumber(porta);
        if (port == 0) {
            const QString text = "A porta de conexão configurada (" + porta +
                                 ") não é válida. Informe um número de 1 a 65535 em \"Config.\".";
            message(box(text, Icon::Exclamation));
            waitForPerson(ends(Outcome::Failed, text));
            return false;
        }
        inet.RemotePort = port;
    }
    const bool ok = requestLogin(inet, user, password, tlsFailure);
    if (!ok && !tlsFailure.isEmpty()) {
        // Not the user's name or password: checking them again cannot help.
        const QString text = kNoSecureConnection + tlsFailure + ".";
        message(box(text, Icon::Critical));
        waitForPerson(ends(Outcome::Failed, text));
        return false;
    }
    if (!ok) {
        const QString text = "Ocorreu um erro ao consultar o servidor, verifique se o usuário e a "
                             "senha estão corretos e tente novamente!";
        message(box(text, Icon::Critical));
        waitForPerson(ends(Outcome::LoginRefused, text));
        return false;
    }
    if (remember) {
        platform::saveSetting("atuser", user);
        platform::saveSetting("atpwd", password);
    }
    values.UsuarioAtual = user;
    return true;
}

RunSession::Check RunSession::check(const protocol::Inet& inet) {
    const protocol::ListAnswer answer = protocol::requestList(inet, protocol::versionListUrl());
    values.VersaoBD.clear();
    work.clear();
    history.clear();
    assistant.reset();
    // A list that could not be read is no proof that nothing is due.
    if (!answer.ok) {
        serverUnreadable(*this, "a lista de versões", answer.failure);
        return Check::Failed;
    }
    // With a key, the maker's manifest steers the release before the work list is made.
    if (signaturesRequired() && !steerRelease(*this, answer.records))
        return Check::Failed;
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
            item.installed = db ? PegaAtBD() : PegaAtMNU();
            if (item.installed == item.offered)
                continue;
            if (!db && holds::leaveOut("menu", item.file, item.offered, item.installed)) {
                work.held << item;
                continue;
            }
            (db ? values.VersaoBD : values.VersaoMenu) = item.offered;
            release::offered(item.file, item.offered, item.installed);
            if (!due(item))
                return Check::Failed;
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
        if (!sortsBefore(item.installed, item.offered))
            continue;
        if (holds::leaveOut(*code == 0 ? "assistant" : "module", item.baseName, item.offered,
                            item.installed)) {
            work.held << item;
            continue;
        }
        if (*code == 0) {
            item.kind = WorkItem::Kind::Assistant;
            assistant = item;
            return steering::takeRelease(*this) ? Check::Assistant : Check::NothingToDo;
        }
        release::offered(item.file, item.offered, item.installed);
        if (!due(item))
            return Check::Failed;
    }
    // Decided on the work list: items due with an empty history still show the terms.
    if (work.isEmpty()) {
        const bool putBack = values.Atualizou; // a withdrawn version put back
        message(box(putBack ? "Atualização concluída com sucesso!"
                            : "Seu sistema não necessita de nenhuma atualização!",
                    Icon::Information));
        end(ends(putBack ? Outcome::Updated : Outcome::NothingToDo));
        return Check::NothingToDo;
    }
    return steering::takeRelease(*this) ? Check::Due : Check::NothingToDo;
}

void RunSession::refuseTerms() {
    end(ends(Outcome::TermsRefused));
}

// ---- fetch, verify, unpack

std::optional<RunSession::Next> RunSession::fetch() {
    const QString window = stepWindow_ = "frmProc";
    const QString caller = "Programa: frmProc\r\nRotina: Processa";
    try {
        bool database = false, menu = false;
        clearLeftovers(updatekrv::DirSis);
        status(window, "Criando pasta temporária");
        const QString folder = updatekrv::updateFolder();
        if (!QFileInfo(folder).isDir() && !QDir().mkpath(folder))
            throw KrvError(err::FileAccess, "Não foi possível criar a pasta " + folder);
        const QStringList entries = work.files();
        removeLeftoverParts(folder, entries + delta::resumable(folder));
        dropUncheckedMenuFile(folder, entries);
        QStringList verifiedArchives;
        // With a key, the release's signed manifest decides before any file is fetched.
        if (signaturesRequired()) {
            release::fromServer(folder);
            release::requireListed(entries);
        }

        const delta::FetchOne fetchOne = [&](const QString& name, const QString& path,
                                             qint64 listed) {
            const QString url = protocol::fileUrl(name);
            return fetchFile ? fetchFile("Baixando atualização...", url, path, listed)
                             : fetchQuietly(url, path, listed);
        };
        std::map<QString, std::vector<StagedMember>> rebuilt; // by archive path
        for (const QString& entry : entries) {
            status(window, "Solicitando arquivo");
            const QString path = platform::winJoin(updatekrv::DirSis, "\\update\\" + entry);
            // A module may come as a delta against its installed files (runs/delta_update.h).
            delta::Attempt viaDelta = delta::forRun(entry, folder, fetchOne,
                                                    [&](const QString& t) { status(window, t); });
            if (!viaDelta.served) {
                const FetchOutcome got = viaDelta.cutOff
                                             ? *viaDelta.cutOff
                                             : fetchOne(entry, path, release::listedSize(entry));
                if (got.cancelled) {
                    stopped();
                    return std::nullopt;
                }
                if (!got.whole)
                    throw KrvError(err::Download, "O arquivo " +
                                                      (viaDelta.cutOff ? viaDelta.delta : entry) +
                                                      " não foi baixado: " + got.reason);
                release::requireListedContent(entry, path, true);
            } else {
                rebuilt[path] = std::move(viaDelta.files);
            }
            if (entryKind(entry) == EntryKind::Database)
                release::requireUpdateFileVersion(path, release::installedVersion(entry));
            protocol::sendClientLog(values.UsuarioAtual, entry);
            values.Atualizou = true;
            switch (entryKind(entry)) {
            case EntryKind::Archive:
                // Signed updates unpack only once every file has passed its check, so a
                // refused file later in the list leaves the suite as it was.
                if (signaturesRequired()) {
                    verifiedArchives << path;
                    break;
                }
                status(window, "Descompactando arquivo");
                Descompacta(path, "*.*", updatekrv::DirSis, 0);
                break;
            case EntryKind::Database:
                database = true;
                break;
            case EntryKind::Menu:
                menu = true;
                break;
            case EntryKind::Other:
                break;
            }
        }
        release::markApplied();
        kept::beforeUnpacking(verifiedArchives);
        for (const QString& path : verifiedArchives) {
            status(window, "Descompactando arquivo");
            const QString name = QFileInfo(path).fileName();
            if (rebuilt.count(path))
                placeRebuilt(name, updatekrv::DirSis, rebuilt[path],
                             release::moduleCheck(name, updatekrv::DirSis));
            else
                Descompacta(path, "*.*", updatekrv::DirSis, 0,
                            release::moduleCheck(name, updatekrv::DirSis));
        }
        record::filesFetched();
        if (database) {
            status(window, "Atualizar banco de dados");
            return Next::Database;
        }
        if (menu) {
            status(window, "Atualizar banco de dados");
            return Next::Menu;
        }
        return Next::End;
    } catch (const KrvError& e) {
        release::clearAfterFailure(updatekrv::updateFolder());
        fail(caller, e);
    } catch (const std::exception& e) {
        release::clearAfterFailure(updatekrv::updateFolder());
        fail(caller, KrvError(0, QString::fromLocal8Bit(e.what())));
    }
    return std::nullopt;
}

// ---- the database update

std::optional<RunSession::Next> RunSession::updateDatabase() {
    using namespace database;
    const QString window = stepWindow_ = "frmAtualKRV";
    try {
        UpdateFile dbAtual = openUpdateFile(
            platform::winJoin(updatekrv::DirSis, "\\update\\krv.mdb"), kUpdateFileConnect);
        if (dbAtual.query("select * from numero").empty()) {
            // Style 80 combines two icon bits, which names no single icon: none is shown.
            const QString text = "Arquivo <krv.mdb> inválido!";
            message(box(text, Icon::None));
            end(ends(Outcome::Failed, text));
            return std::nullopt;
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
        view.executed = &record::statement;
        SafeUpdateOptions options;
        options.policy = dataChangePolicy();
        options.ask = [&](const QList<ColumnLoss>& losses) {
            return message({"Atenção!", lossQuestion(losses), Buttons::YesNo, Icon::Question,
                            Answer::No}) == Answer::Yes;
        };
        options.copyFolder = record::recordsFolder(updatekrv::DirSis);
        options.copied = [](const QString& path, const ColumnLoss& loss) {
            record::dataCopied(path, loss.table, loss.column, loss.rows);
        };
        options.idle = [] { platform::yield(); };
        updateStructure(dbAtual, Conexao(), view, options);
        record::statementsDone();
        dbAtual.close();

        // Only now: a run that stopped earlier leaves the old version, so the next one repeats.
        Conexao().Execute(bookkeepingStatement(values.VersaoBD, Conexao().backslashEscapes()));
        line("Análise concluída!");
        if (platform::ordinaryFileExists(
                platform::winJoin(updatekrv::DirSis, "\\update\\mnusis_cs.krv")))
            return Next::Menu;
        return Next::End;
    } catch (const std::exception& e) {
        RunEnd failed = ends(Outcome::Failed, QString::fromLocal8Bit(e.what()), 1);
        if (auto* k = dynamic_cast<const KrvError*>(&e)) {
            failed.errorNumber = k->number();
            failed.errorText = k->description();
        }
        failed.report = RunEnd::Report::Runtime;
        end(failed);
    }
    return std::nullopt;
}

// ---- the menu reload

namespace {} // namespace

bool RunSession::reloadMenu() {
    using namespace database;
    const QString caller = "Programa: frmAtualMenu\r\nRotina: Processa";
    stepWindow_.clear();
    try {
        MenuFileReader file(platform::winJoin(updatekrv::DirSis, "\\update\\mnusis_cs.krv"));
        const int maximum = std::max(int(std::min<qint64>(file.size(), INT_MAX)), 1);
        progress({Progress::Phase::Start, 0, maximum, {}});

        Transaction transaction(Conexao());
        Connection& conexao = Conexao();
        kept::menuBeforeReload();
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
        record::menuReloaded();
    } catch (const KrvError& e) {
        fail(caller, e);
        return false;
    } catch (const std::exception& e) {
        fail(caller, KrvError(err::Database, QString::fromLocal8Bit(e.what())));
        return false;
    }
    message(box("Arquivo atualizado com sucesso!", Icon::Information, "Concluído!"));
    return true;
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

void RunSession::finish() {
    finish(stepWindow_);
}

void RunSession::finish(const QString& statusWindow) {
    if (!statusWindow.isEmpty())
        status(statusWindow, "Removendo temporários");
    platform::yield();
    record::filesFetched();
    removeUpdateFolder(updatekrv::updateFolder());
    message(box(values.Atualizou ? "Atualização concluída com sucesso!"
                                 : "Nenhuma atualização realizada!",
                Icon::Information));
    end(ends(values.Atualizou ? Outcome::Updated : Outcome::NothingToDo));
}

// ---- the directory run

bool RunSession::chooseFolder(const QString& folder) {
    if (!holdsUpdateFiles(folder)) {
        const QString text = "Arquivos de atualização não encontrados no diretório informado!";
        message(box(text, Icon::Information));
        waitForPerson(ends(Outcome::Failed, text));
        return false;
    }
    values.DirOrigem = folder;
    return true;
}

namespace {

// The installed database version; empty when it cannot be read, which makes the update due.
std::optional<QVariant> installedDatabaseVersion() {
    try {
        std::unique_ptr<database::Recordset> rs;
        database::CriaRecordset(rs, true);
        rs->Open("select ult_atualizacao from licensa", database::Conexao());
        if (rs->eof())
            return std::nullopt;
        return rs->field(0);
    } catch (const KrvError&) {
        return std::nullopt;
    }
}

void copyReplacing(const QString& from, const QString& to) {
    if (QFileInfo::exists(to) && !QFile::remove(to))
        throw KrvError(err::FileAccess, "Não foi possível substituir " + to + ".");
    QFile source(from);
    if (!source.copy(to))
        throw KrvError(err::FileAccess, "Não foi possível copiar " + from + " para " + to + ": " +
                                            source.errorString());
}

} // namespace

std::optional<RunSession::Next> RunSession::applyFolder() {
    const QString window = stepWindow_ = "frmProcDir";
    const QString caller = "Programa: frmProcDir\r\nRotina: Processa";
    const QString origin = values.DirOrigem;
    // names and, when a manifest was checked, the medium's manifest and its signature.
    auto withSignatures = [&](const QStringList& names) {
        QStringList out = names;
        if (release::current() && !names.isEmpty())
            for (const QString& file : {manifest::FileName, manifest::FileName + ".sig"})
                out << firstMatch(origin, "\\" + file);
        return out;
    };
    try {
        clearLeftovers(updatekrv::DirSis);
        // Every file of the medium is checked before the first one is applied, so a refused
        // file leaves the suite as it was; the medium's files are never removed.
        work.clear();
        // With a key, a module may come only as a delta the medium's manifest lists.
        QStringList onlyAsDelta;
        const bool deltas = signaturesRequired() && !firstMatch(origin, "\\*.delta").isEmpty();
        if (deltas)
            release::fromMedium(origin);
        for (const ModuleArchive& row : kModuleArchives) {
            QString found = firstMatch(origin, row.mask);
            if (found.isEmpty() && deltas &&
                !(found = delta::mediumDeltaArchive(*release::current(), origin, row.mask))
                     .isEmpty())
                onlyAsDelta << found;
            if (!found.isEmpty() && !holds::leaveOutArchive(row.mask, found)) {
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
            release::fromMedium(origin);
            release::requireListed(names);
            for (const QString& name : names)
                if (!onlyAsDelta.contains(name))
                    release::requireListedContent(name, platform::winJoin(origin, "\\" + name),
                                                  false);
            if (!mdbName.isEmpty()) {
                const auto installed = installedDatabaseVersion();
                release::requireUpdateFileVersion(platform::winJoin(origin, "\\" + mdbName),
                                                  installed ? formatInstalledVersion(*installed)
                                                            : QString());
            }
            rebuilt = delta::forMedium(archives, onlyAsDelta, origin,
                                       [&](const QString& t) { status(window, t); });
            release::markApplied();
        }
        // The archives are applied whatever else the medium holds: recorded before the first.
        QStringList onMedium = archives;
        for (const QString& name : onlyAsDelta)
            onMedium.removeAll(name);
        record::filesFound(origin, withSignatures(onMedium));
        QStringList archivePaths;
        for (const WorkItem& item : work.items)
            if (item.kind == WorkItem::Kind::Module)
                archivePaths << platform::winJoin(origin, "\\" + item.file);
        kept::beforeUnpacking(archivePaths);
        for (const WorkItem& item : work.items) {
            if (item.kind != WorkItem::Kind::Module)
                continue;
            status(window, item.status);
            if (rebuilt.count(item.file))
                placeRebuilt(item.file, updatekrv::DirSis, rebuilt.at(item.file),
                             release::moduleCheck(item.file, updatekrv::DirSis));
            else
                Descompacta(platform::winJoin(origin, "\\" + item.file), "*.*", updatekrv::DirSis,
                            0, release::moduleCheck(item.file, updatekrv::DirSis));
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
                return std::nullopt;
            }
            values.VersaoBD = numero.first().text("CodAtu");
            if (databaseUpdateDue(values.VersaoBD, installedDatabaseVersion())) {
                values.Atualizou = true;
                record::filesFound(origin, withSignatures({mdbName}));
                status(window, "Atualizando Banco de Dados");
                const QString folder = updatekrv::updateFolder();
                if (!QFileInfo(folder).isDir())
                    QDir().mkpath(folder); // a failure shows in the copy below
                file.close();
                dropUncheckedMenuFile(folder, {});
                copyReplacing(mdb, platform::winJoin(updatekrv::DirSis, "\\update\\krv.mdb"));
                return Next::Database;
            }
        }
        message(box(values.Atualizou ? "Atualização concluída com sucesso!"
                                     : "Nenhuma atualização realizada!",
                    Icon::Information));
        end(ends(values.Atualizou ? Outcome::Updated : Outcome::NothingToDo));
    } catch (const KrvError& e) {
        fail(caller, e);
    } catch (const std::exception& e) {
        fail(caller, KrvError(0, QString::fromLocal8Bit(e.what())));
    }
    return std::nullopt;
}

} // namespace krv::runs
