#pragma once
// What the server's catalogue says of one live table beyond the snapshot: each column's own
// character set and collation, the indexes with their uniqueness, and the table's size. Read
// only for the tables a plan changes.
#include <QList>
#include <QString>
#include <QStringList>

namespace krv::database {

class Connection;

struct LiveColumn {
    QString name, type, charset, collation; // charset and collation empty for non-text types
    bool nullable = true;
    QString comment; // empty when none
    QString check;   // the inline check's expression, empty when none
    // The type with the column's own character set and collation, without nullability: the
    // definition a scratch copy of the column is given.
    QString definition() const;
};

struct LiveIndex {
    QString name;
    QStringList columns;
    bool unique = false;
};

struct TableSize {
    qint64 rows = 0;  // the server's estimate
    qint64 bytes = 0; // data and indexes
};

// The columns of table in the server's order; empty when the table does not exist.
QList<LiveColumn> liveColumns(Connection& conexao, const QString& table);
// The indexes of table, their columns in order; the primary key is named "PRIMARY".
QList<LiveIndex> liveIndexes(Connection& conexao, const QString& table);
TableSize liveTableSize(Connection& conexao, const QString& table);

// One column by name (case ignored); a default LiveColumn when there is none.
LiveColumn liveColumn(Connection& conexao, const QString& table, const QString& column);

} // namespace krv::database
