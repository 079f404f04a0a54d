#pragma once
// The record of an update: what the suite looked like before and after a run, the files
// the run fetched or found, and the statements it executed on the database. Written as
// DirSis + "/atualizacoes/<timestamp>.json" (atomically) with one summary line appended to
// "atualizacoes.log" beside it, whenever a run changed anything or failed on the way. While
// the run goes on, the record is rewritten at each milestone with the outcome "running" and
// the writer's process id, so that a run cut off leaves one saying how far it got.
//
// The run session owns its UpdateRecord and hands it to what keeps files, checks the release
// and fetches; the record never asks the session back, it is told the run's facts.
#include "runs/installed_versions.h"
#include "runs/rollback.h"

#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <memory>

namespace krv::runs {

namespace record {

// What the run says of itself whenever its record is built.
struct RunFacts {
    QString user;         // logged in to the update server
    QString source;       // the update server's address, or the directory run's folder
    bool updated = false; // the run applied something
    QString message;      // the last message told; empty: the last box shown
};

// What the suite looks like at one moment.
struct Snapshot {
    QMap<QString, QString> modules; // file name -> version, files with version information
    InstalledVersions installed;
    QVariant menuRows;
    QMap<QString, QString> tables; // name -> show create table
};
// The suite as it is now: the modules of DirSis, the rest read over the suite's database.
Snapshot takeSnapshot();

// A record as built, and whether the run it tells of changed anything.
struct Built {
    QJsonObject json;
    bool changed = false;
};

// folder + "/atualizacoes", where the records, their log and the copies of changed values lie.
QString recordsFolder(const QString& folder);
// Writes the record into folder + "/atualizacoes" unless nothing happened (nothing changed and
// the exit code is 0: then the one written while the run went on goes); returns the record's
// path (empty when not written).
QString write(const QString& folder, const Built& record);

// The records in folder + "/atualizacoes" still "running" whose writer has ended become
// "interrupted", each with its log line.
void markInterrupted(const QString& folder);

} // namespace record

class UpdateRecord {
public:
    // snapshot: how the suite is looked at, before the run and whenever the record is built.
    explicit UpdateRecord(std::function<record::Snapshot()> snapshot = record::takeSnapshot);
    ~UpdateRecord();
    UpdateRecord(const UpdateRecord&) = delete;
    UpdateRecord& operator=(const UpdateRecord&) = delete;

    // Takes the state before anything changes; the suite's database must be open. Marks the
    // records of earlier runs cut off as interrupted, writes this run's first one, and has the
    // record written at the program's end. facts: asked each time the record is built.
    void begin(std::function<record::RunFacts()> facts);
    bool begun() const;
    // Forgets the run (tests run several runs in one process).
    void reset();

    // A statement about to be executed on the suite's database, and the end of those statements.
    void statement(const QString& sql);
    void statementsDone();

    // A change that alters stored values, taken knowingly: the copy of the old values written
    // at path (inside the records folder), for table.column and rows rows.
    void dataCopied(const QString& path, const QString& table, const QString& column, qint64 rows);
    // The menu reloaded from the update's menu file.
    void menuReloaded();

    // A file downloaded into the update folder: the bytes this run received (a resumed
    // download counts only the rest it fetched) and the nanoseconds it took.
    void downloaded(const QString& name, qint64 bytes, qint64 ns);
    // A file, by name, whose signature was checked and held.
    void signatureVerified(const QString& name);

    // The signed manifest the run's release was checked against: its serial, expiry (ISO 8601
    // UTC) and the SHA-256 of its text.
    void manifestChecked(qint64 serial, const QString& expires, const QString& sha256);

    // The files of the update folder, hashed once: right after the downloads, else before the
    // folder is removed.
    void filesFetched();
    // The files (names in folder) a directory run applies from its medium, hashed there; the
    // update folder is then not hashed.
    void filesFound(const QString& folder, const QStringList& names);

    // This run's update folder (DirSis/atualizacoes/<start>), where what it replaces is kept;
    // empty before begin().
    QString keepFolder() const;
    // Whether this run already kept a file of that name (the first old version is the one kept).
    bool alreadyKept(const QString& name) const;
    // A file of the suite's folder replaced by this run: the old one kept (size and SHA-256;
    // sha256 empty: the run added the file), and the new one's.
    void fileKept(const QString& name, qint64 size, const QString& sha256, qint64 afterSize,
                  const QString& afterSha256);
    // The files this run kept so far, as a rollback would put them back.
    QList<rollback::FileStep> keptFiles() const;
    // Rewrites the record with the files kept so far, before they are replaced.
    void keptWritten();
    // The menu's rows kept before the reload, in file (relative to the update folder).
    void menuKept(const QString& file, int rows);
    // A version on this run's work list (kind "module", "menu" or "assistant"), and one left
    // out because a rollback holds it.
    void versionOffered(const QString& kind, const QString& name, const QString& version);
    void versionHeld(const QString& kind, const QString& name, const QString& version);

    // ---- delta updates (update_record_deltas.cpp)
    // A module archive rebuilt from a delta: the delta's name, the bytes fetched of it this
    // run and what the archive would have cost.
    void deltaServed(const QString& archive, const QString& delta, qint64 bytes,
                     qint64 archiveSize);
    // A module archive fetched whole in a signed run, and why no delta served.
    void deltaNotUsed(const QString& archive, const QString& reason);

    // An entry added to the record's list field: a withdrawn version put back or left
    // ("withdrawn"), a hold a minimum version ended ("holds_ended"), a file put back
    // ("files_put_back").
    void note(const QString& field, const QJsonObject& entry);

    // The record as it would be written for a program end with that code; empty when begin()
    // was not called.
    record::Built build(int endCode) const;

    struct State; // defined in the source

private:
    void checkpoint(const QString& milestone = {});
    record::Built buildAt(bool running, int endCode) const;
    // The record's "delta_updates": each module judged, the run's bytes fetched beside what
    // the full archives would have cost; null when no module was judged.
    QJsonValue deltaSummary(qint64 fetched) const;

    std::function<record::Snapshot()> snapshot_;
    std::unique_ptr<State> s_;
};

} // namespace krv::runs
