#pragma once
// Proves, before the first change, that every stored value survives the column changes of a
// plan: the live values of each changed column are copied into a scratch table, where the
// server converts them to the new definition and back; a value survives only when it comes
// back identical byte for byte (NULL only as NULL). One method for every type, so no rule
// per type can be wrong. The same scratch copy holds the values the unique and primary keys
// will see after the change.
#include "database/schema_sync.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>

namespace krv::database {

class Connection;

// The rows of one column change whose values would not survive it.
struct ColumnLoss {
    QString table, column, liveType, newType;
    qint64 rows = 0;
    QString example; // the first such row's key ("id=5") and old value
};

// One row whose value would not survive: the key columns' values (every column's when the
// table has no primary key), then the old value of the changed column.
using LostRow = std::function<void(const ColumnLoss& loss, const QStringList& header,
                                   const QList<QVariant>& values)>;

struct ValueCheckResult {
    QList<ColumnLoss> losses;
    // Keys the changed values would break (duplicates, a primary key over NULL): the server
    // would refuse them part-way, so the update is refused whole.
    QStringList refusals;
};

// Checks the plan's column changes and its new unique and primary keys on the live values.
// lostRow, when given, is told every row that would change (for the copy taken when a change
// is accepted knowingly). Scratch tables are temporary and dropped again. Throws KrvError on
// a server error.
ValueCheckResult checkValues(Connection& conexao, const QList<SyncStep>& plan,
                             const LostRow& lostRow = {});

// The statements whose values need checking: all but a column change the server makes in
// the metadata alone (INSTANT), which keeps every stored byte.
QList<SyncStep> valueChanging(const QList<SyncStep>& plan);

// "A alteração de <t>.<c> de <old> para <new> mudaria ou perderia N valor(es) guardado(s)
// (por exemplo id=5: <valor>)".
QString lossText(const ColumnLoss& loss);

} // namespace krv::database
