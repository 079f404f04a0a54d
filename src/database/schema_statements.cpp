#include "database/schema_statements.h"

#include "database/connection.h"
#include "database/statement_check.h"
#include "database/update_file.h"

#include <QRegularExpression>

namespace krv::database {

ReferenceColumn ReferenceColumn::fromRow(const UpdateRow& row) {
    ReferenceColumn c;
    c.table = row.text("table");
    c.field = row.text("field");
    c.type = row.text("type");
    const QVariant null = row.value("null");
    c.nullable = null.isNull() || null.toString() == "YES";
    c.key = row.text("key");
    c.defaultValue = row.text("default");
    c.extra = row.text("extra");
    c.autoText = row.text("auto");
    return c;
}

QString trimBlanks(const QString& s) {
    qsizetype begin = 0, end = s.size();
    while (begin < end && s[begin] == u' ')
        ++begin;
    while (end > begin && s[end - 1] == u' ')
        --end;
    return s.mid(begin, end - begin);
}

QString foldName(const QString& s) {
    return trimBlanks(s).toCaseFolded();
}

QString lowerName(const QString& s) {
    return trimBlanks(s).toLower();
}

QString quoteName(const QString& name) {
    return "`" + trimBlanks(name) + "`";
}

QString defaultClause(const QString& value, bool backslashEscapes) {
    if (value.isEmpty())
        return {};
    if (isDefaultExpression(value))
        return " default " + trimBlanks(value);
    return " default " + sqlQuote(value, backslashEscapes);
}

bool isTextType(const QString& type) {
    static const QRegularExpression text(
        R"(^\s*(national\s+)?(char|varchar|character|tinytext|text|mediumtext|longtext|enum|set)\b)",
        QRegularExpression::CaseInsensitiveOption);
    return text.match(type).hasMatch();
}

QString keptCharsetType(const QString& type, const QString& liveCharset,
                        const QString& liveCollation) {
    // Quoted enum and set members may hold any word: look only outside them.
    QString outside = type;
    outside.replace(QRegularExpression(R"('(?:[^']|'')*')"), "''");
    static const QRegularExpression names(
        R"(\b(character\s+set|charset|collate|binary|ascii|unicode)\b)",
        QRegularExpression::CaseInsensitiveOption);
    if (!isTextType(type) || names.match(outside).hasMatch())
        return type;
    QString kept = trimBlanks(type);
    if (!liveCharset.isEmpty())
        kept += " character set " + liveCharset;
    if (!liveCollation.isEmpty())
        kept += " collate " + liveCollation;
    return kept;
}

QString columnDefinition(const ReferenceColumn& c, bool backslashEscapes) {
    QString d = quoteName(c.field) + " " + c.type;
    if (!c.nullable)
        d += " NOT NULL ";
    return d + defaultClause(c.defaultValue, backslashEscapes) + c.extra;
}

namespace {
QString columnList(const QStringList& columns) {
    QStringList quoted;
    for (const QString& column : columns)
        quoted << quoteName(column);
    return quoted.join(',');
}
} // namespace

QString createTableStatement(const QList<ReferenceColumn>& columns,
                             const QList<ReferenceIndex>& indexes, bool backslashEscapes) {
    QString s;
    for (const ReferenceColumn& c : columns) {
        if (s.isEmpty())
            s = "create table " + quoteName(lowerName(c.table)) + " (" +
                columnDefinition(c, backslashEscapes);
        else
            s += "," + columnDefinition(c, backslashEscapes);
    }
    for (const ReferenceIndex& index : indexes) {
        if (index.keyName == "PRIMARY")
            s += "," + index.keyName + " KEY";
        else
            s += QString(index.unique ? ",UNIQUE KEY " : ",KEY ") + quoteName(index.keyName);
        if (!index.columns.isEmpty())
            s += " (" + columnList(index.columns) + ")";
    }
    return s + ")";
}

QString addColumnStatement(const QString& table, const ReferenceColumn& c, bool backslashEscapes) {
    return "alter table " + quoteName(table) + " add column (" +
           columnDefinition(c, backslashEscapes) + c.autoText + ")";
}

QString modifyColumnStatement(const QString& table, const ReferenceColumn& c,
                              bool backslashEscapes) {
    return "alter table " + quoteName(table) + " modify column " +
           columnDefinition(c, backslashEscapes);
}

QString dropIndexStatement(const QString& liveName, const QString& keyName) {
    if (keyName == "PRIMARY")
        return "alter table " + quoteName(liveName) + " drop " + keyName + " KEY";
    return "alter table " + quoteName(liveName) + " drop index " + quoteName(keyName);
}

QString addIndexStatement(const QString& liveName, const ReferenceIndex& index) {
    const QString table = "alter table " + quoteName(liveName);
    QString head;
    if (index.keyName == "PRIMARY")
        head = table + " add primary key(";
    else
        head = table + (index.unique ? " add unique index " : " add index ") +
               quoteName(index.keyName) + "(";
    return head + columnList(index.columns) + ")";
}

QString duplicateQuery(const QString& liveName, const QStringList& columns) {
    QStringList present;
    for (const QString& column : columns)
        present << quoteName(column) + " is not null";
    // A unique index lets any number of rows with a null in one of its columns through.
    return "select " + columnList(columns) + " from " + quoteName(liveName) + " where " +
           present.join(" and ") + " group by " + columnList(columns) +
           " having count(*) > 1 limit 1";
}

QString bookkeepingStatement(const QString& versaoBD, bool backslashEscapes) {
    return "update licensa set ult_atualizacao=" + sqlQuote(versaoBD, backslashEscapes);
}

} // namespace krv::database
