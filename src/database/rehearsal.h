#pragma once
// The rehearsal of a plan: every statement runs first on empty copies of the tables it
// changes, ordinary tables under a reserved name in the suite's own database, so that a
// statement the server refuses refuses the update before the first live change. Each
// "alter table" is tried there with the least blocking algorithm the server accepts
// (INSTANT, else INPLACE without locks, else the server's own choice), which the live run
// then asks for. The copies are always dropped again.
#include "database/schema_sync.h"

namespace krv::database {

class Connection;

// Every copy's name begins so; nothing else in a suite's database does.
inline const QString kShadowPrefix = QStringLiteral("zv_ensaio_");

// Rehearses the plan's statements in order, setting each alter's clause and algorithm.
// Throws UpdateFileRefused naming the statement and the server's error.
void rehearse(Connection& conexao, QList<SyncStep>& plan);

// Drops the copies a run that was killed left behind.
void dropLeftoverShadows(Connection& conexao);

// statement, which begins "create table `table`" or "alter table `table`", on another table.
QString retarget(const QString& statement, const QString& table, const QString& other);

} // namespace krv::database
