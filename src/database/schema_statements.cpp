#include "database/schema_statements.h"

#include "database/connection.h"
#include "database/update_file.h"

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
    return trimBlanks(s).toLower();
}

QString columnDefinition(const ReferenceColumn& c) {
    QString d = c.field + " " + c.type;
    if (!c.nullable)
        d += " NOT NULL ";
    if (!c.defaultValue.isEmpty())
        d += " default " + sqlQuote(c.defaultValue);
    return d + c.extra;
}

QString createTableStatement(const QList<ReferenceColumn>& columns,
                             const QList<ReferenceIndex>& indexes) {
    QString s;
    for (const ReferenceColumn& c : columns) {
        if (s.isEmpty())
            s = "create table " + foldName(c.table) + " (" + columnDefinition(c);
        else
            s += "," + columnDefinition(c);
    }
    for (const ReferenceIndex& index : indexes) {
        if (index.keyName == "PRIMARY")
            s += "," + index.keyName + " KEY";
        else
            s += ",KEY " + index.keyName;
        if (!index.columns.isEmpty())
            s += " (" + index.columns.join(',') + ")";
    }
    return s + ")";
}

QString addColumnStatement(const QString& table, const ReferenceColumn& c) {
    return "alter table " + table + " add column (" + columnDefinition(c) + c.autoText + ")";
}

QString modifyColumnStatement(const QString& table, const ReferenceColumn& c) {
    return "alter table " + table + " modify column " + columnDefinition(c);
}

QString dropIndexStatement(const QString& liveName, const QString& keyName) {
    if (keyName == "PRIMARY")
        return "alter table " + liveName + " drop " + keyName + " KEY";
    return "alter table " + liveName + " drop index " + keyName;
}

QString addIndexStatement(const QString& liveName, const ReferenceIndex& index) {
    const QString head = index.keyName == "PRIMARY"
                             ? "alter table " + liveName + " add primary key("
                             : "alter table " + liveName + " add index " + index.keyName + "(";
    return head + index.columns.join(',') + ")";
}

QString bookkeepingStatement(const QString& versaoBD) {
    return "update licensa set ult_atualizacao=" + sqlQuote(versaoBD);
}

} // namespace krv::database
