#pragma once
// A live database and a reference database on the test MariaDB, the update file built from
// the reference by the update-file builder, and the comparison run against the live one
// through the shared connection, with what it showed and sent.
#include "database/connection.h"
#include "database/safe_update.h"
#include "database/schema_snapshot.h"
#include "database/schema_sync.h"
#include "database/update_file.h"
#include "test_db.h"
#include "update_file_builder.h"

#include <QSqlQuery>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace krv::test {

struct SyncTrace {
    QStringList lines, statements, statuses;
};

class SchemaFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(live.ok() && reference.ok());
        ASSERT_TRUE(dir.isValid());
        database::Conexao().Open(1, live.connectionString());
    }

    // Runs each statement on both databases.
    void both(const QStringList& statements) {
        live.exec(statements);
        reference.exec(statements);
    }

    // Writes the update file from the reference and opens it.
    database::UpdateFile build(tools::BuildOptions options = {}) {
        if (options.codAtu.isEmpty())
            options.codAtu = "000132";
        const QString path = dir.filePath(QString("krv%1.mdb").arg(++files_));
        tools::buildUpdateFile(path, reference.db(), options);
        return database::openUpdateFile(path);
    }

    // Snapshot and comparison, as the update window runs them.
    SyncTrace sync(const database::UpdateFile& file, database::SafeUpdateOptions options = {}) {
        SyncTrace trace;
        database::LerEstrutura(file, database::Conexao());
        database::prepareLookups(file);
        database::SyncView view;
        view.line = [&](const QString& s) { trace.lines << s; };
        view.status = [&](const QString& s) { trace.statuses << s; };
        view.executed = [&](const QString& s) { trace.statements << s; };
        database::updateStructure(file, database::Conexao(), view, options);
        return trace;
    }

    QString showCreate(const QString& table) { return liveRow("show create table " + table, 1); }

    // "key_name:column_name:seq:non_unique" of every index row, as the server lists them.
    static QStringList indexRows(ScratchDatabase& db, const QString& table) {
        QStringList rows;
        QSqlQuery q(db.db());
        q.exec("show index from `" + table + "`");
        while (q.next())
            rows << q.value(2).toString() + ":" + q.value(4).toString() + ":" +
                        q.value(3).toString() + ":" + q.value(1).toString();
        rows.sort();
        return rows;
    }
    // "field|type|null|key|default|extra" of every column.
    static QStringList columnRows(ScratchDatabase& db, const QString& table) {
        QStringList rows;
        QSqlQuery q(db.db());
        q.exec("show columns from `" + table + "`");
        while (q.next()) {
            QStringList r;
            for (int i = 0; i < 6; ++i)
                r << (q.value(i).isNull() ? "<null>" : q.value(i).toString());
            rows << r.join('|');
        }
        return rows;
    }

    // Every table but licensa and menu, as the server's catalogue describes it: engine,
    // collation and comment; columns by name with type, nullability, key, default, extra,
    // character set, collation and comment; index columns with position, prefix, uniqueness
    // and kind; column checks, foreign keys and triggers.
    static QStringList structure(ScratchDatabase& db) {
        const QString where = " where table_schema = database() and table_name not in "
                              "('licensa', 'menu') order by 1";
        return db.column("select concat_ws('|', table_name, engine, table_collation, "
                         "table_comment) from information_schema.tables" +
                         where) +
               db.column("select concat_ws('|', table_name, column_name, column_type, "
                         "is_nullable, column_key, ifnull(column_default, '<none>'), extra, "
                         "ifnull(collation_name, ''), column_comment) from "
                         "information_schema.columns" +
                         where) +
               db.column("select concat_ws('|', table_name, constraint_name, check_clause) from "
                         "information_schema.check_constraints where constraint_schema = "
                         "database() order by 1") +
               db.column("select concat_ws('|', k.table_name, k.constraint_name, k.column_name, "
                         "k.ordinal_position, k.referenced_table_name, k.referenced_column_name, "
                         "r.delete_rule, r.update_rule) from information_schema.key_column_usage "
                         "k join information_schema.referential_constraints r using "
                         "(constraint_schema, constraint_name, table_name) where "
                         "k.constraint_schema = database() order by 1") +
               db.column("select concat_ws('|', trigger_name, event_object_table, action_timing, "
                         "event_manipulation, action_statement) from information_schema.triggers "
                         "where trigger_schema = database() order by 1") +
               db.column("select concat_ws('|', table_name, index_name, seq_in_index, "
                         "column_name, ifnull(sub_part, ''), non_unique, index_type) from "
                         "information_schema.statistics" +
                         where);
    }

    QString liveRow(const QString& sql, int column) {
        QSqlQuery q(live.db());
        if (!q.exec(sql) || !q.next())
            return {};
        return q.value(column).toString();
    }

    ScratchDatabase live, reference;
    QTemporaryDir dir;

private:
    int files_ = 0;
};

} // namespace krv::test
