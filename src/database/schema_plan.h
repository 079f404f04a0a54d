#pragma once
// The dry run of the database update: what the update would show and execute on the suite's
// database with a given update file, worked out on a working copy of the file, with each
// column change that can lose data counted on the live rows. Nothing live is changed.
#include <QString>
#include <QStringList>
#include <optional>

namespace krv::database {

class Connection;

// What one bounded column type holds.
struct TypeLimit {
    enum Family { Other, Chars, Bytes, Integer, Decimal };
    Family family = Other;
    long double low = 0, high = 0; // Chars/Bytes: 0..length; Integer: the range;
                                   // Decimal: the integer part's bound (10^(p-s)) and ...
    int scale = 0;                 // ... the digits after the point
};

// Reads a column type as the server reports it ("varchar(40)", "int(10) unsigned",
// "decimal(10,2)"); Other for anything unbounded or not understood.
TypeLimit typeLimit(const QString& type);

// True when changing a column from liveType to newType can lose data: a shorter text, a
// smaller number range, fewer digits, or another kind of value.
bool canLoseData(const QString& liveType, const QString& newType);

// The condition on column (a backquoted name) that picks the rows whose value does not fit
// newType; nothing when newType is not bounded.
std::optional<QString> notFitting(const QString& column, const QString& newType);

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
