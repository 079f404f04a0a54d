#pragma once
// The dry run of the database update: what the update would show and execute on the suite's
// database with a given update file, worked out on a working copy of the file: each
// statement rehearsed on an empty copy of its table (with the algorithm the server would
// use), and each column change that would alter stored values counted exactly on the live
// rows. Nothing live is changed; the scratch copies are dropped again.
#include <QString>
#include <QStringList>

namespace krv::database {

class Connection;

struct PlanResult {
    QStringList output;   // the lines to print
    int statements = 0;   // statements the update would execute
    int lossWarnings = 0; // column changes flagged
    QStringList refusals; // each refusal the input checks raise; any one refuses the file
};

// Plans the update of conexao's database with the update file at path. The file is copied
// first: the snapshot is written into the copy only.
PlanResult planUpdate(const QString& updateFilePath, Connection& conexao);

} // namespace krv::database
