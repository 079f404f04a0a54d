#include "update_file_builder.h"

#include "database/foreign_keys.h"
#include "database/schema_objects.h"
#include "database/schema_statements.h"
#include "database/statement_check.h"
#include "database/update_file.h"
#include "platform/krv_error.h"

#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace krv::tools {

using database::UpdateFile;
using database::UpdateFileTransaction;

void createUpdateFileTables(const UpdateFile& file) {
    // Column order matters: the snapshot inserts rows without a column list.
    file.executeScript(
        "create table numero (CodAtu text);"
        "create table tabelas ([table] text, engine text, charset text, collation text, "
        "comment text);"
        "create table campos ([table] text, field text, type text, [null] text, [key] text, "
        "[default] text, extra text, auto text, charset text, collation text, comment text, "
        "[check] text);"
        "create table indices ([table] text, key_name text, column_name text, "
        "seq_in_index integer, non_unique text, sub_part integer, index_type text);"
        "create table d_tabelas ([table] text, engine text, charset text, collation text, "
        "comment text);"
        "create table d_campos ([table] text, field text, type text, [null] text, [key] text, "
        "[default] text, extra text, charset text, collation text, comment text);"
        "create table d_indices ([table] text, key_name text, column_name text, "
        "seq_in_index integer, non_unique text, sub_part integer, index_type text);");
    for (const char* keys : {"estrangeiras", "d_estrangeiras"})
        database::createForeignKeyTable(file, keys);
    for (const char* objects : {"objetos", "d_objetos"})
        database::createObjectTable(file, objects);
}

namespace {

// Result columns by name, whatever case the server gives its headers.
QVariant field(const QSqlQuery& q, const QString& name) {
    const QSqlRecord rec = q.record();
    for (int i = 0; i < rec.count(); ++i)
        if (rec.fieldName(i).compare(name, Qt::CaseInsensitive) == 0)
            return q.value(i);
    throw KrvError(err::Database, "O resultado não tem a coluna " + name);
}

QString text(const QSqlQuery& q, const QString& name) {
    return field(q, name).toString();
}

// Nulls stay null: a column without default has a null default in campos.
QVariant nullable(const QSqlQuery& q, const QString& name) {
    const QVariant v = field(q, name);
    return v.isNull() ? QVariant() : QVariant(v.toString());
}

// What information_schema says of a column beyond "show columns": its default as the
// server keeps it (literal texts quoted, numbers and expressions bare), its character set
// and collation.
struct ServerColumn {
    QVariant defaultValue;
    QString charset, collation, comment, check;
};

QMap<QString, ServerColumn> serverColumns(QSqlDatabase reference, const QString& table) {
    QSqlQuery q(reference);
    q.prepare("select column_name, column_default, character_set_name, collation_name, "
              "column_comment from information_schema.columns where table_schema = database() "
              "and table_name = ?");
    q.addBindValue(table);
    if (!q.exec())
        throw KrvError(err::Database, "information_schema.columns: " + q.lastError().text());
    QMap<QString, ServerColumn> columns;
    while (q.next())
        columns.insert(
            q.value(0).toString().toLower(),
            {q.value(1), q.value(2).toString(), q.value(3).toString(), q.value(4).toString(), {}});
    // A column's own check is named after it.
    QSqlQuery checks(reference);
    checks.prepare("select constraint_name, check_clause from information_schema.check_constraints "
                   "where constraint_schema = database() and level = 'Column' and table_name = ?");
    checks.addBindValue(table);
    if (!checks.exec())
        throw KrvError(err::Database,
                       "information_schema.check_constraints: " + checks.lastError().text());
    while (checks.next()) {
        const QString column = checks.value(0).toString();
        if (!database::isJsonCheck(checks.value(1).toString(), column))
            throw KrvError(err::Database, "A verificação <" + checks.value(1).toString() +
                                              "> da coluna " + table + "." + column +
                                              " não pode ser levada pelo arquivo de atualização.");
        columns[column.toLower()].check = checks.value(1).toString();
    }
    return columns;
}

// The table's engine, character set and collation.
QVariantList tableOptions(QSqlDatabase reference, const QString& table) {
    QSqlQuery q(reference);
    q.prepare("select t.engine, c.character_set_name, t.table_collation, t.table_comment from "
              "information_schema.tables t left join "
              "information_schema.collation_character_set_applicability c on "
              "c.collation_name = t.table_collation where t.table_schema = database() and "
              "t.table_name = ?");
    q.addBindValue(table);
    if (!q.exec())
        throw KrvError(err::Database, "information_schema.tables: " + q.lastError().text());
    if (!q.next())
        return {QVariant(), QVariant(), QVariant(), QVariant()};
    return {nullable(q, "engine"), nullable(q, "character_set_name"),
            nullable(q, "table_collation"), nullable(q, "table_comment")};
}

// Every name the file carries must be one the update accepts: refused here, the maker
// learns of it before the file ships.
void checkName(const QString& what, const QString& name) {
    if (!database::isPlainIdentifier(name))
        throw KrvError(err::Database, "O nome <" + name + "> (" + what +
                                          ") não pode ser levado pelo arquivo de atualização.");
}

// Zelvor tells an expression default from a literal by its form (see statement_check.h); a
// default whose form says otherwise than the server cannot travel in an update file.
void checkDefault(const QString& table, const QString& field, const QVariant& shown,
                  const QVariant& server) {
    if (shown.isNull())
        return;
    const QString text = shown.toString();
    const QString onServer = server.toString();
    bool number = false;
    onServer.toDouble(&number);
    if (database::isDefaultExpression(text) ? onServer == text
                                            : onServer.startsWith('\'') || number)
        return;
    throw KrvError(err::Database, "O padrão <" + text + "> da coluna " + table + "." + field +
                                      " não pode ser levado pelo arquivo de atualização (o "
                                      "servidor o descreve como <" +
                                      onServer + ">).");
}

} // namespace

void writeReference(const UpdateFile& file, QSqlDatabase reference, const BuildOptions& options) {
    if (!options.codAtu.isEmpty())
        file.execute("insert into numero (CodAtu) values (?)", {options.codAtu});

    QMap<QString, QString> autoText;
    for (auto it = options.autoText.begin(); it != options.autoText.end(); ++it)
        autoText.insert(it.key().toLower(), it.value());
    QStringList wanted;
    for (const QString& t : options.tables)
        wanted << t.toLower();

    QStringList tables;
    // Views travel as objects, not as tables.
    for (QSqlQuery q =
             database::readQuery(reference, "show full tables where table_type = 'BASE TABLE'");
         q.next();)
        if (wanted.isEmpty() || wanted.contains(q.value(0).toString().toLower()))
            tables << q.value(0).toString();
    for (const QString& w : wanted)
        if (!tables.contains(w, Qt::CaseInsensitive))
            throw KrvError(err::Database, "A tabela " + w + " não existe na referência.");

    for (const QString& t : tables) {
        checkName("tabela", t);
        const QVariantList options = tableOptions(reference, t);
        file.execute("insert into tabelas ([table], engine, charset, collation, comment) values "
                     "(?,?,?,?,?)",
                     {t, options[0], options[1], options[2], options[3]});
        const QString tableCollation = options[2].toString();
        const QMap<QString, ServerColumn> server = serverColumns(reference, t);
        const QString quoted = "`" + QString(t).replace('`', "``") + "`";
        for (QSqlQuery q = database::readQuery(reference, "show columns from " + quoted);
             q.next();) {
            const QString f = text(q, "field");
            checkName("campo de " + t, f);
            const ServerColumn column = server.value(f.toLower());
            checkDefault(t, f, nullable(q, "default"), column.defaultValue);
            QString extra = text(q, "extra");
            // Appended right after the definition: it must carry its own blank.
            if (!extra.isEmpty())
                extra.prepend(' ');
            // A column's own character set and collation only where they are not its table's.
            const bool own = !column.collation.isEmpty() &&
                             column.collation.compare(tableCollation, Qt::CaseInsensitive) != 0;
            file.execute("insert into campos ([table], field, type, [null], [key], [default], "
                         "extra, auto, charset, collation, comment, [check]) values "
                         "(?,?,?,?,?,?,?,?,?,?,?,?)",
                         {t, f, text(q, "type"), text(q, "null"), text(q, "key"),
                          nullable(q, "default"), extra,
                          autoText.value((t + "." + f).toLower(), QString("")),
                          own ? QVariant(column.charset) : QVariant(),
                          own ? QVariant(column.collation) : QVariant(), column.comment,
                          column.check.isEmpty() ? QVariant() : QVariant(column.check)});
        }
        for (QSqlQuery q = database::readQuery(reference, "show index from " + quoted); q.next();) {
            checkName("índice de " + t, text(q, "key_name"));
            file.execute("insert into indices ([table], key_name, column_name, seq_in_index, "
                         "non_unique, sub_part, index_type) values (?,?,?,?,?,?,?)",
                         {t, text(q, "key_name"), text(q, "column_name"),
                          field(q, "seq_in_index").toLongLong(), text(q, "non_unique"),
                          field(q, "sub_part").isNull()
                              ? QVariant()
                              : QVariant(field(q, "sub_part").toLongLong()),
                          text(q, "index_type")});
        }
    }

    QList<database::ForeignKey> keys;
    for (const database::ForeignKey& k : database::liveForeignKeys(reference))
        if (tables.contains(k.table, Qt::CaseInsensitive)) {
            checkName("chave estrangeira de " + k.table, k.name);
            keys << k;
        }
    database::writeForeignKeys(file, "estrangeiras", keys);
    QList<database::SchemaObject> objects;
    for (const database::SchemaObject& o : database::liveObjects(reference)) {
        // With a choice of tables, only the triggers that go with them.
        if (!wanted.isEmpty() &&
            !(o.kind == "TRIGGER" && tables.contains(o.table, Qt::CaseInsensitive)))
            continue;
        if (const QString problem = database::objectProblem(o); !problem.isEmpty())
            throw KrvError(err::Database, o.kind + " " + o.name + ": " + problem +
                                              " não pode ser levado pelo arquivo de atualização.");
        objects << o;
    }
    // A view after the views it selects from: the update creates them in the file's order.
    QList<database::SchemaObject> ordered;
    while (!objects.isEmpty()) {
        qsizetype next = 0;
        for (qsizetype i = 0; i < objects.size(); ++i) {
            bool waits = false;
            for (const database::SchemaObject& other : objects)
                waits = waits || (objects[i].kind == "VIEW" && other.kind == "VIEW" &&
                                  other.name != objects[i].name &&
                                  objects[i].definition.contains(database::quoteName(other.name)));
            if (!waits) {
                next = i;
                break;
            }
        }
        ordered << objects.takeAt(next);
    }
    database::writeObjects(file, "objetos", ordered);
}

void buildUpdateFile(const QString& path, QSqlDatabase reference, const BuildOptions& options) {
    UpdateFile file;
    file.createSqlite(path);
    try {
        UpdateFileTransaction transaction(file);
        createUpdateFileTables(file);
        writeReference(file, reference, options);
        transaction.commit();
    } catch (const KrvError&) {
        // No half-written file for a run to pick up.
        file.close();
        QFile::remove(path);
        throw;
    }
}

} // namespace krv::tools
