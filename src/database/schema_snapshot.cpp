#include "database/schema_snapshot.h"

#include "database/connection.h"
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

// One live table as the snapshot records it: the "show columns" rows (field, type, null,
// key, default, extra) and the "show index" rows, in the server's order.
struct LiveIndexRow {
    QString keyName, columnName;
    qlonglong seq = 0;
    QString nonUnique;
};
struct LiveTable {
    QString name;
    std::vector<std::array<QString, 6>> columns;
    std::vector<LiveIndexRow> indexes;
};

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

LiveTable readWithShowStatements(Connection& conexao, const QString& table) {
    LiveTable t{table, {}, {}};
    ShowResult rsLerCampos(conexao, "show columns from " + quotedName(table),
                           {"field", "type", "null", "key", "default", "extra"});
    while (rsLerCampos.next())
        t.columns.push_back({rsLerCampos.text(0), rsLerCampos.text(1), rsLerCampos.text(2),
                             rsLerCampos.text(3), rsLerCampos.text(4), rsLerCampos.text(5)});
    ShowResult rsLerIndices(conexao, "show index from " + quotedName(table),
                            {"key_name", "column_name", "seq_in_index", "non_unique"});
    while (rsLerIndices.next())
        t.indexes.push_back({rsLerIndices.text(0), rsLerIndices.text(1),
                             rsLerIndices.value(2).toLongLong(), rsLerIndices.text(3)});
    return t;
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

std::optional<QString> showColumnsDefault(const QString& type, const QVariant& catalogueDefault) {
    if (catalogueDefault.isNull())
        return QString();
    const QString text = catalogueDefault.toString();
    if (text == "NULL") // the catalogue's way of writing a null default
        return QString();
    if (defaultIsAlwaysExpression(type) || !isOneLiteral(text))
        return text;
    // Bytes that are not text come back from the catalogue already converted ("?" for what
    // has no character); such a default is read with the "show" statements instead.
    const QString kind = type.section('(', 0, 0).toLower();
    const bool bytes = kind == "binary" || kind == "varbinary";
    QString out;
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
    return out;
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
                        "select table_name, column_name, column_type, is_nullable, "
                        "column_key, column_default, extra, ordinal_position from "
                        "information_schema.columns where table_schema = database()",
                        {"table_name", "column_name", "column_type", "is_nullable", "column_key",
                         "column_default", "extra", "ordinal_position"});
        while (rows.next()) {
            const int at = position.value(rows.text(0), -1);
            if (at < 0 || unsure[size_t(at)])
                continue;
            LiveTable& t = live[size_t(at)];
            const std::optional<QString> def = showColumnsDefault(rows.text(2), rows.value(5));
            // The catalogue lists a table's columns in their order; anything else (a
            // temporary table of the same name, say) is left to the "show" statements.
            if (!def || rows.value(7).toLongLong() != qlonglong(t.columns.size()) + 1) {
                unsure[size_t(at)] = 1;
                continue;
            }
            t.columns.push_back(
                {rows.text(1), rows.text(2), rows.text(3), rows.text(4), *def, rows.text(6)});
        }
    }
    {
        ShowResult rows(conexao,
                        "select table_name, index_name, column_name, seq_in_index, "
                        "non_unique from information_schema.statistics where "
                        "table_schema = database()",
                        {"table_name", "index_name", "column_name", "seq_in_index", "non_unique"});
        while (rows.next()) {
            const int at = position.value(rows.text(0), -1);
            if (at < 0 || unsure[size_t(at)])
                continue;
            LiveTable& t = live[size_t(at)];
            const LiveIndexRow row{rows.text(1), rows.text(2), rows.value(3).toLongLong(),
                                   rows.text(4)};
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
            live[i] = readWithShowStatements(conexao, live[i].name);
    return live;
}

void writeTable(const UpdateFile& file, const LiveTable& t) {
    file.execute("insert into d_tabelas values (?)", {t.name});
    for (const auto& c : t.columns)
        file.execute("insert into d_campos values (?,?,?,?,?,?,?)",
                     {t.name, c[0], c[1], c[2], c[3], c[4], c[5]});
    for (const LiveIndexRow& i : t.indexes)
        file.execute("insert into d_indices values (?,?,?,?,?)",
                     {t.name, i.keyName, i.columnName, i.seq, i.nonUnique});
}

enum class Reads { Catalogue, PerTable };

void snapshot(const UpdateFile& file, Connection& conexao, const SnapshotView& view, Reads reads) {
    if (view.status)
        view.status(QString());

    UpdateFileTransaction transaction(file);
    file.execute("delete from d_tabelas");
    file.execute("delete from d_campos");
    file.execute("delete from d_indices");

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
        else
            writeTable(file, readWithShowStatements(conexao, tables[value - 1]));
        if (view.step)
            view.step(value, snapshotLabel(value, maximum));
    }
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
