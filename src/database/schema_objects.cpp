#include "database/schema_objects.h"

#include "database/schema_statements.h"
#include "database/statement_check.h"
#include "database/update_file.h"
#include "platform/krv_error.h"

#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>

namespace krv::database {

QSqlQuery readQuery(QSqlDatabase db, const QString& sql) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(sql))
        throw KrvError(err::Database, sql + ": " + q.lastError().text());
    return q;
}

QString withoutDefiner(const QString& definition) {
    // Only a create statement's own: a body may say the word too.
    static const QRegularExpression definer(
        R"(^(\s*CREATE\s+(?:ALGORITHM\s*=\s*\w+\s+)?)DEFINER\s*=\s*(?:`[^`]*`|'[^']*'|[^\s@]+))"
        R"((?:\s*@\s*(?:`[^`]*`|'[^']*'|\S+))?\s+)",
        QRegularExpression::CaseInsensitiveOption);
    QString s = definition;
    s.replace(definer, "\\1");
    return s.trimmed();
}

QString normalDefinition(const QString& definition) {
    return withoutDefiner(definition).simplified();
}

QList<SchemaObject> liveObjects(QSqlDatabase db) {
    // One statement for the list whatever the number of tables; only views and routines take
    // one more each ("show create" writes them without the database's name).
    QList<SchemaObject> objects;
    for (QSqlQuery q = readQuery(
             db, "select 'TRIGGER', trigger_name, event_object_table, action_timing, "
                 "event_manipulation, action_statement from information_schema.triggers where "
                 "trigger_schema = database() union all select 'VIEW', table_name, null, null, "
                 "null, null from information_schema.views where table_schema = database() "
                 "union all select routine_type, routine_name, null, null, null, null from "
                 "information_schema.routines where routine_schema = database() order by 1, 2");
         q.next();)
        objects << SchemaObject{q.value(1).toString(), q.value(0).toString(),
                                q.value(2).toString(), q.value(3).toString(),
                                q.value(4).toString(), q.value(5).toString()};
    QList<SchemaObject> out;
    for (SchemaObject& o : objects) {
        if (o.kind == "TRIGGER") {
            out << o;
            continue;
        }
        QSqlQuery q = readQuery(db, "show create " + o.kind.toLower() + " " + quoteName(o.name));
        // Null where the user may not see it.
        const QString text =
            q.next() ? withoutDefiner(q.value(o.kind == "VIEW" ? 1 : 2).toString()) : QString();
        if (o.kind != "VIEW") {
            o.definition = text;
        } else {
            const QString head = "VIEW " + quoteName(o.name) + " AS ";
            const qsizetype at = text.indexOf(head, 0, Qt::CaseInsensitive);
            o.definition = at < 0 ? QString() : text.mid(at + head.size());
        }
        if (!o.definition.isEmpty())
            out << o;
    }
    return out;
}

QList<SchemaObject> objectsFrom(const UpdateRows& rows) {
    QList<SchemaObject> objects;
    for (const UpdateRow row : rows)
        objects << SchemaObject{trimBlanks(row.text("name")),
                                trimBlanks(row.text("kind")).toUpper(),
                                trimBlanks(row.text("table")),
                                trimBlanks(row.text("timing")).toUpper(),
                                trimBlanks(row.text("event")).toUpper(),
                                row.text("definition")};
    return objects;
}

void createObjectTable(const UpdateFile& file, const QString& table) {
    file.execute("create table if not exists " + table +
                 " (name text, kind text, [table] text, timing text, event text, definition text)");
}

void writeObjects(const UpdateFile& file, const QString& table,
                  const QList<SchemaObject>& objects) {
    for (const SchemaObject& o : objects)
        file.execute("insert into " + table +
                         " (name, kind, [table], timing, event, definition) values (?,?,?,?,?,?)",
                     {o.name, o.kind, o.table.isEmpty() ? QVariant() : QVariant(o.table),
                      o.timing.isEmpty() ? QVariant() : QVariant(o.timing),
                      o.event.isEmpty() ? QVariant() : QVariant(o.event), o.definition});
}

QString objectProblem(const SchemaObject& o) {
    if (!isPlainIdentifier(o.name))
        return "nome <" + o.name + ">";
    if (normalDefinition(o.definition).isEmpty())
        return "definição vazia";
    if (o.kind == "TRIGGER") {
        if (!isPlainIdentifier(o.table))
            return "tabela <" + o.table + ">";
        if (o.timing != "BEFORE" && o.timing != "AFTER")
            return "momento <" + o.timing + ">";
        if (o.event != "INSERT" && o.event != "UPDATE" && o.event != "DELETE")
            return "evento <" + o.event + ">";
        return {};
    }
    if (o.kind == "VIEW")
        return {};
    if (o.kind != "PROCEDURE" && o.kind != "FUNCTION")
        return "tipo <" + o.kind + ">";
    // The statement sent is the file's own text: it must create this routine and no other.
    const QString head = "CREATE " + o.kind + " " + quoteName(o.name);
    const QString text = normalDefinition(o.definition);
    if (!text.startsWith(head, Qt::CaseInsensitive) ||
        (text.size() > head.size() && text[head.size()] != u'(' && text[head.size()] != u' '))
        return "definição que não começa por <" + head + ">";
    return {};
}

QString createTriggerStatement(const SchemaObject& t, const QString& name, const QString& table) {
    return "create trigger " + quoteName(name) + " " + t.timing.toLower() + " " +
           t.event.toLower() + " on " + quoteName(table) + " for each row " +
           withoutDefiner(t.definition);
}

QString createObjectStatement(const SchemaObject& o) {
    if (o.kind == "TRIGGER")
        return createTriggerStatement(o, o.name, lowerName(o.table));
    if (o.kind == "VIEW")
        return "create view " + quoteName(o.name) + " as " + withoutDefiner(o.definition);
    return withoutDefiner(o.definition);
}

QString objectKindText(const QString& kind) {
    if (kind == "TRIGGER")
        return QStringLiteral("Gatilho");
    if (kind == "VIEW")
        return QStringLiteral("Visão");
    if (kind == "FUNCTION")
        return QStringLiteral("Função");
    return QStringLiteral("Procedimento");
}

} // namespace krv::database
