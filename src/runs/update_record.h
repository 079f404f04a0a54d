#pragma once
// The record of an update: what the suite looked like before and after a run, the files
// the run fetched or found, and the statements it executed on the database. Written as
// DirSis + "/atualizacoes/<timestamp>.json" (atomically) with one summary line appended to
// "atualizacoes.log" beside it, whenever a run changed anything or failed on the way.
#include <QJsonObject>
#include <QString>

namespace krv::runs::record {

// Takes the state before anything changes; the suite's database must be open. Registers the
// writing of the record at the program's end.
void begin();

// A statement about to be executed on the suite's database, and the end of those statements.
void statement(const QString& sql);
void statementsDone();

// The files of the update folder, hashed once: right after the downloads, else before the
// folder is removed.
void filesFetched();

// The record as it would be written for a program end with that code; for tests and for the
// program end. Empty when begin() was not called.
QJsonObject build(int endCode);

// Writes the record into folder + "/atualizacoes" unless nothing happened; returns the
// record's path (empty when not written).
QString write(const QString& folder, const QJsonObject& record);

} // namespace krv::runs::record
