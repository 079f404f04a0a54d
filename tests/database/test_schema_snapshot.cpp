#include "test_schema_fixture.h"

using namespace krv;
using namespace krv::database;
using krv::test::SchemaFixture;

namespace {

// Every row of the three snapshot tables, in rowid order, values joined by "|".
QStringList dump(const UpdateFile& file) {
    QStringList out;
    for (const QString table : {"d_tabelas", "d_campos", "d_indices"}) {
        const UpdateRows rows = file.query("select * from " + table + " order by rowid");
        for (const UpdateRow row : rows) {
            QStringList values{table};
            for (int i = 0; i < rows.columnCount(); ++i)
                values << row.text(i);
            out << values.join('|');
        }
    }
    return out;
}

} // namespace

TEST(SnapshotLabel, ShowsAWholePercentRoundedHalfUp) {
    EXPECT_EQ(snapshotLabel(1, 3), "Reunindo informações sobre o BD atual... 33%");
    EXPECT_EQ(snapshotLabel(2, 3), "Reunindo informações sobre o BD atual... 67%");
    EXPECT_EQ(snapshotLabel(1, 8), "Reunindo informações sobre o BD atual... 13%");
    EXPECT_EQ(snapshotLabel(7, 7), "Reunindo informações sobre o BD atual... 100%");
}

TEST_F(SchemaFixture, SnapshotRecordsColumnsAndIndexesAsTheServerReportsThem) {
    live.exec({"create table semidx (a int default null, b varchar(5) NOT NULL default '', "
               "c enum('x''y','z') default 'x''y')",
               "create table tres (p int NOT NULL, q int NOT NULL, r int NOT NULL, "
               "key k3 (r, p, q))"});
    const UpdateFile file = build();
    LerEstrutura(file, Conexao());

    const UpdateRows campos =
        file.query("select * from d_campos where [table] = 'semidx' order by rowid");
    ASSERT_EQ(campos.size(), 3);
    EXPECT_EQ(campos[0].text("field"), "a");
    EXPECT_EQ(campos[0].text("NULL"), "YES");
    EXPECT_FALSE(campos[0].isNull("default")); // a null default is stored empty
    EXPECT_EQ(campos[0].text("default"), "");
    EXPECT_EQ(campos[1].text("default"), "");
    EXPECT_EQ(campos[1].text("null"), "NO");
    EXPECT_EQ(campos[2].text("type"), "enum('x''y','z')");
    EXPECT_EQ(campos[2].text("default"), columnRows(live, "semidx")[2].section('|', 4, 4));
    EXPECT_TRUE(file.query("select * from d_indices where [table] = 'semidx'").empty());

    const UpdateRows k3 =
        file.query("select column_name, seq_in_index, typeof(seq_in_index) from d_indices "
                   "where [table] = 'tres' order by rowid");
    ASSERT_EQ(k3.size(), 3);
    EXPECT_EQ(k3[0].text(0) + k3[1].text(0) + k3[2].text(0), "rpq");
    EXPECT_EQ(k3[0].value(1).toInt() + 10 * k3[1].value(1).toInt() + 100 * k3[2].value(1).toInt(),
              321);
    EXPECT_EQ(k3[2].text(2), "integer");
    EXPECT_EQ(file.query("select [table] from d_tabelas order by rowid").size(), 2);
}

TEST_F(SchemaFixture, SnapshotTwiceLeavesWhatOnceLeaves) {
    live.exec({"create table um (a int, primary key (a))", "create table dois (b char(3))"});
    const UpdateFile file = build();
    LerEstrutura(file, Conexao());
    const QStringList once = dump(file);
    EXPECT_EQ(once.size(), 2 + 2 + 1);
    LerEstrutura(file, Conexao());
    EXPECT_EQ(dump(file), once);
}

TEST_F(SchemaFixture, SnapshotShowsItsProgressPerTable) {
    live.exec({"create table t1 (a int)", "create table t2 (a int)", "create table t3 (a int)",
               "create table t4 (a int)"});
    const UpdateFile file = build();
    QStringList events;
    SnapshotView view;
    view.status = [&](const QString& s) { events << "status[" + s + "]"; };
    view.start = [&](int maximum) { events << "start " + QString::number(maximum); };
    view.step = [&](int value, const QString& label) {
        events << QString::number(value) + " " + label;
    };
    view.finish = [&] { events << "finish"; };
    LerEstrutura(file, Conexao(), view);
    const QString c = "Reunindo informações sobre o BD atual... ";
    EXPECT_EQ(events, QStringList({"status[]", "start 4", "1 " + c + "25%", "2 " + c + "50%",
                                   "3 " + c + "75%", "4 " + c + "100%", "finish"}));
}

TEST_F(SchemaFixture, FailedSnapshotKeepsThePreviousOne) {
    live.exec("create table t1 (a int)");
    const UpdateFile file = build();
    LerEstrutura(file, Conexao());
    const QStringList before = dump(file);
    // An update file whose d_indices lost a column rejects the index rows.
    live.exec("create table t2 (b int, key kb (b))");
    file.executeScript("drop table d_indices; create table d_indices ([table] text, key_name "
                       "text, column_name text, seq_in_index integer)");
    EXPECT_THROW(LerEstrutura(file, Conexao()), KrvError);
    EXPECT_EQ(dump(file), before);
}
