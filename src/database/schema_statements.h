#pragma once
// The texts of the statements that bring a live table into line with its reference: the
// column definition, create table, add/modify column, drop/add index and the bookkeeping
// update. Names are written as the reference stores them; values become escaped literals.
#include <QList>
#include <QString>
#include <QStringList>

namespace krv::database {

class UpdateRow;

// One row of the reference table campos.
struct ReferenceColumn {
    QString table, field, type;
    bool nullable = true; // null is "YES" exactly, or null
    QString key, defaultValue, extra, autoText;

    static ReferenceColumn fromRow(const UpdateRow& row);
};

// One index of a table to be created: its name and its columns in order.
struct ReferenceIndex {
    QString keyName;
    QStringList columns;
};

// Blanks removed at both ends, as the original's Trim did (spaces only).
QString trimBlanks(const QString& s);
// The name used to match tables and columns: trimmed and lower case.
QString foldName(const QString& s);

// D(C): field, blank, type, " NOT NULL " unless nullable, " default '...'" when a default
// is given, then extra appended directly.
QString columnDefinition(const ReferenceColumn& c);

// "create table <first column's table, folded> (D,D,... ,PRIMARY KEY (a,b),KEY k (c))".
// columns must not be empty.
QString createTableStatement(const QList<ReferenceColumn>& columns,
                             const QList<ReferenceIndex>& indexes);

QString addColumnStatement(const QString& table, const ReferenceColumn& c);
QString modifyColumnStatement(const QString& table, const ReferenceColumn& c);
// liveName is the live table's folded name.
QString dropIndexStatement(const QString& liveName, const QString& keyName);
QString addIndexStatement(const QString& liveName, const ReferenceIndex& index);

QString bookkeepingStatement(const QString& versaoBD);

} // namespace krv::database
