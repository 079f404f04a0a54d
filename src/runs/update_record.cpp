#include "runs/update_record.h"

#include "runs/update_record_state.h"

#include "common/file_version.h"
#include "common/updatekrv.h"
#include "database/connection.h"
#include "download/protocol.h"
#include "platform/dialogs.h"
#include "platform/process.h"
#include "platform/program.h"
#include "platform/test_hook.h"
#include "runs/installed_versions.h"
#include "runs/kept_files.h"
#include "runs/mod_add_zip.h"
#include "runs/rollback.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMap>
#include <QSaveFile>
#include <QSet>
#include <unistd.h>

namespace krv::runs {

using State = UpdateRecord::State;
using namespace record;

namespace {

// How far a run got, in order; the record says the furthest.
const QStringList kMilestones = {"start", "files", "database", "menu", "end"};

QVariant scalar(const QString& sql) {
    try {
        database::Recordset rs;
        rs.Open(sql, database::Conexao());
        return rs.eof() ? QVariant() : rs.field(0);
    } catch (const std::exception&) {
        return {}; // a suite without the table: nothing to record
    }
}

} // namespace

Snapshot record::takeSnapshot() {
    Snapshot s;
    s.modules = moduleVersions(updatekrv::DirSis);
    s.installed = InstalledVersions::read();
    s.menuRows = scalar("select count(*) from menu");
    try {
        database::Recordset names;
        names.Open("show tables", database::Conexao());
        QStringList tables;
        for (; !names.eof(); names.moveNext())
            tables << names.text(0);
        for (const QString& t : tables) {
            database::Recordset create;
            create.Open("show create table `" + QString(t).replace('`', "``") + "`",
                        database::Conexao());
            if (!create.eof())
                s.tables[t] = create.text(1);
        }
    } catch (const std::exception&) {
    }
    return s;
}

namespace {

QJsonValue json(const QVariant& v) {
    return v.isNull() || !v.isValid() ? QJsonValue() : QJsonValue(v.toString());
}

QJsonObject beforeAfter(const QVariant& before, const QVariant& after) {
    return {{"before", json(before)}, {"after", json(after)}};
}

QString stamp(const QDateTime& t) {
    return t.toString(Qt::ISODateWithMs);
}

void hash(State& s, const QString& path) {
    const QFileInfo f(path);
    for (const FileEntry& e : s.files)
        if (e.name == f.fileName())
            return;
    QFile file(path);
    QCryptographicHash sha(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !sha.addData(&file))
        return;
    s.files << FileEntry{f.fileName(), f.size(), QString::fromLatin1(sha.result().toHex())};
}

QJsonArray filesJson(const State& s) {
    QJsonArray out;
    for (const FileEntry& f : s.files) {
        // A signature carries none of its own; a file found on a medium has no download.
        const bool isSignature = f.name.endsWith(".sig", Qt::CaseInsensitive);
        const auto dl = s.downloads.constFind(f.name);
        const bool got = dl != s.downloads.cend();
        out.append(QJsonObject{
            {"name", f.name},
            {"size", f.size},
            {"sha256", f.sha256},
            {"signature_verified",
             isSignature ? QJsonValue() : QJsonValue(s.verified.contains(f.name))},
            {"download_ms", got ? QJsonValue(dl->ns / 1000000) : QJsonValue()},
            {"download_bytes", got ? QJsonValue(dl->bytes) : QJsonValue()},
            {"rate_bytes_per_s",
             got ? QJsonValue(qRound64(double(dl->bytes) * 1e9 / double(qMax<qint64>(dl->ns, 1))))
                 : QJsonValue()}});
    }
    return out;
}

} // namespace

QString record::recordsFolder(const QString& folder) {
    return folder + "/atualizacoes";
}

namespace {

QString recordName(const QJsonObject& record) {
    const QDateTime start = QDateTime::fromString(record["start"].toString(), Qt::ISODateWithMs);
    return start.toString("yyyyMMdd-HHmmss-zzz") + ".json";
}

bool save(const QString& path, const QJsonObject& record) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QJsonDocument(record).toJson(QJsonDocument::Indented));
    return file.commit();
}

void appendLog(const QString& dir, const QString& name, const QJsonObject& record) {
    QFile log(dir + "/atualizacoes.log");
    if (!log.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    QString message = record["message"].toString();
    message.replace("\r\n", " ").replace('\n', ' ').replace('\t', ' ');
    QStringList fields = {record["start"].toString(),
                          record["end"].toString(),
                          record["outcome"].toString(),
                          record["reached"].toString(),
                          record["user"].toString(),
                          record["source"].toString(),
                          message,
                          name};
    // One line per run for every reader: no field may carry a line or column break.
    for (QString& field : fields)
        field = platform::hook::escapeControls(
            field.replace('\r', ' ').replace('\n', ' ').replace('\t', ' '));
    log.write((fields.join('\t') + '\n').toUtf8());
}

void hashUpdateFolder(State& s) {
    s.filesHashed = true;
    const QDir dir(updatekrv::updateFolder());
    for (const QFileInfo& f : dir.entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name))
        hash(s, f.filePath());
}

// The record whose run ends the program: the last one begun.
UpdateRecord* endingRecord = nullptr;

} // namespace

UpdateRecord::UpdateRecord(std::function<Snapshot()> snapshot)
    : snapshot_(std::move(snapshot)), s_(std::make_unique<State>()) {}

UpdateRecord::~UpdateRecord() {
    if (endingRecord != this)
        return;
    endingRecord = nullptr;
    setBeforeReplacing({});
}

bool UpdateRecord::begun() const {
    return s_->begun;
}

// Rewrites the record of a run still under way, so that a run cut off (killed, power lost)
// leaves it saying how far it got.
void UpdateRecord::checkpoint(const QString& milestone) {
    State& s = *s_;
    if (!s.begun)
        return;
    if (kMilestones.indexOf(milestone) > kMilestones.indexOf(s.milestone))
        s.milestone = milestone;
    try {
        const QJsonObject record = buildAt(true, 0).json;
        const QString dir = recordsFolder(updatekrv::DirSis);
        QDir().mkpath(dir);
        save(dir + '/' + recordName(record), record);
    } catch (const std::exception&) {
        // The record never stands in the way of the update.
    }
}

void UpdateRecord::reset() {
    *s_ = State{};
}

void UpdateRecord::begin(std::function<RunFacts()> facts) {
    State& s = *s_;
    if (s.begun)
        return;
    s.begun = true;
    s.facts = std::move(facts);
    s.start = QDateTime::currentDateTime();
    s.clock.start();
    s.before = snapshot_();
    markInterrupted(updatekrv::DirSis);
    checkpoint();
    setBeforeReplacing(
        [this](const QString& destination, const std::vector<StagedMember>& members) {
            kept::beforeReplacing(*this, destination, members);
        });
    endingRecord = this;
    // Once a process, whichever record begun last is the one that ends it.
    static bool registered = false;
    if (registered)
        return;
    registered = true;
    platform::atProgramEnd([](int code) {
        try {
            UpdateRecord* r = endingRecord;
            if (!r || !r->s_->begun)
                return;
            // A run that failed while fetching: what it fetched so far stays in the folder.
            if (code != 0 && !r->s_->filesHashed)
                hashUpdateFolder(*r->s_);
            const Built record = r->build(code);
            write(updatekrv::DirSis, record);
            if (record.json["outcome"] == "updated")
                kept::removeOldFolders(updatekrv::DirSis);
        } catch (const std::exception&) {
            // The record never stands in the way of the program's end.
        }
    });
}

void UpdateRecord::statement(const QString& sql) {
    State& s = *s_;
    if (!s.begun)
        return;
    const qint64 now = s.clock.elapsed();
    if (!s.statements.isEmpty() && s.statements.last().ms < 0)
        s.statements.last().ms = now - s.statements.last().startMs;
    s.statements << Statement{sql, QDateTime::currentDateTime(), now};
    if (s.statements.size() == 1) {
        checkpoint("database");
        platform::hook::pausePoint("statement-first");
    }
}

void UpdateRecord::statementsDone() {
    State& s = *s_;
    if (!s.begun)
        return;
    s.statementsDone = true;
    if (!s.statements.isEmpty() && s.statements.last().ms < 0)
        s.statements.last().ms = s.clock.elapsed() - s.statements.last().startMs;
    checkpoint("database");
}

void UpdateRecord::dataCopied(const QString& path, const QString& table, const QString& column,
                              qint64 rows) {
    State& s = *s_;
    if (s.begun)
        s.dataCopies << DataCopyEntry{QFileInfo(path).fileName(), table, column, rows};
}

void UpdateRecord::menuReloaded() {
    checkpoint("menu");
}

void UpdateRecord::downloaded(const QString& name, qint64 bytes, qint64 ns) {
    State& s = *s_;
    if (s.begun)
        s.downloads[name] = Download{bytes, ns};
}

void UpdateRecord::signatureVerified(const QString& name) {
    State& s = *s_;
    if (s.begun)
        s.verified << name;
}

void UpdateRecord::manifestChecked(qint64 serial, const QString& expires, const QString& sha256) {
    State& s = *s_;
    if (s.begun)
        s.manifest = QJsonObject{{"serial", serial}, {"expires", expires}, {"sha256", sha256}};
}

void UpdateRecord::filesFound(const QString& folder, const QStringList& names) {
    State& s = *s_;
    if (!s.begun)
        return;
    // The medium's files stand for the update folder's: a copy there is not hashed again.
    s.filesHashed = true;
    if (names.isEmpty())
        return;
    for (const QString& name : names)
        hash(s, folder + '/' + name);
    checkpoint("files");
}

void UpdateRecord::filesFetched() {
    State& s = *s_;
    // Hashed once, as fetched: the database update later writes its snapshot into krv.mdb.
    if (!s.begun || s.filesHashed)
        return;
    hashUpdateFolder(s);
    checkpoint("files");
}

namespace {

QJsonArray keptJson(const State& s) {
    QJsonArray out;
    for (const KeptEntry& k : s.kept) {
        const bool added = k.sha256.isEmpty();
        out.append(QJsonObject{{"name", k.name},
                               {"size", added ? QJsonValue() : QJsonValue(k.size)},
                               {"sha256", added ? QJsonValue() : QJsonValue(k.sha256)},
                               {"after_size", k.afterSize},
                               {"after_sha256", k.afterSha256}});
    }
    return out;
}

QJsonArray versionsJson(const QList<VersionEntry>& versions) {
    QJsonArray out;
    for (const VersionEntry& v : versions)
        out.append(v.json());
    return out;
}

// running: the record of a run still under way (rewritten at each milestone).
qint64 fetchedBytes(const State& s) {
    qint64 total = 0;
    for (const Download& d : s.downloads)
        total += d.bytes;
    return total;
}

} // namespace

Built UpdateRecord::buildAt(bool running, int endCode) const {
    const State& s = *s_;
    const Snapshot after = snapshot_();
    const bool failed = running || endCode != 0;

    // A module that appeared, changed, or lost its version information (null on that side).
    QJsonArray modules;
    QStringList names = s.before.modules.keys() + after.modules.keys();
    names.removeDuplicates();
    names.sort();
    for (const QString& name : names) {
        const auto version = [&](const Snapshot& at) {
            return at.modules.contains(name) ? QJsonValue(at.modules[name]) : QJsonValue();
        };
        if (version(s.before) != version(after))
            modules.append(QJsonObject{
                {"name", name}, {"before", version(s.before)}, {"after", version(after)}});
    }

    QJsonArray statements;
    for (qsizetype i = 0; i < s.statements.size(); ++i) {
        const Statement& st = s.statements[i];
        const bool last = i + 1 == s.statements.size();
        // The statement a failed run was in when it stopped is the one the server refused;
        // a run under way is still in it.
        const bool unfinished = last && failed && !s.statementsDone;
        QString result = "ok";
        if (unfinished)
            result = running ? "running" : "error";
        statements.append(QJsonObject{{"sql", st.sql},
                                      {"started", stamp(st.started)},
                                      {"duration_ms", st.ms < 0 ? QJsonValue() : st.ms},
                                      {"result", result}});
    }
    QJsonArray copies;
    for (const DataCopyEntry& c : s.dataCopies)
        copies.append(QJsonObject{
            {"file", c.file}, {"table", c.table}, {"column", c.column}, {"rows", c.rows}});
    QJsonObject altered;
    for (auto it = s.before.tables.begin(); it != s.before.tables.end(); ++it)
        if (after.tables.value(it.key()) != it.value())
            altered[it.key()] = it.value();

    const bool dbChanged =
        !statements.isEmpty() || after.installed.database != s.before.installed.database;
    const bool menuChanged =
        after.menuRows != s.before.menuRows || after.installed.menu != s.before.installed.menu;
    QString reached = "start";
    if (!s.files.isEmpty() || !modules.isEmpty())
        reached = "files";
    if (dbChanged)
        reached = "database";
    if (menuChanged)
        reached = "menu";
    if (kMilestones.indexOf(s.milestone) > kMilestones.indexOf(reached))
        reached = s.milestone;
    if (!failed)
        reached = "end";

    const RunFacts facts = s.facts ? s.facts() : RunFacts{};
    QString outcome = "failed";
    if (running)
        outcome = "running";
    else if (!failed)
        outcome = facts.updated ? "updated" : "nothing to update";
    QJsonObject out{
        {"start", stamp(s.start)},
        {"end", stamp(QDateTime::currentDateTime())},
        {"user", facts.user},
        {"source", facts.source},
        {"outcome", outcome},
        {"exit_code", running ? QJsonValue() : QJsonValue(endCode)},
        {"pid", qint64(::getpid())},
        {"message", !facts.message.isEmpty() ? facts.message : platform::lastMessage()},
        {"reached", reached},
        {"files", filesJson(s)},
        {"modules", modules},
        {"database",
         QJsonObject{{"ult_atualizacao",
                      beforeAfter(s.before.installed.database, after.installed.database)},
                     {"atmenu", beforeAfter(s.before.installed.menu, after.installed.menu)},
                     {"statements", statements},
                     {"data_copies", copies},
                     {"tables_before", altered}}},
        {"menu_rows", beforeAfter(s.before.menuRows, after.menuRows)},
        {"manifest", s.manifest.isEmpty() ? QJsonValue() : QJsonValue(s.manifest)},
        {"kept_files", keptJson(s)},
        {"kept_menu", s.keptMenu},
        {"versions", versionsJson(s.offered)},
        {"held", versionsJson(s.held)},
        {"delta_updates", deltaSummary(fetchedBytes(s))},
    };
    for (auto it = s.notes.begin(); it != s.notes.end(); ++it)
        out[it.key()] = it.value();
    const bool changed = !s.files.isEmpty() || !modules.isEmpty() || !statements.isEmpty() ||
                         !altered.isEmpty() || !s.kept.isEmpty() ||
                         after.installed.database != s.before.installed.database ||
                         after.installed.menu != s.before.installed.menu ||
                         json(after.menuRows) != json(s.before.menuRows);
    return {out, changed};
}

QString UpdateRecord::keepFolder() const {
    const State& s = *s_;
    if (!s.begun)
        return {};
    return recordsFolder(updatekrv::DirSis) + '/' + s.start.toString("yyyyMMdd-HHmmss-zzz");
}

bool UpdateRecord::alreadyKept(const QString& name) const {
    for (const KeptEntry& k : s_->kept)
        if (k.name == name)
            return true;
    return false;
}

void UpdateRecord::fileKept(const QString& name, qint64 size, const QString& sha256,
                            qint64 afterSize, const QString& afterSha256) {
    State& s = *s_;
    if (!s.begun)
        return;
    for (KeptEntry& k : s.kept)
        if (k.name == name) {
            k.afterSize = afterSize;
            k.afterSha256 = afterSha256;
            return;
        }
    s.kept << KeptEntry{name, size, afterSize, sha256, afterSha256};
}

QList<rollback::FileStep> UpdateRecord::keptFiles() const {
    QList<rollback::FileStep> files;
    for (const KeptEntry& k : s_->kept)
        files << rollback::FileStep{k.name, k.sha256.isEmpty(), k.sha256, k.afterSha256};
    return files;
}

void UpdateRecord::keptWritten() {
    checkpoint("files");
}

void UpdateRecord::menuKept(const QString& file, int rows) {
    State& s = *s_;
    if (!s.begun)
        return;
    s.keptMenu = QJsonObject{{"file", file}, {"rows", rows}};
    checkpoint();
}

void UpdateRecord::versionOffered(const QString& kind, const QString& name,
                                  const QString& version) {
    if (s_->begun)
        s_->offered << VersionEntry{kind, name, version};
}

void UpdateRecord::versionHeld(const QString& kind, const QString& name, const QString& version) {
    if (s_->begun)
        s_->held << VersionEntry{kind, name, version};
}

void UpdateRecord::note(const QString& field, const QJsonObject& entry) {
    if (s_->begun)
        s_->notes[field].append(entry);
}

Built UpdateRecord::build(int endCode) const {
    return s_->begun ? buildAt(false, endCode) : Built{};
}

QString record::write(const QString& folder, const Built& built) {
    const QJsonObject& record = built.json;
    if (record.isEmpty())
        return {};
    const bool changed = built.changed;
    const QString dir = recordsFolder(folder);
    const QString name = recordName(record);
    // A run that changed nothing and ended normally (cancelled, nothing due) leaves no record:
    // the one written while it ran goes.
    if (!changed && record["exit_code"].toInt() == 0) {
        QFile::remove(dir + '/' + name);
        QDir().rmdir(dir);
        return {};
    }
    QDir().mkpath(dir);
    if (!save(dir + '/' + name, record))
        return {};
    appendLog(dir, name, record);
    return dir + '/' + name;
}

void record::markInterrupted(const QString& folder) {
    const QDir dir(recordsFolder(folder));
    for (const QString& name : dir.entryList({"*.json"}, QDir::Files, QDir::Name)) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        QJsonObject record = QJsonDocument::fromJson(file.readAll()).object();
        file.close();
        const qint64 pid = record["pid"].toInteger();
        if (record["outcome"] != "running" || platform::processRuns(pid))
            continue;
        // Kept as it was last written: how far the run got, and the statement it was in.
        record["outcome"] = "interrupted";
        QJsonObject db = record["database"].toObject();
        QJsonArray statements = db["statements"].toArray();
        for (qsizetype i = 0; i < statements.size(); ++i) {
            QJsonObject st = statements[i].toObject();
            if (st["result"] == "running") {
                st["result"] = "interrupted";
                statements[i] = st;
            }
        }
        db["statements"] = statements;
        record["database"] = db;
        if (save(dir.filePath(name), record))
            appendLog(dir.path(), name, record);
    }
}

} // namespace krv::runs
