#include "database/live_catalogue.h"

#include "database/connection.h"

namespace krv::database {

QString LiveColumn::definition() const {
    QString d = type;
    if (!charset.isEmpty())
        d += " character set " + charset;
    if (!collation.isEmpty())
        d += " collate " + collation;
    return d;
}

QList<LiveColumn> liveColumns(Connection& conexao, const QString& table) {
    Recordset rs;
    rs.Open("select column_name, column_type, character_set_name, collation_name, is_nullable, "
            "column_comment from information_schema.columns where table_schema = database() and "
            "table_name = " +
                conexao.quote(table) + " order by ordinal_position",
            conexao);
    QList<LiveColumn> columns;
    for (; !rs.eof(); rs.moveNext())
        columns << LiveColumn{rs.text(0),          rs.text(1), rs.text(2), rs.text(3),
                              rs.text(4) == "YES", rs.text(5), {}};
    // A column's own check is named after it (the server's level "Column").
    Recordset checks;
    checks.Open("select constraint_name, check_clause from information_schema.check_constraints "
                "where constraint_schema = database() and level = 'Column' and table_name = " +
                    conexao.quote(table),
                conexao);
    for (; !checks.eof(); checks.moveNext())
        for (LiveColumn& c : columns)
            if (c.name.compare(checks.text(0), Qt::CaseInsensitive) == 0)
                c.check = checks.text(1);
    return columns;
}

LiveColumn liveColumn(Connection& conexao, const QString& table, const QString& column) {
    for (const LiveColumn& c : liveColumns(conexao, table))
        if (c.name.compare(column.trimmed(), Qt::CaseInsensitive) == 0)
            return c;
    return {};
}

QList<LiveIndex> liveIndexes(Connection& conexao, const QString& table) {
    Recordset rs;
    rs.Open("select index_name, column_name, non_unique from information_schema.statistics "
            "where table_schema = database() and table_name = " +
                conexao.quote(table) + " order by index_name, seq_in_index",
            conexao);
    QList<LiveIndex> indexes;
    for (; !rs.eof(); rs.moveNext()) {
        if (indexes.isEmpty() || indexes.last().name != rs.text(0))
            indexes << LiveIndex{rs.text(0), {}, rs.text(2) == "0"};
        indexes.last().columns << rs.text(1);
    }
    return indexes;
}

TableSize liveTableSize(Connection& conexao, const QString& table) {
    Recordset rs;
    rs.Open("select table_rows, data_length + index_length from information_schema.tables "
            "where table_schema = database() and table_name = " +
                conexao.quote(table),
            conexao);
    if (rs.eof())
        return {};
    return {rs.field(0).toLongLong(), rs.field(1).toLongLong()};
}

} // namespace krv::database
