#pragma once
// The texts of the statements that bring a live table into line with its reference: the
// column definition, create table, add/modify column, drop/add index and the bookkeeping
// update. Names go between backquotes, trimmed; literal defaults become escaped literals,
// expression defaults (see statement_check.h) are written as they are.
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace krv::database {

class UpdateRow;

// One row of the reference table tabelas: the table's engine, character set and collation,
// each empty when the file does not give it.
struct ReferenceTable {
    QString table, engine, charset, collation;
    QString comment; // empty: the file names none

    static ReferenceTable fromRow(const UpdateRow& row);
};

// One row of the reference table campos.
struct ReferenceColumn {
    QString table, field, type;
    bool nullable = true; // null is "YES" exactly, or null
    QString key, defaultValue, extra, autoText;
    // The default is the empty text: written as default ''. A file that carries column
    // character sets tells it from no default (null); any file may write it as ''.
    bool emptyDefault = false;
    // The character set and collation the column is given, when not its table's.
    QString charset, collation;
    // The file has the charset and collation columns: a column without its own follows its
    // table's.
    bool carriesCharsets = false;
    // The column's comment and inline check (the expression between the parentheses of
    // CHECK), each empty when the file names none.
    QString comment, check;

    static ReferenceColumn fromRow(const UpdateRow& row);
};

// A default as the server reports it that is the empty text: '' or, for the text and blob
// types, the expression ''.
bool isEmptyTextDefault(const QVariant& value);

// One index of a table to be created: its name and its columns in order.
struct ReferenceIndex {
    QString keyName;
    QStringList columns;
    bool unique = false;      // non_unique 0 in the reference; ignored for PRIMARY
    QList<int> prefixes = {}; // per column, 0 for the whole column; empty: whole columns
    QString kind = {};        // BTREE, FULLTEXT, SPATIAL or HASH in upper case; empty: the server's
};

// Blanks removed at both ends, as the original's Trim did (spaces only).
QString trimBlanks(const QString& s);
// The key names are matched by, on the update file's side (the SQL function krv_fold of the
// update file, see update_file.h) and on the live side alike: blanks removed at both ends,
// every letter's case folded, accented ones included, as the suite's server compares names.
QString foldName(const QString& s);
// The name a table is created or altered under: trimmed and lower case.
QString lowerName(const QString& s);

// A name between backquotes, its surrounding blanks removed and any backquote doubled (the
// checker refuses them in the update file; a live name may hold one).
QString quoteName(const QString& name);
// " default <expression>" or " default '<literal>'"; empty for an empty default.
// backslashEscapes: the session's escaping mode (Connection::backslashEscapes).
QString defaultClause(const QString& value, bool backslashEscapes = true);

// Whether a column type holds text, and so a character set: char, varchar, the text types,
// enum and set.
bool isTextType(const QString& type);
// The type a modified column is given: the reference's, followed by the live column's own
// character set and collation when the type holds text and names neither (nor binary), so
// that a column keeps them instead of taking its table's.
QString keptCharsetType(const QString& type, const QString& liveCharset,
                        const QString& liveCollation);

// D(C): field, blank, type, " NOT NULL " unless nullable, the default clause when a default
// is given, then extra appended directly, then " COMMENT '...'" and " CHECK (...)" where given.
QString columnDefinition(const ReferenceColumn& c, bool backslashEscapes = true);

// "create table `<first column's table, folded>` (D,D,... ,PRIMARY KEY (`a`,`b`),
// KEY `k` (`c`(10)),UNIQUE KEY `u` (`d`),FULLTEXT KEY `f` (`e`))" followed by the table's
// engine, character set and collation where given.
// columns must not be empty.
// Each of foreignKeys goes in as ",CONSTRAINT ..." (ForeignKey::clause) after the indexes,
// and the table's comment after its collation.
QString createTableStatement(const QList<ReferenceColumn>& columns,
                             const QList<ReferenceIndex>& indexes, const ReferenceTable& table = {},
                             bool backslashEscapes = true, const QStringList& foreignKeys = {});
// "alter table `t` comment '...'"
QString tableCommentStatement(const QString& liveName, const QString& comment,
                              bool backslashEscapes = true);
// "alter table `t` default character set X collate Y" (either part when given).
QString tableCharsetStatement(const QString& liveName, const ReferenceTable& table);

QString addColumnStatement(const QString& table, const ReferenceColumn& c,
                           bool backslashEscapes = true);
QString modifyColumnStatement(const QString& table, const ReferenceColumn& c,
                              bool backslashEscapes = true);
// liveName is the live table's folded name.
QString dropIndexStatement(const QString& liveName, const QString& keyName);
// engine: the table's, which decides whether a BTREE index must be asked for by name.
QString addIndexStatement(const QString& liveName, const ReferenceIndex& index,
                          const QString& engine = {});

// One row of values that occurs twice in columns of the live table (in the first prefixes[i]
// characters of column i where given), ignoring rows with a null in any of them (as a
// unique index does).
QString duplicateQuery(const QString& liveName, const QStringList& columns,
                       const QList<int>& prefixes = {});

QString bookkeepingStatement(const QString& versaoBD, bool backslashEscapes = true);

} // namespace krv::database
