#include "database/schema_snapshot.h"

#include "database/connection.h"
#include "database/foreign_keys.h"
#include "database/schema_objects.h"
#include "database/update_file.h"

#include <QHash>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <array>
#include <cmath>
#include <vector>

namespace krv::database {

QString snapshotLabel(int value, int maximum) {
    // The number format "0": rounded half away from zero.
    const double percent = maximum > 0 ? value * 100.0 / maximum : 0.0;
    return kSnapshotCaption + " " + QString::number(std::llround(percent)) + "%";
}

namespace {

// One statement's rows, forward only, its columns found by name once: the result headers'
// case is the server's business, and looking names up per row costs more than the
// statement itself on large structures.
class ShowResult {
public:
    ShowResult(Connection& conexao, const QString& sql, std::initializer_list<const char*> names)
        : query_(conexao.database()) {
        conexao.requireOpen();
        query_.setForwardOnly(true);
        if (!query_.exec(sql))
            throw KrvError(errorNumber(query_.lastError()), errorText(query_.lastError()));
        const QSqlRecord record = query_.record();
        for (const char* name : names) {
            const int index = record.indexOf(QString::fromLatin1(name));
            if (index < 0)
                throw KrvError(3265, "Campo " + QString::fromLatin1(name) +
                                         " não existe no resultado de " + sql + ".");
            columns_.push_back(index);
        }
    }
    bool next() { return query_.next(); }
    // A null value (a column without default, typically) is stored as an empty value.
    QString text(int column) const { return query_.value(columns_[size_t(column)]).toString(); }
    QVariant value(int column) const { return query_.value(columns_[size_t(column)]); }
    // The value, null (an invalid QVariant) when the server sent NULL.
    QVariant nullable(int column) const {
        return query_.isNull(columns_[size_t(column)]) ? QVariant() : QVariant(text(column));
    }

private:
    static QString errorText(const QSqlError& e) {
        return (e.databaseText().isEmpty() ? e.text() : e.databaseText()).trimmed();
    }
    static int errorNumber(const QSqlError& e) {
        bool ok = false;
        const int n = e.nativeErrorCode().toInt(&ok);
        return ok && n != 0 ? n : err::Database;
    }
    QSqlQuery query_;
    std::vector<int> columns_;
};

// One live table as the snapshot records it: its engine, character set and collation, the
// "show full columns" rows and the "show index" rows, in the server's order.
struct LiveColumnRow {
    QString field, type, null, key;
    QVariant defaultValue; // null: no default
    QString extra, charset, collation, comment;
};
struct LiveIndexRow {
    QString keyName, columnName;
    qlonglong seq = 0;
    QString nonUnique;
    QVariant subPart; // null: the whole column
    QString indexType;
};
struct LiveTable {
    QString name, engine, charset, collation, comment;
    std::vector<LiveColumnRow> columns;
    std::vector<LiveIndexRow> indexes;
};

// The character set a collation belongs to: its first word ("latin1" of "latin1_bin").
QString collationCharset(const QString& collation) {
    return collation.section('_', 0, 0);
}

// A name inside backquotes: a table named by a reserved word or with blanks is still read.
QString quotedName(const QString& name) {
    return '`' + QString(name).replace('`', "``") + '`';
}

QStringList readTableNames(Connection& conexao) {
    // The client-side cursor of the original only made the count known; the list is read
    // whole here before the progress range is set.
    QStringList tables;
    std::unique_ptr<Recordset> rsLerTabelas;
    CriaRecordset(rsLerTabelas, true);
    rsLerTabelas->Open("show tables", conexao);
    for (; !rsLerTabelas->eof(); rsLerTabelas->moveNext())
        tables << rsLerTabelas->text(0);
    return tables;
}

// The columns and indexes of one table; its engine and collation are read apart.
void readWithShowStatements(Connection& conexao, LiveTable& t) {
    t.columns.clear();
    t.indexes.clear();
    ShowResult rsLerCampos(
        conexao, "show full columns from " + quotedName(t.name),
        {"field", "type", "null", "key", "default", "extra", "collation", "comment"});
    while (rsLerCampos.next()) {
        const QString collation = rsLerCampos.text(6);
        t.columns.push_back({rsLerCampos.text(0), rsLerCampos.text(1), rsLerCampos.text(2),
                             rsLerCampos.text(3), rsLerCampos.nullable(4), rsLerCampos.text(5),
                             collationCharset(collation), collation, rsLerCampos.text(7)});
    }
    ShowResult rsLerIndices(
        conexao, "show index from " + quotedName(t.name),
        {"key_name", "column_name", "seq_in_index", "non_unique", "sub_part", "index_type"});
    while (rsLerIndices.next())
        t.indexes.push_back({rsLerIndices.text(0), rsLerIndices.text(1),
                             rsLerIndices.value(2).toLongLong(), rsLerIndices.text(3),
                             rsLerIndices.nullable(4), rsLerIndices.text(5)});
}

void readTableStatus(Connection& conexao, LiveTable& t) {
    ShowResult status(conexao, "show table status where name = " + conexao.quote(t.name),
                      {"engine", "collation", "comment"});
    if (!status.next())
        return;
    t.engine = status.text(0);
    t.collation = status.text(1);
    t.comment = status.text(2);
    t.charset = collationCharset(t.collation);
}

// Columns whose default the server keeps as an expression even when it is a literal, so
// "show columns" writes it exactly as the catalogue does, quotes included.
bool defaultIsAlwaysExpression(const QString& type) {
    static const QStringList kinds = {"tinyblob",
                                      "blob",
                                      "mediumblob",
                                      "longblob",
                                      "tinytext",
                                      "text",
                                      "mediumtext",
                                      "longtext",
                                      "json",
                                      "geometry",
                                      "point",
                                      "linestring",
                                      "polygon",
                                      "multipoint",
                                      "multilinestring",
                                      "multipolygon",
                                      "geometrycollection"};
    const QString kind = type.section('(', 0, 0).section(' ', 0, 0).toLower();
    return kinds.contains(kind);
}

// Whether text is one literal between apostrophes, as the catalogue writes a literal
// default ('' and backslash pairs inside), rather than an expression that merely starts
// and ends with one.
bool isOneLiteral(const QString& text) {
    if (text.size() < 2 || text.front() != '\'' || text.back() != '\'')
        return false;
    for (qsizetype i = 1; i < text.size(); ++i) {
        if (text[i] == '\\')
            ++i;
        else if (text[i] == '\'') {
            if (i + 1 < text.size() && text[i + 1] == '\'')
                ++i;
            else
                return i == text.size() - 1;
        }
    }
    return false;
}

} // namespace

std::optional<QVariant> showColumnsDefault(const QString& type, const QVariant& catalogueDefault) {
    if (catalogueDefault.isNull())
        return QVariant();
    const QString text = catalogueDefault.toString();
    if (text == "NULL") // the catalogue's way of writing a null default
        return QVariant();
    if (defaultIsAlwaysExpression(type) || !isOneLiteral(text))
        return QVariant(text);
    // Bytes that are not text come back from the catalogue already converted ("?" for what
    // has no character); such a default is read with the "show" statements instead.
    const QString kind = type.section('(', 0, 0).toLower();
    const bool bytes = kind == "binary" || kind == "varbinary";
    QString out = QStringLiteral("");
    for (qsizetype i = 1; i < text.size() - 1; ++i) {
        const QChar c = text[i];
        if (c == '\'') {
            out += c;
            ++i; // the second of a pair
        } else if (c == '\\') {
            const QChar e = text[++i];
            if (e == '\\')
                out += e;
            else if (e == 'n')
                out += '\n';
            else if (e == 'r')
                out += '\r';
            else
                return std::nullopt; // \0 and anything else: not certain how show writes it
        } else if (bytes && (c == '?' || c.unicode() > 0x7e || c.unicode() < 0x20)) {
            return std::nullopt;
        } else {
            out += c;
        }
    }
    return QVariant(out);
}

namespace {

// The columns and indexes of every listed table from the catalogue in two statements. A
// table the catalogue does not list with certainty (a view it cannot resolve, rows out of
// the expected order, a default that cannot be turned back) is read with the "show"
// statements, so the result is theirs in every case.
std::vector<LiveTable> readFromCatalogue(Connection& conexao, const QStringList& tables) {
    std::vector<LiveTable> live(size_t(tables.size()));
    QHash<QString, int> position;
    for (int i = 0; i < int(tables.size()); ++i) {
        live[size_t(i)].name = tables[i];
        position.insert(tables[i], i);
    }
    std::vector<char> unsure(live.size(), 0);

    {
        ShowResult rows(conexao,
                        "select table_name, engine, table_collation, table_comment from "
                        "information_schema.tables where table_schema = database()",
                        {"table_name", "engine", "table_collation", "table_comment"});
        while (rows.next()) {
            const int at = position.value(rows.text(0), -1);
            if (at < 0)
                continue;
            LiveTable& t = live[size_t(at)];
            t.engine = rows.text(1);
            t.collation = rows.text(2);
            t.charset = collationCharset(t.collation);
            t.comment = rows.text(3);
        }
    }
    {
        ShowResult rows(conexao,
                        "select table_name, column_name, column_type, is_nullable, "
                        "column_key, column_default, extra, ordinal_position, "
                        "character_set_name, collation_name, column_comment from "
                        "information_schema.columns where table_schema = database()",
                        {"table_name", "column_name", "column_type", "is_nullable", "column_key",
                         "column_default", "extra", "ordinal_position", "character_set_name",
                         "collation_name", "column_comment"});
        while (rows.next()) {
            const int at = position.value(rows.text(0), -1);
            if (at < 0 || unsure[size_t(at)])
                continue;
            LiveTable& t = live[size_t(at)];
            const std::optional<QVariant> def = showColumnsDefault(rows.text(2), rows.nullable(5));
            // The catalogue lists a table's columns in their order; anything else (a
            // temporary table of the same name, say) is left to the "show" statements.
            if (!def || rows.value(7).toLongLong() != qlonglong(t.columns.size()) + 1) {
                unsure[size_t(at)] = 1;
                continue;
            }
            t.columns.push_back({rows.text(1), rows.text(2), rows.text(3), rows.text(4), *def,
                                 rows.text(6), rows.text(8), rows.text(9), rows.text(10)});
        }
    }
    {
        ShowResult rows(conexao,
                        "select table_name, index_name, column_name, seq_in_index, "
                        "non_unique, sub_part, index_type from information_schema.statistics "
                        "where table_schema = database()",
                        {"table_name", "index_name", "column_name", "seq_in_index", "non_unique",
                         "sub_part", "index_type"});
        while (rows.next()) {
            const int at = position.value(rows.text(0), -1);
            if (at < 0 || unsure[size_t(at)])
                continue;
            LiveTable& t = live[size_t(at)];
            const LiveIndexRow row{rows.text(1), rows.text(2),     rows.value(3).toLongLong(),
                                   rows.text(4), rows.nullable(5), rows.text(6)};
            // Each index's columns come together, numbered from 1.
            const bool continues = !t.indexes.empty() && t.indexes.back().keyName == row.keyName;
            if (row.seq != (continues ? t.indexes.back().seq + 1 : 1)) {
                unsure[size_t(at)] = 1;
                continue;
            }
            t.indexes.push_back(row);
        }
    }
    for (size_t i = 0; i < live.size(); ++i)
        if (unsure[i] || live[i].columns.empty()) // every table has a column
            readWithShowStatements(conexao, live[i]);
    return live;
}

void writeTable(const UpdateFile& file, const LiveTable& t) {
    file.execute("insert into d_tabelas ([table], engine, charset, collation, comment) values "
                 "(?,?,?,?,?)",
                 {t.name, t.engine, t.charset, t.collation, t.comment});
    for (const LiveColumnRow& c : t.columns)
        file.execute("insert into d_campos ([table], field, type, [null], [key], [default], "
                     "extra, charset, collation, comment) values (?,?,?,?,?,?,?,?,?,?)",
                     {t.name, c.field, c.type, c.null, c.key, c.defaultValue, c.extra, c.charset,
                      c.collation, c.comment});
    for (const LiveIndexRow& i : t.indexes)
        file.execute("insert into d_indices ([table], key_name, column_name, seq_in_index, "
                     "non_unique, sub_part, index_type) values (?,?,?,?,?,?,?)",
                     {t.name, i.keyName, i.columnName, i.seq, i.nonUnique,
                      i.subPart.isNull() ? QVariant() : QVariant(i.subPart.toLongLong()),
                      i.indexType});
}

// Files written before the snapshot recorded engines, character sets, comments, index
// prefixes and kinds, foreign keys and the other objects get the columns and tables for them.
void addSnapshotColumns(const UpdateFile& file) {
    const struct {
        const char* table;
        QStringList columns;
    } wanted[] = {{"d_tabelas", {"engine", "charset", "collation", "comment"}},
                  {"d_campos", {"charset", "collation", "comment"}},
                  {"d_indices", {"sub_part", "index_type"}}};
    for (const auto& w : wanted) {
        QStringList present;
        for (const UpdateRow row : file.query(QString("pragma table_info(%1)").arg(w.table)))
            present << row.text("name").toLower();
        for (const QString& column : w.columns)
            if (!present.isEmpty() && !present.contains(column))
                file.execute(QString("alter table %1 add column %2 %3")
                                 .arg(w.table, column, column == "sub_part" ? "integer" : "text"));
    }
    createForeignKeyTable(file, "d_estrangeiras");
    createObjectTable(file, "d_objetos");
}

enum class Reads { Catalogue, PerTable };

void snapshot(const UpdateFile& file, Connection& conexao, const SnapshotView& view, Reads reads) {
    if (view.status)
        view.status(QString());

    UpdateFileTransaction transaction(file);
    addSnapshotColumns(file);
    file.execute("delete from d_tabelas");
    file.execute("delete from d_campos");
    file.execute("delete from d_indices");
    file.execute("delete from d_estrangeiras");
    file.execute("delete from d_objetos");

    // The table list is read whole first: its size sets the progress range.
    const QStringList tables = readTableNames(conexao);
    const int maximum = int(tables.size());
    if (view.start)
        view.start(maximum);

    std::vector<LiveTable> live;
    if (reads == Reads::Catalogue)
        live = readFromCatalogue(conexao, tables);

    for (int value = 1; value <= maximum; ++value) {
        if (reads == Reads::Catalogue)
            writeTable(file, live[size_t(value - 1)]);
        else {
            LiveTable t;
            t.name = tables[value - 1];
            readTableStatus(conexao, t);
            readWithShowStatements(conexao, t);
            writeTable(file, t);
        }
        if (view.step)
            view.step(value, snapshotLabel(value, maximum));
    }
    writeForeignKeys(file, "d_estrangeiras", liveForeignKeys(conexao.database()));
    writeObjects(file, "d_objetos", liveObjects(conexao.database()));
    transaction.commit();
    if (view.finish)
        view.finish();
}

} // namespace

void LerEstrutura(const UpdateFile& file, Connection& conexao, const SnapshotView& view) {
    snapshot(file, conexao, view, Reads::Catalogue);
}

void LerEstruturaPorTabela(const UpdateFile& file, Connection& conexao, const SnapshotView& view) {
    snapshot(file, conexao, view, Reads::PerTable);
}

} // namespace krv::database
