#include "database/connection.h"
#include "database/connection_string.h"
#include "database/schema_statements.h"
#include "test_db.h"

#include <gtest/gtest.h>

using namespace krv::database;
using krv::KrvError;

TEST(ConnectionString, KeysIgnoreCaseAndThePortMayComeEitherWay) {
    auto p = parseConnectionString(
        "DRIVER={MySQL ODBC 5.1 Driver};server=db.local:3307;DataBase=krv;UID=adm;pwd=x;Option=3;");
    EXPECT_EQ(p.driver, "MySQL ODBC 5.1 Driver");
    EXPECT_EQ(p.host, "db.local");
    EXPECT_EQ(p.port, 3307);
    EXPECT_EQ(p.database, "krv");
    EXPECT_EQ(p.user, "adm");
    EXPECT_EQ(p.password, "x");
    p = parseConnectionString("Driver={X};Server=10.0.0.5;Port=3310;Database=d;Uid=u;Pwd=p;");
    EXPECT_EQ(p.host, "10.0.0.5");
    EXPECT_EQ(p.port, 3310);
    EXPECT_EQ(parseConnectionString("Server=h;Database=d").port, 3306);
}

TEST(ConnectionString, BracedValuesMayHoldSemicolons) {
    const auto p = parseConnectionString("Server=h;Uid=u;Pwd={a;b}}c};Database=d;");
    EXPECT_EQ(p.password, "a;b}c");
    EXPECT_EQ(p.database, "d");
}

TEST(ConnectionString, JetAndOdbcStringsAreBuiltExactly) {
    EXPECT_EQ(
        jetConnectionString(" C:\\krv\\dados.mdb "),
        "PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source= C:\\krv\\dados.mdb ;Jet OLEDB:Database");
    EXPECT_EQ(odbcConnectionString("MySQL ODBC 3.51 Driver", "srv", "krv", "root", "p w"),
              "Driver={MySQL ODBC 3.51 Driver};Server=srv;Database=krv;Uid=root;Pwd=p w;Option=3;");
}

TEST(ConnectionString, SqlLiteralsEscapeApostrophesAndBackslashes) {
    EXPECT_EQ(sqlQuote("O'Brien \\ x"), "'O''Brien \\\\ x'");
    EXPECT_EQ(sqlQuote("O'Brien \\ x", false), "'O''Brien \\ x'");
}

class LiveConnection : public ::testing::Test {
protected:
    krv::test::ScratchDatabase db_;
};

TEST_F(LiveConnection, OpensRunsStatementsAndReadsFieldsByAnyCase) {
    ASSERT_TRUE(db_.ok());
    Connection c;
    c.Open(1, db_.connectionString());
    ASSERT_TRUE(c.isOpen());
    c.Execute("create table licensa (ult_atualizacao varchar(10), atmenu varchar(10))");
    c.Execute("insert into licensa values ('000132', '7')");
    std::unique_ptr<Recordset> rs;
    CriaRecordset(rs, true);
    rs->Open("select ult_atualizacao, atmenu from licensa", c);
    ASSERT_FALSE(rs->eof());
    EXPECT_EQ(rs->text("ULT_ATUALIZACAO"), "000132");
    EXPECT_EQ(rs->text(1), "7");
    rs->moveNext();
    EXPECT_TRUE(rs->eof());
    CriaRecordset(rs, false);
    EXPECT_EQ(rs, nullptr);
}

TEST_F(LiveConnection, FailuresAreErrorsWithTheServersReason) {
    ASSERT_TRUE(db_.ok());
    Connection c;
    c.Open(1, db_.connectionString());
    try {
        c.Execute("select * from tabela_que_nao_existe");
        FAIL() << "no error";
    } catch (const KrvError& e) {
        EXPECT_EQ(e.number(), 1146);
        EXPECT_TRUE(e.description().contains("tabela_que_nao_existe"));
    }
}

TEST_F(LiveConnection, OneCallRunsOneStatementOnly) {
    ASSERT_TRUE(db_.ok());
    Connection c;
    c.Open(1, db_.connectionString());
    c.Execute("create table x (a int)");
    const char* smuggled[] = {"select 1; drop table x", "select 1;drop table x;",
                              "update x set a = 1; drop table x"};
    for (const char* sql : smuggled) {
        SCOPED_TRACE(sql);
        EXPECT_THROW(c.Execute(sql), KrvError);
        Recordset rs;
        EXPECT_THROW(rs.Open(sql, c), KrvError);
        EXPECT_EQ(db_.column("show tables"), QStringList{"x"});
    }
    // The connection goes on working after the refusals.
    c.Execute("insert into x values (7)");
    EXPECT_EQ(db_.scalar("select a from x"), "7");
}

// Values mean the same whether the session reads backslashes as escapes or not.
TEST_F(LiveConnection, LiteralsMeanTheSameInBothEscapingModes) {
    ASSERT_TRUE(db_.ok());
    const QStringList values = {"O'Brien", "a\\b", "\\'; drop table v; --", "\\", "''", "fim\\"};
    for (const bool noBackslashEscapes : {false, true}) {
        SCOPED_TRACE(noBackslashEscapes ? "NO_BACKSLASH_ESCAPES" : "backslash escapes");
        Connection c;
        c.Open(1, db_.connectionString());
        EXPECT_TRUE(c.backslashEscapes());
        if (noBackslashEscapes) {
            c.Execute("set session sql_mode = concat(@@session.sql_mode, ',NO_BACKSLASH_ESCAPES')");
            c.readSqlMode();
            EXPECT_FALSE(c.backslashEscapes());
        }
        c.Execute("drop table if exists v");
        c.Execute("create table v (n int, a varchar(60))");
        for (int i = 0; i < values.size(); ++i)
            c.Execute(QString("insert into v values (%1, %2)").arg(i).arg(c.quote(values[i])));
        QStringList back;
        Recordset rs;
        for (rs.Open("select a from v order by n", c); !rs.eof(); rs.moveNext())
            back << rs.text(0);
        EXPECT_EQ(back, values);
        // A column's literal default too.
        ReferenceColumn col;
        col.field = "d";
        col.type = "varchar(20)";
        col.defaultValue = "x\\'y";
        c.Execute("drop table if exists w");
        c.Execute("create table w (" + columnDefinition(col, c.backslashEscapes()) + ")");
        Recordset d;
        d.Open("show columns from w", c);
        EXPECT_EQ(d.text("default"), "x\\'y");
        EXPECT_EQ(db_.column("show tables"), (QStringList{"v", "w"}));
    }
}

TEST(UnopenedConnection, FirstUseRaisesAClearError) {
    Connection c;
    EXPECT_FALSE(c.isOpen());
    try {
        c.Execute("select 1");
        FAIL() << "no error";
    } catch (const KrvError& e) {
        EXPECT_EQ(e.number(), krv::err::NotConnected);
        EXPECT_EQ(e.description(), "A conexão com o banco de dados do sistema não está aberta.");
    }
    Recordset rs;
    EXPECT_THROW(rs.Open("select 1", c), KrvError);
}

TEST(UnopenedConnection, JetAndSqlServerCannotBeOpenedHere) {
    Connection c;
    EXPECT_THROW(c.Open(0, jetConnectionString("/x.mdb")), KrvError);
    EXPECT_THROW(c.Open(2, "Provider=SQLOLEDB;Data Source=x"), KrvError);
    EXPECT_FALSE(c.isOpen());
}
