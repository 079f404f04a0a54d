#include "database/foreign_keys.h"

#include "database/schema_statements.h"
#include "database/update_file.h"
#include "platform/krv_error.h"

#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>

namespace krv::database {

namespace {

QString quotedList(const QStringList& names, const QString& prefix = {}) {
    QStringList out;
    for (const QString& n : names)
        out << prefix + quoteName(n);
    return out.join(',');
}

QStringList folded(const QStringList& names) {
    QStringList out;
    for (const QString& n : names)
        out << foldName(n);
    return out;
}

QString action(const QString& a) {
    const QString up = trimBlanks(a).toUpper();
    return up.isEmpty() ? QStringLiteral("RESTRICT") : up;
}

} // namespace

QString ForeignKey::clause(const QString& parentName, bool named) const {
    QString s = named ? "CONSTRAINT " + quoteName(name) + " " : QString();
    s += "FOREIGN KEY (" + quotedList(columns) + ") REFERENCES " + quoteName(parentName) + " (" +
         quotedList(parentColumns) + ")";
    // RESTRICT is what the server reports for a key that names none; named, an in-place
    // add records it as NO ACTION.
    if (action(onDelete) != "RESTRICT")
        s += " ON DELETE " + action(onDelete);
    if (action(onUpdate) != "RESTRICT")
        s += " ON UPDATE " + action(onUpdate);
    return s;
}

bool ForeignKey::sameAs(const ForeignKey& other) const {
    return foldName(table) == foldName(other.table) && foldName(parent) == foldName(other.parent) &&
           folded(columns) == folded(other.columns) &&
           folded(parentColumns) == folded(other.parentColumns) &&
           action(onDelete) == action(other.onDelete) && action(onUpdate) == action(other.onUpdate);
}

QString ForeignKey::describe() const {
    return "<" + trimBlanks(table) + ">(" + columns.join(',') + ") -> <" + trimBlanks(parent) +
           ">(" + parentColumns.join(',') + ")";
}

bool isReferentialAction(const QString& a) {
    static const QStringList actions = {"",         "RESTRICT",  "CASCADE",
                                        "SET NULL", "NO ACTION", "SET DEFAULT"};
    return actions.contains(trimBlanks(a).toUpper());
}

QList<ForeignKey> foreignKeysFrom(const UpdateRows& rows) {
    QList<ForeignKey> keys;
    QHash<QString, qsizetype> at;
    using KeyColumn = std::pair<qlonglong, std::pair<QString, QString>>; // seq, child, parent
    QList<QList<KeyColumn>> columns;
    for (const UpdateRow row : rows) {
        const QString id =
            foldName(row.text("table")) + '\n' + foldName(row.text("constraint_name"));
        if (!at.contains(id)) {
            at.insert(id, keys.size());
            keys << ForeignKey{trimBlanks(row.text("table")),
                               trimBlanks(row.text("constraint_name")),
                               {},
                               trimBlanks(row.text("ref_table")),
                               {},
                               trimBlanks(row.text("on_delete")).toUpper(),
                               trimBlanks(row.text("on_update")).toUpper()};
            columns.append(QList<KeyColumn>());
        }
        columns[at.value(id)].append(
            {row.value("seq_in_key").toLongLong(),
             {trimBlanks(row.text("column_name")), trimBlanks(row.text("ref_column"))}});
    }
    for (qsizetype i = 0; i < keys.size(); ++i) {
        std::stable_sort(columns[i].begin(), columns[i].end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        for (const auto& c : columns[i]) {
            keys[i].columns << c.second.first;
            keys[i].parentColumns << c.second.second;
        }
    }
    return keys;
}

QList<ForeignKey> liveForeignKeys(QSqlDatabase db) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    const QString sql =
        "select k.table_name, k.constraint_name, k.column_name, k.referenced_table_name, "
        "k.referenced_column_name, r.delete_rule, r.update_rule from "
        "information_schema.key_column_usage k join information_schema.referential_constraints "
        "r on r.constraint_schema = k.constraint_schema and r.table_name = k.table_name and "
        "r.constraint_name = k.constraint_name where k.constraint_schema = database() and "
        "k.referenced_table_name is not null order by k.table_name, k.constraint_name, "
        "k.ordinal_position";
    if (!q.exec(sql))
        throw KrvError(err::Database,
                       "information_schema.key_column_usage: " + q.lastError().text());
    QList<ForeignKey> keys;
    while (q.next()) {
        if (keys.isEmpty() || keys.last().table != q.value(0).toString() ||
            keys.last().name != q.value(1).toString())
            keys << ForeignKey{
                q.value(0).toString(), q.value(1).toString(), {}, q.value(3).toString(), {},
                q.value(5).toString(), q.value(6).toString()};
        keys.last().columns << q.value(2).toString();
        keys.last().parentColumns << q.value(4).toString();
    }
    return keys;
}

void createForeignKeyTable(const UpdateFile& file, const QString& table) {
    file.execute("create table if not exists " + table +
                 " ([table] text, constraint_name text, column_name text, seq_in_key integer, "
                 "ref_table text, ref_column text, on_delete text, on_update text)");
}

void writeForeignKeys(const UpdateFile& file, const QString& table, const QList<ForeignKey>& keys) {
    for (const ForeignKey& k : keys)
        for (qsizetype i = 0; i < k.columns.size(); ++i)
            file.execute("insert into " + table +
                             " ([table], constraint_name, column_name, seq_in_key, ref_table, "
                             "ref_column, on_delete, on_update) values (?,?,?,?,?,?,?,?)",
                         {k.table, k.name, k.columns[i], qlonglong(i + 1), k.parent,
                          k.parentColumns.value(i), k.onDelete, k.onUpdate});
}

QString addForeignKeyStatement(const ForeignKey& key) {
    return "alter table " + quoteName(lowerName(key.table)) + " add " + key.clause();
}

namespace {
QString orphans(const ForeignKey& key, bool parentExists, const QString& what) {
    QStringList set, match;
    for (qsizetype i = 0; i < key.columns.size(); ++i) {
        set << "c." + quoteName(key.columns[i]) + " is not null";
        match << "p." + quoteName(key.parentColumns.value(i)) + " = c." + quoteName(key.columns[i]);
    }
    QString s = "select " + what + " from " + quoteName(lowerName(key.table)) + " c where " +
                set.join(" and ");
    if (parentExists)
        s += " and not exists (select 1 from " + quoteName(lowerName(key.parent)) + " p where " +
             match.join(" and ") + ")";
    return s;
}
} // namespace

QString orphanCountQuery(const ForeignKey& key, bool parentExists) {
    return orphans(key, parentExists, "count(*)");
}

QString orphanExampleQuery(const ForeignKey& key, bool parentExists) {
    return orphans(key, parentExists, quotedList(key.columns, "c.")) + " limit 1";
}

QString keyType(const QString& type) {
    static const QRegularExpression width(
        R"(^(tinyint|smallint|mediumint|int|integer|bigint|char|varchar|binary|varbinary)\s*\(\s*\d+\s*\))");
    QString t = trimBlanks(type).toLower().simplified();
    t.replace(width, "\\1");
    return t;
}

} // namespace krv::database
