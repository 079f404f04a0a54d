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
    c.carriesCharsets = row.has("collation");
    if (row.has("comment"))
        c.comment = row.text("comment");
    if (row.has("check"))
        c.check = trimBlanks(row.text("check"));
    if (c.carriesCharsets) {
        c.charset = trimBlanks(row.text("charset"));
        c.collation = trimBlanks(row.text("collation"));
    }
    // Files that lack the column character sets (Access files among them) cannot tell an
    // empty default from none: there only the expression '' is the empty text.
    const QVariant def = row.value("default");
    c.emptyDefault =
        c.carriesCharsets ? isEmptyTextDefault(def) : trimBlanks(def.toString()) == "''";
    if (c.emptyDefault)
        c.defaultValue.clear();
    return c;
}

ReferenceTable ReferenceTable::fromRow(const UpdateRow& row) {
    ReferenceTable t;
    t.table = row.text("table");
    for (auto [name, value] : {std::pair{"engine", &t.engine}, std::pair{"charset", &t.charset},
                               std::pair{"collation", &t.collation}})
        if (row.has(QLatin1String(name)))
            *value = trimBlanks(row.text(QLatin1String(name)));
    if (row.has("comment"))
        t.comment = row.text("comment");
    return t;
}

bool isEmptyTextDefault(const QVariant& value) {
    if (value.isNull())
        return false;
    const QString text = trimBlanks(value.toString());
    return text.isEmpty() || text == "''";
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
    // The checker refuses a backquote in the update file's names; a live name read from the
    // server may still hold one, and doubled it stays one name.
    return "`" + trimBlanks(name).replace("`", "``") + "`";
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
    const QString type = c.charset.isEmpty() && c.collation.isEmpty()
                             ? c.type
                             : keptCharsetType(c.type, c.charset, c.collation);
    QString d = quoteName(c.field) + " " + type;
    if (!c.nullable)
        d += " NOT NULL ";
    const QString def =
        c.emptyDefault ? QString(" default ''") : defaultClause(c.defaultValue, backslashEscapes);
    d += def + c.extra;
    if (!c.comment.isEmpty())
        d += " COMMENT " + sqlQuote(c.comment, backslashEscapes);
    if (!c.check.isEmpty())
        d += " CHECK (" + trimBlanks(c.check) + ")";
    return d;
}

namespace {
// The index's columns, each with its prefix length where it has one. The server reports a
// length for a spatial index's column that it refuses to be given.
QString keyParts(const ReferenceIndex& index) {
    QStringList parts;
    for (qsizetype i = 0; i < index.columns.size(); ++i) {
        const int prefix = index.kind == "SPATIAL" ? 0 : index.prefixes.value(i);
        parts << quoteName(index.columns[i]) +
                     (prefix > 0 ? "(" + QString::number(prefix) + ")" : QString());
    }
    return parts.join(',');
}

// HASH is always asked for by name; BTREE only where it is not the engine's own choice.
QString usingClause(const ReferenceIndex& index, const QString& engine) {
    const QString e = engine.toUpper();
    if (index.kind == "HASH" || (index.kind == "BTREE" && (e == "MEMORY" || e == "HEAP")))
        return " USING " + index.kind;
    return {};
}

// The words before an index's name: FULLTEXT and SPATIAL are kinds of their own.
QString kindWord(const ReferenceIndex& index) {
    if (index.kind == "FULLTEXT" || index.kind == "SPATIAL")
        return index.kind + " ";
    return index.unique ? "UNIQUE " : "";
}
} // namespace

QString createTableStatement(const QList<ReferenceColumn>& columns,
                             const QList<ReferenceIndex>& indexes, const ReferenceTable& table,
                             bool backslashEscapes, const QStringList& foreignKeys) {
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
            s += "," + kindWord(index) + "KEY " + quoteName(index.keyName);
        if (!index.columns.isEmpty())
            s += " (" + keyParts(index) + ")";
        s += usingClause(index, table.engine);
    }
    for (const QString& key : foreignKeys)
        s += "," + key;
    s += ")";
    if (!table.engine.isEmpty())
        s += " ENGINE=" + table.engine;
    if (!table.charset.isEmpty())
        s += " DEFAULT CHARSET=" + table.charset;
    if (!table.collation.isEmpty())
        s += " COLLATE=" + table.collation;
    if (!table.comment.isEmpty())
        s += " COMMENT=" + sqlQuote(table.comment, backslashEscapes);
    return s;
}

QString tableCommentStatement(const QString& liveName, const QString& comment,
                              bool backslashEscapes) {
    return "alter table " + quoteName(liveName) + " comment " + sqlQuote(comment, backslashEscapes);
}

QString tableCharsetStatement(const QString& liveName, const ReferenceTable& table) {
    QString s = "alter table " + quoteName(liveName) + " default";
    if (!table.charset.isEmpty())
        s += " character set " + table.charset;
    if (!table.collation.isEmpty())
        s += " collate " + table.collation;
    return s;
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

QString addIndexStatement(const QString& liveName, const ReferenceIndex& index,
                          const QString& engine) {
    const QString table = "alter table " + quoteName(liveName);
    QString head;
    if (index.keyName == "PRIMARY")
        head = table + " add primary key(";
    else
        head =
            table + " add " + kindWord(index).toLower() + "index " + quoteName(index.keyName) + "(";
    return head + keyParts(index) + ")" + usingClause(index, engine);
}

QString duplicateQuery(const QString& liveName, const QStringList& columns,
                       const QList<int>& prefixes) {
    QStringList present, values;
    for (qsizetype i = 0; i < columns.size(); ++i) {
        present << quoteName(columns[i]) + " is not null";
        const int prefix = prefixes.value(i);
        values << (prefix > 0 ? QString("left(%1, %2)").arg(quoteName(columns[i])).arg(prefix)
                              : quoteName(columns[i]));
    }
    // A unique index lets any number of rows with a null in one of its columns through.
    return "select " + values.join(',') + " from " + quoteName(liveName) + " where " +
           present.join(" and ") + " group by " + values.join(',') + " having count(*) > 1 limit 1";
}

QString bookkeepingStatement(const QString& versaoBD, bool backslashEscapes) {
    return "update licensa set ult_atualizacao=" + sqlQuote(versaoBD, backslashEscapes);
}

} // namespace krv::database
