#include "database/schema_plan.h"
#include "database/schema_statements.h"
#include "database/statement_check.h"
#include "test_schema_fixture.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>

using namespace krv;
using namespace krv::database;
using krv::test::SchemaFixture;
using krv::test::SyncTrace;
namespace test = krv::test;

namespace {

const QStringList kClientes = {
    "create table clientes (id int NOT NULL auto_increment, nome varchar(40) NOT NULL "
    "default '', cidade varchar(30) default NULL, uf char(2), primary key (id), "
    "key ix_nome (nome, cidade))",
    "create table produtos (cod char(6) NOT NULL, descr varchar(50), primary key (cod))"};

} // namespace

TEST(ColumnDefinition, IsBuiltPieceByPiece) {
    ReferenceColumn c;
    c.field = "id";
    c.type = "int(11)";
    c.nullable = false;
    c.extra = " auto_increment";
    EXPECT_EQ(columnDefinition(c), "`id` int(11) NOT NULL  auto_increment");
    c.nullable = true;
    c.extra = "auto_increment";
    EXPECT_EQ(columnDefinition(c), "`id` int(11)auto_increment"); // no blank is added
    c.extra.clear();
    c.defaultValue = "it's a \\ test";
    EXPECT_EQ(columnDefinition(c), "`id` int(11) default 'it''s a \\\\ test'");
    c.autoText = " first";
    c.table = " Tab ";
    c.field = " Offset ";
    EXPECT_EQ(addColumnStatement(" Tab ", c),
              "alter table `Tab` add column (`Offset` int(11) default 'it''s a \\\\ test' first)");
    EXPECT_EQ(modifyColumnStatement("Tab", c),
              "alter table `Tab` modify column `Offset` int(11) default 'it''s a \\\\ test'");
    EXPECT_EQ(trimBlanks("  a b\t "), "a b\t");
}

TEST(ColumnDefinition, ExpressionDefaultsGoUnquotedEveryOtherDefaultQuoted) {
    const struct {
        const char* stored;
        const char* clause;
    } cases[] = {
        {"", ""},
        {"current_timestamp()", " default current_timestamp()"},
        {" current_timestamp(6) ", " default current_timestamp(6)"},
        {"CURRENT_TIMESTAMP", " default CURRENT_TIMESTAMP"},
        {"curdate()", " default curdate()"},
        {"(1 + 2)", " default (1 + 2)"},
        {"0", " default '0'"},
        {"0.00", " default '0.00'"},
        {"-1", " default '-1'"},
        {"1+2", " default '1+2'"},
        {"a", " default 'a'"},
        {"O'Brien", " default 'O''Brien'"},
        {"0000-00-00 00:00:00", " default '0000-00-00 00:00:00'"},
        {"now(); drop table menu", " default 'now(); drop table menu'"},
        {"sleep(5)", " default 'sleep(5)'"},
        {"'{}'", " default '{}'"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(defaultClause(c.stored), c.clause) << c.stored;
    // A session that reads backslashes literally keeps them single.
    EXPECT_EQ(defaultClause("a\\b'c", false), " default 'a\\b''c'");
    EXPECT_EQ(defaultClause("a\\b'c", true), " default 'a\\\\b''c'");
}

// One folding for both sides: the program's and the update file's (krv_fold) agree, and
// ignore the case of every letter and the blanks around a name.
TEST(NameFolding, BothSidesFoldEveryLetterAlike) {
    const struct {
        const char* a;
        const char* b;
        bool same;
    } cases[] = {
        {"clientes", "CLIENTES", true},    {" Produtos ", "produtos", true},
        {"descrição", "DESCRIÇÃO", true},  {"PROMOÇÕES", "promoções", true},
        {"Ärger", "äRGER", true},          {"ñandú", "ÑANDÚ", true},
        {"descrição", "descricao", false}, {"a b", "ab", false},
        {"clientes", "cliente", false},    {"ação", "açaõ", false},
    };
    QTemporaryDir dir;
    UpdateFile file;
    file.createSqlite(dir.filePath("f.mdb"));
    for (const auto& c : cases) {
        const QString a = QString::fromUtf8(c.a), b = QString::fromUtf8(c.b);
        EXPECT_EQ(foldName(a) == foldName(b), c.same) << c.a << " / " << c.b;
        const UpdateRows rows =
            file.query("select krv_fold(?) = krv_fold(?), krv_fold(?)", {a, b, a});
        EXPECT_EQ(rows.first().value(0).toInt() == 1, c.same) << c.a << " / " << c.b;
        EXPECT_EQ(rows.first().text(1), foldName(a));
    }
    EXPECT_TRUE(file.query("select krv_fold(null)").first().isNull("krv_fold(null)"));
}

TEST(IndexStatements, PrimaryKeyIsNamedByItsWords) {
    EXPECT_EQ(dropIndexStatement("t", "PRIMARY"), "alter table `t` drop PRIMARY KEY");
    EXPECT_EQ(dropIndexStatement("t", "Primary"), "alter table `t` drop index `Primary`");
    EXPECT_EQ(addIndexStatement("t", {"PRIMARY", {"a", "b"}}),
              "alter table `t` add primary key(`a`,`b`)");
    EXPECT_EQ(addIndexStatement("t", {"PRIMARY", {"a"}, true}),
              "alter table `t` add primary key(`a`)");
    EXPECT_EQ(addIndexStatement("t", {"ix", {"a"}}), "alter table `t` add index `ix`(`a`)");
    EXPECT_EQ(addIndexStatement("t", {"Key", {"Order", " b "}, true}),
              "alter table `t` add unique index `Key`(`Order`,`b`)");
    EXPECT_EQ(duplicateQuery("t", {"a", "b"}),
              "select `a`,`b` from `t` where `a` is not null and `b` is not null group by "
              "`a`,`b` having count(*) > 1 limit 1");
    EXPECT_EQ(bookkeepingStatement("0001'2"), "update licensa set ult_atualizacao='0001''2'");
    // A unique prefix index compares the prefixes only.
    EXPECT_EQ(duplicateQuery("t", {"a", "b"}, {10, 0}),
              "select left(`a`, 10),`b` from `t` where `a` is not null and `b` is not null group "
              "by left(`a`, 10),`b` having count(*) > 1 limit 1");
}

TEST_F(SchemaFixture, IdenticalStructuresChangeNothing) {
    both(kClientes);
    const UpdateFile file = build();
    const auto trace = sync(file);
    EXPECT_TRUE(trace.statements.isEmpty()) << trace.statements.join("\n").toStdString();
    EXPECT_TRUE(trace.lines.isEmpty());
    EXPECT_EQ(trace.statuses, QStringList({"Verificando clientes", "Verificando produtos"}));
}

TEST_F(SchemaFixture, MissingTableIsCreatedWholeInOneStatement) {
    both(kClientes);
    reference.exec("create table pedidos (id int NOT NULL auto_increment, cliente int NOT NULL, "
                   "valor decimal(10,2) NOT NULL default '0.00', obs varchar(20), "
                   "primary key (id), key ix_cli (cliente, id))");
    const UpdateFile file = build();
    const auto trace = sync(file);
    EXPECT_EQ(trace.lines, QStringList{"Criando Tabela <pedidos>"});
    ASSERT_EQ(trace.statements.size(), 1);
    EXPECT_EQ(trace.statements[0],
              "create table `pedidos` (`id` int(11) NOT NULL  auto_increment,`cliente` int(11) "
              "NOT NULL ,`valor` decimal(10,2) NOT NULL  default '0.00',`obs` varchar(20),KEY "
              "`ix_cli` (`cliente`,`id`),PRIMARY KEY (`id`)) ENGINE=InnoDB DEFAULT "
              "CHARSET=utf8mb4 COLLATE=utf8mb4_general_ci");
    EXPECT_EQ(indexRows(live, "pedidos"), indexRows(reference, "pedidos"));
    EXPECT_EQ(columnRows(live, "pedidos"), columnRows(reference, "pedidos"));
}

TEST_F(SchemaFixture, NamesMatchTrimmedAndWithoutRegardToCase) {
    both(kClientes);
    const UpdateFile file = build();
    file.execute("update tabelas set [table] = ' CLIENTES ' where [table] = 'clientes'");
    file.execute("update campos set [table] = ' Clientes', field = '  ' || upper(field) || ' ' "
                 "where [table] = 'clientes'");
    file.execute("update indices set [table] = 'CLIENTES ' where [table] = 'clientes'");
    const auto trace = sync(file);
    EXPECT_TRUE(trace.statements.isEmpty()) << trace.statements.join("\n").toStdString();
    EXPECT_EQ(trace.statuses.first(), "Verificando  CLIENTES ");
}

TEST_F(SchemaFixture, ColumnsAreAddedOrModifiedOnlyForTypeOrAbsence) {
    both(kClientes);
    reference.exec("alter table clientes add column obs varchar(10)");
    tools::BuildOptions options;
    options.autoText.insert("CLIENTES.obs", " comment 'nova'");
    const UpdateFile file = build(options);
    // Differences that must not count: case and blanks of the type, nullability, default.
    file.execute("update campos set type = ' VARCHAR(40) ' where field = 'nome'");
    file.execute("update campos set [null] = 'NO', [default] = 'x' where field = 'uf'");
    // A key marker that differs is the indexes' business, not the column's.
    file.execute("update campos set [key] = 'MUL' where field = 'uf'");
    // A type that differs: the column keeps its own character set and collation.
    file.execute("update campos set type = 'varchar(35)' where field = 'cidade'");
    const auto trace = sync(file);
    EXPECT_EQ(trace.lines,
              QStringList({"Alterando Campo: <clientes-cidade>", "Criando Campo: <clientes-obs>"}));
    EXPECT_EQ(trace.statements,
              QStringList({"alter table `clientes` modify column `cidade` varchar(35) character "
                           "set utf8mb4 collate utf8mb4_general_ci, ALGORITHM=INSTANT",
                           "alter table `clientes` add column (`obs` varchar(10) comment 'nova'), "
                           "ALGORITHM=INSTANT"}));
    EXPECT_EQ(liveRow("select column_comment from information_schema.columns where "
                      "table_schema = database() and table_name = 'clientes' and "
                      "column_name = 'obs'",
                      0),
              "nova");
}

TEST_F(SchemaFixture, IndexesAreComparedColumnByColumn) {
    live.exec("create table itens (a int NOT NULL, b int NOT NULL, c int, d int, "
              "primary key (a), key ix_bc (b, d), key ix_ext (c, d, b))");
    reference.exec("create table itens (a int NOT NULL, b int NOT NULL, c int, d int, "
                   "primary key (a, b), key ix_bc (b, c), key ix_ext (c, d), key ix_novo (d))");
    const UpdateFile file = build();
    const auto trace = sync(file);
    // The key markers of b and d differ only because their indexes do: no column is
    // rewritten for that, the indexes are. Each asks for the least blocking algorithm.
    EXPECT_EQ(trace.lines,
              QStringList({"Alterando Índice: <itens-ix_bc>", "Criando Índice: <itens-ix_novo>",
                           "Alterando Índice: <itens-PRIMARY>"}));
    EXPECT_EQ(trace.statements,
              QStringList({"alter table `itens` drop index `ix_bc`, ALGORITHM=INPLACE, LOCK=NONE",
                           "alter table `itens` add index `ix_bc`(`b`,`c`), ALGORITHM=INPLACE, "
                           "LOCK=NONE",
                           "alter table `itens` add index `ix_novo`(`d`), ALGORITHM=INPLACE, "
                           "LOCK=NONE",
                           "alter table `itens` drop PRIMARY KEY",
                           "alter table `itens` add primary key(`a`,`b`), ALGORITHM=INPLACE, "
                           "LOCK=NONE"}));
    QStringList expected = indexRows(reference, "itens");
    expected << "ix_ext:b:3:1"; // extra live columns are left alone
    expected.sort();
    EXPECT_EQ(indexRows(live, "itens"), expected);
}

TEST_F(SchemaFixture, ApostrophesInEnumTypesAndDefaultsGoThrough) {
    both(kClientes);
    const QString tipos = "create table tipos (k enum('a''b','c') NOT NULL default 'a''b', "
                          "t varchar(10) default 'it''s \\\\ ok')";
    reference.exec(tipos);
    reference.exec("alter table clientes add column sit enum('o''k','x') default 'o''k'");
    const UpdateFile file = build();
    const auto trace = sync(file);
    EXPECT_EQ(trace.lines,
              QStringList({"Criando Campo: <clientes-sit>", "Criando Tabela <tipos>"}));
    EXPECT_EQ(columnRows(live, "tipos"), columnRows(reference, "tipos"));
    EXPECT_EQ(columnRows(live, "clientes"), columnRows(reference, "clientes"));
    // The snapshot of the result reads the same types back: a second run changes nothing.
    EXPECT_TRUE(sync(file).statements.isEmpty());
}

TEST_F(SchemaFixture, TableWithoutColumnsIsSkippedWithALine) {
    both(kClientes);
    reference.exec("create table extra (x int)");
    const UpdateFile file = build();
    file.execute("insert into tabelas ([table]) values ('fantasma')");
    file.execute("delete from campos where [table] = 'extra'");
    file.execute("insert into tabelas ([table]) values ('vazia')");
    const auto trace = sync(file);
    EXPECT_EQ(trace.lines, QStringList({"Tabela <extra> sem campos na referência: não criada",
                                        "Tabela <fantasma> sem campos na referência: não criada",
                                        "Tabela <vazia> sem campos na referência: não criada"}));
    EXPECT_TRUE(trace.statements.isEmpty());
    EXPECT_TRUE(live.column("show tables like 'extra'").isEmpty());
}

TEST_F(SchemaFixture, StatementRefusedInTheRehearsalChangesNothingAndARerunCompletesIt) {
    reference.exec(
        {"create table a1 (x int)", "create table b2 (y int)", "create table c3 (z int)"});
    const UpdateFile file = build();
    file.execute("update campos set type = 'tipo_que_nao_existe' where [table] = 'b2'");
    SyncTrace trace;
    try {
        sync(file);
        FAIL() << "the invalid type went through";
    } catch (const KrvError& e) {
        EXPECT_NE(e.number(), 0);
        EXPECT_FALSE(e.description().isEmpty());
    }
    EXPECT_TRUE(live.column("show tables").isEmpty());
    file.execute("update campos set type = 'int(11)' where [table] = 'b2'");
    trace = sync(file);
    EXPECT_EQ(trace.lines,
              QStringList({"Criando Tabela <a1>", "Criando Tabela <b2>", "Criando Tabela <c3>"}));
    EXPECT_EQ(live.column("show tables"), QStringList({"a1", "b2", "c3"}));
}

// The server's own system tables are a real schema: reserved words as names, expression
// defaults, unique indexes. Copied into a reference and applied to a suite database that
// holds only licensa and menu, every table comes out the same, and a second run has nothing
// to do.
TEST_F(SchemaFixture, ServerSystemTablesRoundTripIntoASuiteDatabase) {
    live.exec({"create table licensa (ult_atualizacao varchar(10), atmenu varchar(10))",
               "create table menu (Sistema varchar(10), sequencia int)"});
    const QStringList tables =
        reference.column("select table_name from information_schema.tables where "
                         "table_schema = 'mysql' and table_type = 'BASE TABLE'");
    ASSERT_GE(tables.size(), 20);
    for (const QString& t : tables)
        reference.exec("create table `" + t + "` like mysql.`" + t + "`");
    const UpdateFile file = build();
    const auto trace = sync(file);
    ASSERT_EQ(trace.statements.size(), tables.size()) << trace.lines.join("\n").toStdString();

    // Name, type, nullability, key marker and extra; defaults as the server classes them
    // (information_schema quotes literals), an empty literal counting as no default.
    const auto columns = [](test::ScratchDatabase& db) {
        QStringList rows;
        QSqlQuery q(db.db());
        EXPECT_TRUE(q.exec("select table_name, column_name, column_type, is_nullable, "
                           "column_key, column_default, extra from information_schema.columns "
                           "where table_schema = database() and table_name not in "
                           "('licensa', 'menu') order by table_name, ordinal_position"));
        while (q.next()) {
            QStringList r;
            for (int i = 0; i < 7; ++i)
                r << q.value(i).toString();
            if (q.value(5).isNull() || r[5] == "NULL" || r[5] == "''")
                r[5] = "<none>";
            rows << r.join('|');
        }
        return rows;
    };
    const QStringList got = columns(live);
    EXPECT_EQ(got, columns(reference));
    EXPECT_TRUE(got.contains("columns_priv|Timestamp|timestamp|NO||current_timestamp()|"
                             "on update current_timestamp()"));
    for (const QString& t : tables)
        EXPECT_EQ(indexRows(live, t), indexRows(reference, t)) << t.toStdString();
    EXPECT_TRUE(indexRows(live, "help_topic").contains("name:name:1:0"));

    const auto second = sync(file);
    EXPECT_TRUE(second.statements.isEmpty()) << second.statements.join("\n").toStdString();
}

TEST_F(SchemaFixture, UniqueIndexOverDuplicatesIsRefusedBeforeAnyChange) {
    both(kClientes);
    live.exec("insert into clientes (id, nome, cidade) values (1, 'Ana', 'Rio'), "
              "(2, 'ana', 'Rio'), (3, 'Bia', null), (4, 'Bia', null)");
    reference.exec({"create table nova (x int)", "alter table clientes add column obs text",
                    "create unique index ux_nome on clientes (nome, cidade)"});
    const UpdateFile file = build();
    const QString before = showCreate("clientes");
    try {
        sync(file);
        FAIL() << "the duplicates went through";
    } catch (const KrvError& e) {
        EXPECT_EQ(e.description(),
                  "Arquivo de atualização recusado: tabela <clientes>, índice único <ux_nome>: "
                  "as colunas <nome,cidade> já têm valores repetidos, por exemplo <Ana,Rio>. "
                  "Nenhuma alteração foi feita no banco de dados.");
    }
    EXPECT_EQ(showCreate("clientes"), before);
    EXPECT_TRUE(live.column("show tables like 'nova'").isEmpty());

    // Without the duplicates (nulls do not count) the index is added unique.
    live.exec("delete from clientes where id = 2");
    const auto trace = sync(file);
    EXPECT_TRUE(trace.statements.contains(
        "alter table `clientes` add unique index `ux_nome`(`nome`,`cidade`), ALGORITHM=INPLACE, "
        "LOCK=NONE"));
    EXPECT_EQ(indexRows(live, "clientes"), indexRows(reference, "clientes"));
    EXPECT_TRUE(sync(file).statements.isEmpty());
}

// One table each from real schemas, holding what an update file must carry beyond names and
// types; the damage a repair must undo (the data still fitting); rows the result must take
// under a strict mode as the original does.
struct RealTable {
    const char* what;
    QStringList reference, damage, rows;
};

const RealTable kRealTables[] = {
    {"empty default",
     {"create table msg (id int primary key, message varchar(2048) NOT NULL default '', "
      "t text NOT NULL default '', n varchar(5) default NULL)"},
     {"alter table msg modify message varchar(100) NOT NULL, modify t text NOT NULL"},
     {"insert into msg (id) values (1)"}},
    {"names with punctuation",
     {"create table `reply-to` (`max-access` int NOT NULL, `a.b c` varchar(3), `o'k` int, "
      "`x\"y;z` int, `(p)` int, `-- c` int, `/*c*/` int, `ação` int, `Order` int, `$d` int, "
      "`abcdefghijabcdefghijabcdefghijabcdefghijabcdefghijabcdefghij-234` int, "
      "primary key (`max-access`), key `ix-1` (`a.b c`, `o'k`), key `k.2` (`-- c`))"},
     {"alter table `reply-to` drop column `o'k`, drop column `/*c*/`, drop index `k.2`"},
     {}},
    {"table character set",
     {"create table opts (options varchar(64000) NOT NULL, u varchar(10) character set utf8mb4) "
      "default charset=latin1"},
     {"alter table opts modify options varchar(100) NOT NULL, modify u varchar(10)",
      "alter table opts default charset=utf8mb4"},
     {"insert into opts values ('á', '€')"}},
    {"index prefix lengths",
     {"create table counters (Counter tinyblob NOT NULL, key_ varchar(2048), username "
      "varchar(64), primary key (Counter(128)), key items_1 (key_(764)), key u (username(32)))"},
     {"alter table counters drop index items_1, drop index u, add index u (username)"},
     {}},
    {"column collation",
     {"create table jobs (JobStatus char(1) binary NOT NULL, name varchar(20) collate "
      "utf8mb4_bin, primary key (JobStatus))"},
     {"alter table jobs modify JobStatus char(1) NOT NULL, modify name varchar(20)"},
     {"insert into jobs values ('A', 'x')", "insert into jobs values ('a', 'X')"}},
    {"fulltext index",
     {"create table pages (id int primary key, body text, title varchar(80), fulltext key "
      "ft (title), fulltext key fb (body, title))"},
     {"alter table pages drop index ft, add index ft (title), drop index fb"},
     {"insert into pages values (1, 'a', 'b')"}},
    {"memory engine and hash indexes",
     {"create table cache (id int NOT NULL, tag varchar(10), primary key (id) using hash, "
      "key b (tag) using btree) engine=MEMORY"},
     {"alter table cache drop index b, add index b (tag)"},
     {}},
    {"myisam and spatial index",
     {"create table places (id int NOT NULL, g geometry NOT NULL, spatial key sg (g)) "
      "engine=MyISAM"},
     {"alter table places drop index sg"},
     {}},
    {"unique hash over text",
     {"create table notes (body text, unique key ub (body) using hash)"},
     {"alter table notes drop index ub"},
     {"insert into notes values ('x')"}},
    {"comments and a json column",
     {"create table docs (id int primary key, nome varchar(40) comment 'o nome', doc json "
      "comment 'documento') comment 'documentos'"},
     {"alter table docs modify nome varchar(10), modify doc longtext, comment ''"},
     {"insert into docs values (1, 'a', '{}')"}},
    {"foreign keys",
     {"create table grupos (id int primary key, nome varchar(20), unique key un (nome))",
      "create table membros (id int primary key, grupo int NOT NULL, gnome varchar(20), chefe "
      "int, constraint fk_grupo foreign key (grupo) references grupos (id) on delete cascade, "
      "constraint fk_nome foreign key (gnome) references grupos (nome) on update cascade, "
      "constraint fk_chefe foreign key (chefe) references membros (id) on delete set null)"},
     {"alter table membros drop foreign key fk_grupo, drop foreign key fk_chefe",
      "alter table membros drop foreign key fk_nome"},
     {"insert into grupos values (1, 'a')", "insert into membros values (5, 1, 'a', null)",
      "insert into membros values (6, 1, null, 5)"}},
    {"trigger filling its column",
     {"create table hosts (id int primary key, name varchar(64), name_upper varchar(64) NOT NULL "
      "default '')",
      "create trigger hosts_name_upper_insert before insert on hosts for each row set "
      "new.name_upper=upper(new.name)"},
     {"drop trigger hosts_name_upper_insert", "alter table hosts drop column name_upper"},
     {"insert into hosts (id, name) values (1, 'a')"}},
};

class RealTableRun : public SchemaFixture, public ::testing::WithParamInterface<RealTable> {
protected:
    // The rows go in under a strict mode; the table is emptied again.
    void acceptsRows() {
        live.exec("set session sql_mode = 'STRICT_ALL_TABLES'");
        live.exec(GetParam().rows);
        live.exec("set foreign_key_checks = 0");
        for (const QString& t : live.column("show tables"))
            live.exec("delete from `" + t + "`");
        live.exec("set foreign_key_checks = 1");
    }
};

TEST_P(RealTableRun, IsCreatedAndRepairedEqualAndARerunHasNothingToDo) {
    const RealTable& c = GetParam();
    reference.exec(c.reference);
    const UpdateFile file = build();
    sync(file);
    EXPECT_EQ(structure(live), structure(reference));
    EXPECT_TRUE(sync(file).statements.isEmpty());
    acceptsRows();

    live.exec("set foreign_key_checks = 0");
    for (const QString& t : live.column("show tables"))
        live.exec("drop table `" + t + "`");
    live.exec("set foreign_key_checks = 1");
    live.exec(c.reference);
    live.exec(c.damage);
    ASSERT_NE(structure(live), structure(reference));
    const auto repair = sync(file);
    EXPECT_FALSE(repair.statements.isEmpty());
    EXPECT_EQ(structure(live), structure(reference)) << repair.statements.join("\n").toStdString();
    const auto rerun = sync(file);
    EXPECT_TRUE(rerun.statements.isEmpty()) << rerun.statements.join("\n").toStdString();
    acceptsRows();
}

INSTANTIATE_TEST_SUITE_P(Cases, RealTableRun, ::testing::ValuesIn(kRealTables),
                         [](const ::testing::TestParamInfo<RealTable>& info) {
                             return QString(info.param.what).replace(' ', '_').toStdString();
                         });

// A collation change that would make the primary key hold 'A' and 'a' twice is refused before
// any change; an engine that differs is listed and left.
TEST_F(SchemaFixture, CollationThatBreaksAKeyIsRefusedAndAnEngineOnlyReported) {
    live.exec({"create table jobs (s char(1) binary NOT NULL, primary key (s))",
               "insert into jobs values ('A'), ('a')", "create table logs (x int) engine=MyISAM"});
    reference.exec({"create table jobs (s char(1) NOT NULL, primary key (s))",
                    "create table logs (x int) engine=InnoDB"});
    const UpdateFile file = build();
    const QString before = showCreate("jobs");
    try {
        sync(file);
        FAIL() << "the duplicate key went through";
    } catch (const KrvError& e) {
        EXPECT_TRUE(e.description().contains("chave primária <s>") ||
                    e.description().contains("índice único <PRIMARY>"))
            << e.description().toStdString();
    }
    EXPECT_EQ(showCreate("jobs"), before);
    live.exec("delete from jobs where s = 'a'");
    const auto trace = sync(file);
    EXPECT_TRUE(trace.lines.contains("Tabela <logs>: motor <MyISAM> mantido (a referência pede "
                                     "<InnoDB>)"))
        << trace.lines.join("\n").toStdString();
    EXPECT_EQ(trace.statements.filter("logs"), QStringList());
    EXPECT_EQ(liveRow("select engine from information_schema.tables where table_schema = "
                      "database() and table_name = 'logs'",
                      0),
              "MyISAM");
}

// A name the update would refuse never leaves the builder; every other one goes through.
TEST_F(SchemaFixture, BuilderRefusesANameTheUpdateWouldRefuse) {
    reference.exec("create table `a``b` (x int)");
    try {
        build();
        FAIL() << "the name went into the file";
    } catch (const KrvError& e) {
        EXPECT_TRUE(e.description().contains("a`b")) << e.description().toStdString();
    }
}

// Every table above in one schema of our own, with the suite's own tables beside it: created
// from nothing, then a damaged copy (tables dropped, columns and indexes changed) repaired;
// every table, column, index and default equal, and the dry run finds nothing to do.
TEST_F(SchemaFixture, SchemaWithEveryConstructIsCreatedAndRepairedWhole) {
    live.exec({"create table licensa (ult_atualizacao varchar(10), atmenu varchar(10))",
               "create table menu (Sistema varchar(10), sequencia int)"});
    QStringList all, damage;
    for (const RealTable& c : kRealTables) {
        all << c.reference;
        damage << c.damage;
    }
    reference.exec(all);
    const UpdateFile file = build();
    const auto created = sync(file);
    const QStringList tables = all.filter(QRegularExpression("^create table"));
    EXPECT_EQ(created.statements.filter(QRegularExpression("^create table")).size(), tables.size());
    EXPECT_EQ(structure(live), structure(reference));
    EXPECT_EQ(planUpdate(file.path(), Conexao()).statements, 0);

    live.exec("set foreign_key_checks = 0");
    for (const QString& t : tables)
        live.exec("drop table " + t.section(' ', 2, 2));
    live.exec("set foreign_key_checks = 1");
    live.exec(all.mid(1));
    live.exec(damage.mid(1));
    const auto repaired = sync(file);
    EXPECT_TRUE(repaired.lines.contains("Criando Tabela <msg>"));
    EXPECT_EQ(structure(live), structure(reference));
    EXPECT_EQ(planUpdate(file.path(), Conexao()).statements, 0);
    EXPECT_TRUE(sync(file).statements.isEmpty());
}

// Real schemas from Debian packages, when a folder of them is given (scripts/real-schemas
// fetches them; CI runs the schema of our own above instead): each is created from nothing
// beside the suite's tables, then a damaged copy is repaired (every fourth table dropped,
// indexes dropped, columns dropped or narrowed, and every foreign key and trigger missing, as
// "create table ... like" copies none), each time equal to the reference in keys and triggers
// as well, and a rerun has nothing to do.
TEST_F(SchemaFixture, RealSchemasAreCreatedAndRepairedEqual) {
    const QString folder = qEnvironmentVariable("KRV_REAL_SCHEMAS");
    if (folder.isEmpty())
        GTEST_SKIP() << "KRV_REAL_SCHEMAS names no folder of schemas (scripts/real-schemas)";
    const QString ref = reference.scalar("select database()");
    const auto dropAll = [](test::ScratchDatabase& db) {
        db.exec("set foreign_key_checks = 0");
        for (const QString& t : db.column("show full tables where table_type = 'BASE TABLE'"))
            db.exec("drop table `" + t + "`");
    };
    for (const QFileInfo& sql : QDir(folder).entryInfoList({"*.sql"}, QDir::Files)) {
        SCOPED_TRACE(sql.fileName().toStdString());
        dropAll(reference);
        dropAll(live);
        QProcess load;
        load.setStandardInputFile(sql.filePath());
        load.start("mariadb",
                   {"--no-defaults", "-h", test::DbServer::host(), "-P",
                    QString::number(test::DbServer::port()), "-u" + test::DbServer::user(),
                    "-p" + test::DbServer::password(), ref});
        ASSERT_TRUE(load.waitForFinished(300000));
        ASSERT_EQ(load.exitCode(), 0) << load.readAllStandardError().toStdString();
        // zabbix fills its name_upper columns by trigger; both keep their rows together by key.
        const QString name = sql.baseName();
        const int keys = int(reference
                                 .column("select constraint_name from "
                                         "information_schema.referential_constraints where "
                                         "constraint_schema = database()")
                                 .size());
        EXPECT_TRUE(keys >= 10 || (name != "zabbix" && name != "roundcube")) << keys;
        EXPECT_TRUE(reference.column("show triggers").size() == 4 || name != "zabbix");
        live.exec({"create table licensa (ult_atualizacao varchar(10), atmenu varchar(10))",
                   "create table menu (Sistema varchar(10), sequencia int)"});
        const UpdateFile file = build();
        sync(file);
        EXPECT_EQ(structure(live), structure(reference));
        EXPECT_TRUE(sync(file).statements.isEmpty());

        dropAll(live);
        const QStringList tables =
            reference.column("show full tables where table_type = 'BASE TABLE'");
        ASSERT_GE(tables.size(), 7);
        for (qsizetype i = 0; i < tables.size(); ++i) {
            const QString t = "`" + tables[i] + "`";
            live.exec("create table " + t + " like `" + ref + "`." + t);
            const QString where =
                " where table_schema = database() and table_name = '" + tables[i] + "'";
            const QStringList indexed = live.column(
                "select distinct column_name from information_schema.statistics" + where);
            const QStringList loose =
                live.column("select column_name from information_schema.columns" + where +
                            " and column_name not in ('" + indexed.join("','") +
                            "') order by ordinal_position");
            const QStringList keys =
                live.column("select distinct index_name from information_schema.statistics" +
                            where + " and index_name <> 'PRIMARY'");
            if (i % 4 == 0)
                live.exec("drop table " + t);
            else if (i % 4 == 1 && !keys.isEmpty())
                live.exec("alter table " + t + " drop index `" + keys.last() + "`");
            else if (i % 4 == 2 && loose.size() > 1)
                live.exec("alter table " + t + " drop column `" + loose.last() + "`");
            else if (!loose.isEmpty()) {
                const QString type =
                    live.scalar("select column_type from information_schema.columns" + where +
                                " and column_name = '" + loose.first() + "'");
                if (type.startsWith("varchar("))
                    live.exec("alter table " + t + " modify `" + loose.first() + "` varchar(1)");
            }
        }
        ASSERT_NE(structure(live), structure(reference));
        sync(file);
        EXPECT_EQ(structure(live), structure(reference));
        const auto rerun = sync(file);
        EXPECT_TRUE(rerun.statements.isEmpty()) << rerun.statements.join("\n").toStdString();
    }
}

// What the reference does not name a modified column keeps: its comment, and a JSON column's
// check; a live table comment stays too.
TEST_F(SchemaFixture, LiveCommentAndJsonCheckSurviveAWidening) {
    both({"create table docs (id int primary key, nome varchar(10) comment 'o nome', doc json "
          "comment 'documento') comment 'viva'"});
    reference.exec("alter table docs modify nome varchar(40), comment ''");
    const UpdateFile file = build();
    // An older reference: no check, and a comment of its own for doc only.
    file.execute("update campos set [check] = null, comment = '' where [table] = 'docs'");
    file.execute("update campos set comment = 'novo' where field = 'doc'");
    const auto trace = sync(file);
    EXPECT_EQ(trace.statements,
              QStringList({"alter table `docs` modify column `nome` varchar(40) character set "
                           "utf8mb4 collate utf8mb4_general_ci COMMENT 'o nome', ALGORITHM=INSTANT",
                           "alter table `docs` modify column `doc` longtext character set utf8mb4 "
                           "collate utf8mb4_bin COMMENT 'novo' CHECK (json_valid(`doc`))"}));
    EXPECT_EQ(live.column("select concat_ws('|', column_name, column_comment) from "
                          "information_schema.columns where table_schema = database() and "
                          "table_name = 'docs' order by ordinal_position"),
              QStringList({"id|", "nome|o nome", "doc|novo"}));
    EXPECT_EQ(liveRow("select table_comment from information_schema.tables where table_schema = "
                      "database() and table_name = 'docs'",
                      0),
              "viva");
    QSqlQuery q(live.db());
    EXPECT_FALSE(q.exec("insert into docs (id, doc) values (1, 'não é json')"));
    EXPECT_TRUE(sync(file).statements.isEmpty());
}

namespace {
const QStringList kGrupos = {
    "create table grupos (id int primary key, nome varchar(20))",
    "create table membros (id int primary key, grupo int, key ix_grupo (grupo), constraint "
    "fk_grupo foreign key (grupo) references grupos (id))"};
}

// A change the server refuses on a key's column, on either side, refuses the file before the
// first change; so does one the rehearsal meets on a copy that carries the live keys.
TEST_F(SchemaFixture, ChangeToAColumnOfALiveForeignKeyIsRefusedWithNothingChanged) {
    const struct {
        const char* what;
        QStringList reference;
        const char* refusal;
    } cases[] = {
        {"child side",
         {"alter table membros drop foreign key fk_grupo",
          "alter table membros modify grupo bigint"},
         "Arquivo de atualização recusado: tabela <membros>, campo <grupo>: a chave estrangeira "
         "<fk_grupo> <membros>(grupo) -> <grupos>(id) usa o campo, que só mudaria removendo a "
         "chave; esta atualização nunca remove uma chave. Nenhuma alteração foi feita no banco "
         "de dados."},
        {"parent side",
         {"alter table membros drop foreign key fk_grupo",
          "alter table grupos modify id int unsigned"},
         "tabela <grupos>, campo <id>: a chave estrangeira <fk_grupo>"},
        {"index the key needs",
         {"alter table membros drop index ix_grupo, add index ix_grupo (grupo, id)"},
         "o servidor recusou o comando <alter table `membros` drop index `ix_grupo`> no ensaio"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (auto* db : {&live, &reference}) {
            db->exec({"set foreign_key_checks = 0", "drop table if exists membros, grupos, nova",
                      "set foreign_key_checks = 1"});
            db->exec(kGrupos);
        }
        live.exec("insert into grupos values (1, 'a')");
        reference.exec(c.reference);
        reference.exec("create table nova (x int)");
        const UpdateFile file = build();
        const QStringList before = structure(live);
        try {
            sync(file);
            ADD_FAILURE() << "the change went through";
        } catch (const KrvError& e) {
            EXPECT_TRUE(e.description().contains(QString::fromUtf8(c.refusal)))
                << e.description().toStdString();
        }
        EXPECT_EQ(structure(live), before);
        EXPECT_EQ(live.column("show tables like 'zv_ensaio%'"), QStringList());
    }
}

// A missing key over rows with a parent each is added in place and counted again; over rows
// without one it refuses the file with their count and one of them, or is left out and named
// when the data change is taken knowingly; the dry run shows the same.
TEST_F(SchemaFixture, ForeignKeyIsAddedOverSoundRowsAndRefusedOverOrphans) {
    both(
        {kGrupos[0], "create table membros (id int primary key, grupo int, key ix_grupo (grupo))"});
    reference.exec({"alter table membros add constraint fk_grupo foreign key (grupo) references "
                    "grupos (id) on delete cascade",
                    "create table nova (x int)"});
    live.exec({"insert into grupos values (1, 'a'), (2, 'b')",
               "insert into membros values (10, 1), (11, 3), (12, null), (13, 4)"});
    const UpdateFile file = build();
    const QStringList before = structure(live);
    const QString orphans = "tabela <membros>, chave estrangeira <fk_grupo>: 2 linha(s) de "
                            "<membros> sem correspondente em <grupos>, por exemplo <grupo=";
    try {
        sync(file);
        ADD_FAILURE() << "the orphans went through";
    } catch (const KrvError& e) {
        EXPECT_TRUE(e.description().contains(orphans)) << e.description().toStdString();
    }
    EXPECT_EQ(structure(live), before);
    const PlanResult plan = planUpdate(file.path(), Conexao());
    ASSERT_EQ(plan.refusals.size(), 1);
    EXPECT_TRUE(plan.refusals[0].contains(orphans));

    SafeUpdateOptions allow;
    allow.policy = DataChangePolicy::Allow;
    QStringList leftOut;
    allow.keyLeftOut = [&](const QString& key) { leftOut << key; };
    const auto knowingly = sync(file, allow);
    EXPECT_EQ(knowingly.lines.filter("Chave estrangeira <membros-fk_grupo> não criada: 2 linha(s)")
                  .size(),
              1)
        << knowingly.lines.join("\n").toStdString();
    ASSERT_EQ(leftOut.size(), 1);
    EXPECT_TRUE(leftOut[0].startsWith("fk_grupo <membros>(grupo) -> <grupos>(id): 2 linha(s)"));
    EXPECT_EQ(live.column("show tables like 'nova'"), QStringList{"nova"});
    EXPECT_EQ(liveRow("select count(*) from information_schema.referential_constraints where "
                      "constraint_schema = database()",
                      0),
              "0");

    live.exec("delete from membros where grupo > 2");
    const PlanResult clean = planUpdate(file.path(), Conexao());
    EXPECT_TRUE(clean.output.contains("-- chave estrangeira <fk_grupo>: 0 linha(s) sem "
                                      "correspondente em <grupos>"))
        << clean.output.join("\n").toStdString();
    const auto added = sync(file);
    EXPECT_EQ(added.lines, QStringList{"Criando Chave Estrangeira: <membros-fk_grupo>"});
    EXPECT_EQ(added.statements,
              QStringList{"alter table `membros` add CONSTRAINT `fk_grupo` FOREIGN KEY "
                          "(`grupo`) REFERENCES `grupos` (`id`) ON DELETE CASCADE, "
                          "ALGORITHM=INPLACE, LOCK=NONE"});
    EXPECT_EQ(structure(live), structure(reference));
    EXPECT_TRUE(sync(file).statements.isEmpty());
}

// Tables are created parents first, whatever their stored order; a key to the table itself
// and the keys of a cycle wait for the creates.
TEST_F(SchemaFixture, NewTablesAreCreatedParentsFirstWithCyclesAfterwards) {
    reference.exec(
        {"create table z_pai (id int primary key, chefe int, key (chefe), constraint fk_chefe "
         "foreign key (chefe) references z_pai (id))",
         "create table a_filho (id int primary key, pai int, key (pai), constraint fk_pai "
         "foreign key (pai) references z_pai (id))",
         "create table c1 (id int primary key, c2 int, key (c2))",
         "create table c2 (id int primary key, c1 int, key (c1), constraint fk_c1 foreign key "
         "(c1) references c1 (id))",
         "alter table c1 add constraint fk_c2 foreign key (c2) references c2 (id)"});
    const UpdateFile file = build();
    const auto trace = sync(file);
    QStringList heads;
    for (const QString& s : trace.statements)
        heads << s.section(" (", 0, 0) +
                     (s.contains("CONSTRAINT")
                          ? " +" + s.section("CONSTRAINT `", 1, 1).section('`', 0, 0)
                          : QString());
    EXPECT_EQ(heads, QStringList({"create table `z_pai`", "create table `a_filho` +fk_pai",
                                  "create table `c1`", "create table `c2` +fk_c1",
                                  "alter table `c1` add CONSTRAINT `fk_c2` FOREIGN KEY +fk_c2",
                                  "alter table `z_pai` add CONSTRAINT `fk_chefe` FOREIGN KEY "
                                  "+fk_chefe"}))
        << trace.statements.join("\n").toStdString();
    EXPECT_EQ(structure(live), structure(reference));
    EXPECT_TRUE(sync(file).statements.isEmpty());
}

// A missing view or routine is created; a live one whose definition differs is reported and
// kept.
TEST_F(SchemaFixture, DifferingViewIsReportedAndKeptAMissingOneCreated) {
    both({"create table t (a int)"});
    live.exec({"create view v as select a from t", "create function dobro(x int) returns int "
                                                   "deterministic return x * 3"});
    reference.exec({"create view v as select a, a + 1 as b from t",
                    "create view w as select a * 2 as d from t",
                    "create view a_de_w as select d from w",
                    "create function dobro(x int) returns int deterministic return x * 2",
                    "create procedure zera() update t set a = 0"});
    const UpdateFile file = build();
    const auto trace = sync(file);
    const QStringList kept = {"Função <dobro> difere da referência: mantido como está",
                              "Visão <v> difere da referência: mantido como está"};
    // Routines before views; a view after the view it selects from.
    EXPECT_EQ(trace.lines, QStringList({kept[0], "Criando Procedimento <zera>", kept[1],
                                        "Criando Visão <w>", "Criando Visão <a_de_w>"}));
    EXPECT_EQ(trace.statements,
              QStringList({"CREATE PROCEDURE `zera`()\nupdate t set a = 0",
                           "create view `w` as select `t`.`a` * 2 AS `d` from `t`",
                           "create view `a_de_w` as select `w`.`d` AS `d` from `w`"}));
    EXPECT_EQ(live.column("select column_name from information_schema.columns where table_schema "
                          "= database() and table_name = 'v'"),
              QStringList{"a"});
    EXPECT_EQ(live.scalar("select dobro(5)"), "15");
    live.exec({"insert into t values (7)", "call zera()"});
    EXPECT_EQ(live.scalar("select a from t"), "0");
    const auto rerun = sync(file);
    EXPECT_TRUE(rerun.statements.isEmpty());
    EXPECT_EQ(rerun.lines, kept);
}

TEST(ForeignKeyTexts, AreWrittenAndComparedAsTheServerDoes) {
    const ForeignKey k{"membros", "fk", {"a", "b"}, "grupos", {"x", "y"}, "CASCADE", ""};
    EXPECT_EQ(addForeignKeyStatement(k),
              "alter table `membros` add CONSTRAINT `fk` FOREIGN KEY "
              "(`a`,`b`) REFERENCES `grupos` (`x`,`y`) ON DELETE CASCADE");
    EXPECT_EQ(k.clause("zv_ensaio_1_2", false),
              "FOREIGN KEY (`a`,`b`) REFERENCES `zv_ensaio_1_2` (`x`,`y`) ON DELETE CASCADE");
    EXPECT_EQ(orphanCountQuery(k, true),
              "select count(*) from `membros` c where c.`a` is not null and c.`b` is not null and "
              "not exists (select 1 from `grupos` p where p.`x` = c.`a` and p.`y` = c.`b`)");
    EXPECT_EQ(orphanExampleQuery(k, false),
              "select c.`a`,c.`b` from `membros` c where c.`a` is not null and c.`b` is not null "
              "limit 1");
    EXPECT_TRUE(
        k.sameAs({" MEMBROS ", "outro", {"A", "b"}, "Grupos", {"x", "Y"}, "cascade", "RESTRICT"}));
    EXPECT_FALSE(k.sameAs({"membros", "fk", {"b", "a"}, "grupos", {"y", "x"}, "CASCADE", ""}));
    EXPECT_FALSE(k.sameAs({"membros", "fk", {"a", "b"}, "grupos", {"x", "y"}, "SET NULL", ""}));

    const struct {
        const char* a;
        const char* b;
        bool same;
    } types[] = {
        {"int(10) unsigned", "INT(11) UNSIGNED", true},
        {"varchar(20)", "varchar(64)", true},
        {"bigint(20)", "int(11)", false},
        {"int(11)", "int(11) unsigned", false},
        {"char(3)", "varchar(3)", false},
        {"decimal(10,2)", "decimal(12,2)", false},
    };
    for (const auto& t : types)
        EXPECT_EQ(keyType(t.a) == keyType(t.b), t.same) << t.a << " / " << t.b;
    for (const auto& [check, ok] : {std::pair{"json_valid(`doc`)", true},
                                    {" JSON_VALID( `Doc` ) ", true},
                                    {"json_valid(`outra`)", false},
                                    {"`doc` > 0", false},
                                    {"json_valid(`doc`) or sleep(5)", false}})
        EXPECT_EQ(isJsonCheck(check, "doc"), ok) << check;
}

TEST(SchemaObjects, DefinitionsCompareWithoutDefinerAndOnlySafeHeadsPass) {
    EXPECT_EQ(normalDefinition("CREATE DEFINER=`root`@`localhost` PROCEDURE `p`()\n  select  1"),
              "CREATE PROCEDURE `p`() select 1");
    EXPECT_EQ(normalDefinition("CREATE DEFINER=krv@'%' FUNCTION `f`() RETURNS int return 1"),
              "CREATE FUNCTION `f`() RETURNS int return 1");
    // Only the head's DEFINER goes; a body's own words stay.
    EXPECT_EQ(withoutDefiner("set new.x = 'DEFINER=a@b'"), "set new.x = 'DEFINER=a@b'");
    const SchemaObject trigger{"t_up",   "TRIGGER", "hosts",
                               "BEFORE", "INSERT",  "set new.u=upper(new.n)"};
    EXPECT_EQ(createObjectStatement(trigger),
              "create trigger `t_up` before insert on `hosts` for each row set new.u=upper(new.n)");
    const struct {
        SchemaObject object;
        const char* problem;
    } cases[] = {
        {trigger, ""},
        {{"t", "TRIGGER", "hosts", "INSTEAD", "INSERT", "set @a = 1"}, "momento <INSTEAD>"},
        {{"t", "TRIGGER", "a`b", "AFTER", "DELETE", "set @a = 1"}, "tabela <a`b>"},
        {{"p", "PROCEDURE", {}, {}, {}, "CREATE PROCEDURE `p`(x int) select x"}, ""},
        {{"p", "PROCEDURE", {}, {}, {}, "CREATE PROCEDURE `menu_zap`() delete from menu"},
         "definição que não começa por <CREATE PROCEDURE `p`>"},
        {{"p", "PROCEDURE", {}, {}, {}, "DROP TABLE menu"},
         "definição que não começa por <CREATE PROCEDURE `p`>"},
        {{"v", "VIEW", {}, {}, {}, "  "}, "definição vazia"},
        {{"e", "EVENT", {}, {}, {}, "x"}, "tipo <EVENT>"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(objectProblem(c.object), QString::fromUtf8(c.problem))
            << c.object.name.toStdString();
}

// A key of the file that the server could not hold, or that would need a change it never
// makes, refuses the file before the first change, whatever the data-change policy.
TEST_F(SchemaFixture, ForeignKeyThatCannotHoldIsRefusedBeforeAnyChange) {
    both({"create table grupos (id int primary key, cod varchar(5), n bigint) ",
          "create table velha (id int primary key) engine=MyISAM",
          "create table membros (id int primary key, grupo int, cod varchar(5) collate "
          "utf8mb4_bin, key (grupo), key (cod))"});
    reference.exec("create table nova (x int)");
    const struct {
        const char* what;
        const char* row; // the estrangeiras row: table, name, column, parent, parent column, action
        const char* refusal;
    } cases[] = {
        {"engine", "'membros','fk','grupo','velha','id',''",
         "a tabela <velha> usa o motor <MyISAM>, e chaves estrangeiras pedem InnoDB nas duas "
         "tabelas"},
        {"type", "'membros','fk','grupo','grupos','n',''",
         "o campo <membros.grupo> (<int(11)>) e o campo <grupos.n> (<bigint(20)>) têm tipos "
         "diferentes"},
        {"collation", "'membros','fk','cod','grupos','cod',''",
         "(<utf8mb4_bin>) e o campo <grupos.cod> (<utf8mb4_general_ci>) têm collations diferentes"},
        {"no unique index", "'membros','fk','cod','membros','cod',''",
         "a tabela <membros> não tem índice único sobre <cod>"},
        {"action", "'membros','fk','grupo','grupos','id','DROP TABLE'",
         "ação inválido: <DROP TABLE>"},
        {"missing column", "'membros','fk','nada','grupos','id',''",
         "o campo <membros.nada> não existe"},
    };
    SafeUpdateOptions allow;
    allow.policy = DataChangePolicy::Allow;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const UpdateFile file = build();
        file.execute(QString("insert into estrangeiras ([table], constraint_name, column_name, "
                             "ref_table, ref_column, on_delete, seq_in_key) values (%1, 1)")
                         .arg(c.row));
        try {
            sync(file, allow);
            ADD_FAILURE() << "the key went through";
        } catch (const KrvError& e) {
            EXPECT_TRUE(e.description().contains(QString::fromUtf8(c.refusal)))
                << e.description().toStdString();
        }
        EXPECT_TRUE(live.column("show tables like 'nova'").isEmpty());
    }
}

// A trigger the server would refuse (a column its table lacks) is refused in the rehearsal on
// the table's copy, before the table's other changes are made live.
TEST_F(SchemaFixture, TriggerTheServerRefusesIsRefusedInTheRehearsal) {
    both({"create table hosts (id int primary key, name varchar(64))"});
    reference.exec({"alter table hosts add column obs int",
                    "create trigger h_up before insert on hosts for each row set new.obs = 1"});
    const UpdateFile file = build();
    file.execute("update objetos set definition = 'set new.nao_existe = 1'");
    try {
        sync(file);
        ADD_FAILURE() << "the trigger went through";
    } catch (const KrvError& e) {
        EXPECT_TRUE(e.description().contains("o servidor recusou o comando <create trigger `h_up`"))
            << e.description().toStdString();
    }
    EXPECT_EQ(columnRows(live, "hosts").size(), 2);
    EXPECT_TRUE(live.column("show triggers").isEmpty());
}
