#include "test_schema_fixture.h"

#include <QRegularExpression>
#include <optional>

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

// The snapshot of the live database read both ways: from the catalogue and with the "show"
// statements per table.
struct BothWays {
    QStringList catalogue, perTable;
};
BothWays snapshotBothWays(const UpdateFile& a, const UpdateFile& b) {
    LerEstrutura(a, Conexao());
    LerEstruturaPorTabela(b, Conexao());
    return {dump(a), dump(b)};
}

// The first rows where two dumps differ, each as "catalogue row <> per-table row".
QStringList firstDifferences(const QStringList& a, const QStringList& b) {
    QStringList out;
    for (qsizetype i = 0; i < std::max(a.size(), b.size()) && out.size() < 5; ++i)
        if (a.value(i, "<none>") != b.value(i, "<none>"))
            out << a.value(i, "<none>") + " <> " + b.value(i, "<none>");
    return out;
}

// Every base table of the server's own "mysql" database, copied.
QStringList systemTableCopies(krv::test::ScratchDatabase& db) {
    QStringList statements;
    for (const QString& t : db.column("select table_name from information_schema.tables where "
                                      "table_schema = 'mysql' and table_type = 'BASE TABLE'"))
        statements << "create table `" + t + "` like mysql.`" + t + "`";
    return statements;
}

// The statements the shared connection has sent so far.
int questions() {
    Recordset rs;
    rs.Open("show session status like 'Questions'", Conexao());
    return rs.text(1).toInt();
}

} // namespace

TEST(SnapshotDefault, TurnsTheCatalogueTextIntoWhatShowColumnsReports) {
    struct Case {
        const char* type;
        QVariant catalogue;
        std::optional<QVariant> show; // null: no default
    };
    const Case cases[] = {
        {"int(11)", QVariant(), QVariant()},
        {"varchar(9)", "NULL", QVariant()},
        {"varchar(9)", "'NULL'", "NULL"},
        {"varchar(9)", "''", ""},
        {"enum('a''b','c')", "'a''b'", "a'b"},
        {"varchar(9)", "'a\\\\b\\nc\\rd'", "a\\b\nc\rd"},
        {"varchar(9)", "' x\\tz '", std::nullopt},
        {"char(3)", "'a\\0'", std::nullopt},
        {"varchar(20)", "'a' or 'b'", "'a' or 'b'"},
        {"varchar(20)", "concat('a','b')", "concat('a','b')"},
        {"timestamp(3)", "current_timestamp(3)", "current_timestamp(3)"},
        {"int(11)", "-5", "-5"},
        {"bit(3)", "b'101'", "b'101'"},
        {"text", "'it\\'s'", "'it\\'s'"},
        {"longtext", "NULL", QVariant()},
        {"tinyblob", "''", "''"},
        {"varchar(4)", "'?'", "?"},
        {"varbinary(4)", "'?'", std::nullopt},
        {"binary(2)", "'ab'", "ab"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.type) + " " + c.catalogue.toString().toStdString());
        EXPECT_EQ(showColumnsDefault(c.type, c.catalogue), c.show);
    }
}

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
    // No default is null, an empty one the empty text: the comparison tells them apart.
    EXPECT_TRUE(campos[0].isNull("default"));
    EXPECT_FALSE(campos[1].isNull("default"));
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

TEST_F(SchemaFixture, SnapshotFromTheCatalogueIsTheOneTheShowStatementsGive) {
    struct Case {
        const char* what;
        QStringList statements;
        int readWithShow = 0; // tables so far whose catalogue rows cannot be turned back
    };
    const Case cases[] = {
        {"the server's own tables", systemTableCopies(live)},
        {"the suite's tables",
         {"create table licensa (ult_atualizacao varchar(10), atmenu varchar(10))",
          "create table menu (Sistema varchar(50), sequencia varchar(3), Menu varchar(30), "
          "NomeInter varchar(20), Nivel int, NivelAnterior varchar(50), Programa int)",
          "create table clientes (id int NOT NULL auto_increment, nome varchar(40) NOT NULL "
          "default '', cidade varchar(30) default NULL, uf char(2), primary key (id), "
          "key ix_nome (nome, cidade))",
          "create table pedidos (id int NOT NULL auto_increment, cliente int NOT NULL, valor "
          "decimal(10,2) NOT NULL default '0.00', obs varchar(20), primary key (id), unique "
          "key ix_cli (cliente, id))"}},
        {"defaults",
         {"create table padroes (a int default null, b varchar(5) NOT NULL default '', "
          "c enum('x''y','z') default 'x''y', d varchar(20) default 'NULL', e varchar(20) "
          "default 'it''s', f varchar(20) default 'a\\\\b', g timestamp NOT NULL default "
          "current_timestamp() on update current_timestamp(), h datetime(3) default "
          "current_timestamp(3), i date default curdate(), j int default (1+2), k varchar(30) "
          "default concat('a','b'), l decimal(6,2) default 1.5, m bit(3) default b'101', "
          "n float default 1.25e3, o set('a','b') default 'a,b', p varchar(10) default '''', "
          "q blob, r int NOT NULL, s varchar(10) default ' x ', t int as (r+1) virtual, "
          "u int auto_increment primary key, v text default 'hi', w text default 'NULL', "
          "x json default '{}', y varchar(20) default ('a' or 'b'), z varchar(40) default "
          "x'0a0d09275c', ac uuid "
          "default '00000000-0000-0000-0000-000000000001', ad inet6 default '::1', ae int "
          "invisible default 4, af year default 2024, ag datetime default '2000-01-01', "
          "unique key (r), key (s, v(5)), unique key (b, c))",
          // Bytes the catalogue cannot give back as they are: read with "show".
          "create table bytes (a binary(3) default 'a', b varbinary(4) default 0x00ff)"},
         1},
        {"views, sequences and odd names",
         {"create table `order` (`key` int, `a b` varchar(3) default 'q', primary key (`key`))",
          "create table `com espaço` (x int) with system versioning",
          "create view vista as select `key`, `a b`, `key` + 1 as mais from `order`",
          "create sequence contador"},
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        live.exec(c.statements);
        const int before = questions();
        const BothWays snapshot = snapshotBothWays(build(), build());
        const int tables = int(live.column("show tables").size());
        const int views = int(live.column("show full tables where table_type = 'VIEW'").size());
        // Four statements, two more per table read with "show", then the reference's three
        // per table, and the count itself; each way two more for the keys and the other
        // objects, and one per view.
        EXPECT_EQ(questions() - before,
                  4 + 2 * c.readWithShow + 1 + 3 * tables + 1 + 2 * (2 + views));
        EXPECT_EQ(firstDifferences(snapshot.catalogue, snapshot.perTable), QStringList());
        // Every table made so far is there, with its columns.
        EXPECT_EQ(snapshot.catalogue.filter(QRegularExpression("^d_tabelas\\|")).size(), tables);
        EXPECT_GT(snapshot.catalogue.size(), 3 * tables);
    }
}

TEST_F(SchemaFixture, SnapshotSendsAsManyStatementsForManyTablesAsForFew) {
    const UpdateFile file = build();
    QList<int> sent;
    for (int tables : {2, 12}) {
        for (int i = int(live.column("show tables").size()); i < tables; ++i)
            live.exec(QString("create table t%1 (a int, b int, key (a, b))").arg(i));
        const int before = questions();
        LerEstrutura(file, Conexao());
        sent << questions() - before;
        EXPECT_EQ(file.query("select * from d_indices").size(), 2 * tables);
    }
    EXPECT_EQ(sent[0], sent[1]);
    EXPECT_LE(sent[0], 7);
}

TEST_F(SchemaFixture, ViewThatCannotBeReadFailsTheSnapshotEitherWay) {
    live.exec({"create table base (a int)", "create view vista as select a from base",
               "drop table base", "create table outra (b int)"});
    const UpdateFile file = build();
    int numbers[2] = {0, 0};
    for (int way = 0; way < 2; ++way) {
        try {
            if (way == 0)
                LerEstrutura(file, Conexao());
            else
                LerEstruturaPorTabela(file, Conexao());
            ADD_FAILURE() << "the broken view was read";
        } catch (const KrvError& e) {
            numbers[way] = e.number();
        }
    }
    EXPECT_EQ(numbers[0], 1356);
    EXPECT_EQ(numbers[1], 1356);
}
