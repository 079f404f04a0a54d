#pragma once
// The update of the live structure, safe for the stored data: the comparison's plan is
// rehearsed on empty copies, every value a column change touches is proven to survive it,
// and only then are the statements applied, under a strict sql_mode and with bounded waits
// for tables other connections hold. A value that would not survive refuses the update
// unless the change is taken knowingly, and then a copy of the old values is written first.
#include "database/schema_sync.h"
#include "database/value_check.h"

#include <functional>

namespace krv::database {

class Connection;
class UpdateFile;

// What to do when a change would alter stored values.
enum class DataChangePolicy { Ask, Refuse, Allow };

struct SafeUpdateOptions {
    // Asked (with Ask) whether the listed changes are taken knowingly.
    std::function<bool(const QList<ColumnLoss>&)> ask;
    DataChangePolicy policy = DataChangePolicy::Refuse;
    QString copyFolder; // where the copies of changed values go
    std::function<void(const QString& path, const ColumnLoss&)> copied;
    std::function<void()> idle; // between tries while a table is held elsewhere
    // With Allow, each foreign key left out because child rows lack a parent: its name, its
    // columns and why, told once the update is done.
    std::function<void(const QString& key)> keyLeftOut;
    // Once the update has passed its proof (rehearsal, value check, refusals), before the
    // first live statement: what must change only with the structure (the run's archives).
    std::function<void()> beforeLiveChanges;
};

// Plans the update of conexao's database from file (its snapshot taken), checks, rehearses
// and applies it. Throws UpdateFileRefused before the first live change when the plan is
// refused, and KrvError when the server fails a live statement.
void updateStructure(const UpdateFile& file, Connection& conexao, const SyncView& view,
                     const SafeUpdateOptions& options);

// The refusal of changes that would alter stored values.
QString lossRefusal(const QList<ColumnLoss>& losses);
// The question asked before taking them knowingly.
QString lossQuestion(const QList<ColumnLoss>& losses);

} // namespace krv::database
