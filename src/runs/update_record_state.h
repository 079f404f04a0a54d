#pragma once
// The update record's own state, shared by its source files.
#include "runs/update_record.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QList>
#include <QSet>

namespace krv::runs {

namespace record {

struct Statement {
    QString sql;
    QDateTime started;
    qint64 startMs = 0, ms = -1; // -1: never ended (the run stopped in it)
};

struct FileEntry {
    QString name;
    qint64 size = 0;
    QString sha256;
};

struct Download {
    qint64 bytes = 0, ns = 0;
};

struct KeptEntry {
    QString name;
    qint64 size = 0, afterSize = 0;
    QString sha256, afterSha256; // sha256 empty: added by the run
};

struct VersionEntry {
    QString kind, name, version;
    QJsonObject json() const { return {{"kind", kind}, {"name", name}, {"version", version}}; }
};

struct DataCopyEntry {
    QString file, table, column;
    qint64 rows = 0;
};

struct Judged {
    QString archive, delta, reason;
    qint64 bytes = 0, archiveSize = 0;
};

} // namespace record

struct UpdateRecord::State {
    using Snapshot = record::Snapshot;
    bool begun = false;
    bool filesHashed = false;
    QDateTime start;
    QElapsedTimer clock;
    Snapshot before;
    QList<record::Statement> statements;
    QList<record::DataCopyEntry> dataCopies;
    bool statementsDone = false;
    QList<record::FileEntry> files;
    QMap<QString, record::Download> downloads; // by file name: this run's bytes and time
    QSet<QString> verified;                    // file names whose signature held
    QString milestone = "start";
    QJsonObject manifest; // empty when no manifest was checked
    QList<record::KeptEntry> kept;
    QJsonValue keptMenu; // null until the menu's rows are kept
    QList<record::VersionEntry> offered, held;
    QMap<QString, QJsonArray> notes; // field -> entries (withdrawals, holds ended)
    std::function<record::RunFacts()> facts;
    QList<record::Judged> judged; // modules a delta served or not
};

} // namespace krv::runs
