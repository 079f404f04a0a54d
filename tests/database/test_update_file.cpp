#include "database/update_file.h"
#include "test_db.h"
#include "update_file_builder.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace krv;
using namespace krv::database;

class UpdateFileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString path(const QString& name) const { return dir.filePath(name); }
    QTemporaryDir dir;
};

TEST_F(UpdateFileTest, OpenFailuresNameTheFileAndTheReason) {
    try {
        openUpdateFile(path("falta.mdb"));
        FAIL();
    } catch (const KrvError& e) {
        EXPECT_EQ(e.number(), err::FileNotFound);
        EXPECT_TRUE(e.description().contains(path("falta.mdb")));
    }
    QFile text(path("krv.mdb"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write(QByteArray("numero;CodAtu\r\n000132\r\n").leftJustified(4096, ' '));
    text.close();
    try {
        openUpdateFile(path("krv.mdb"));
        FAIL();
    } catch (const KrvError& e) {
        EXPECT_EQ(e.number(), err::BadFileFormat);
        EXPECT_TRUE(e.description().contains("não é um arquivo de atualização"));
        EXPECT_TRUE(e.description().contains(path("krv.mdb")));
    }
    // An SQLite header over garbage is found out on opening, not on the first query.
    QFile broken(path("quebrado.mdb"));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write(QByteArray("SQLite format 3\0", 16) + QByteArray(4080, '\x7f'));
    broken.close();
    EXPECT_THROW(openUpdateFile(path("quebrado.mdb")), KrvError);
}

TEST_F(UpdateFileTest, QueriesBindValuesAndReadColumnsByPositionOrName) {
    {
        UpdateFile created;
        created.createSqlite(path("u.mdb"));
        tools::createUpdateFileTables(created);
        EXPECT_THROW(UpdateFile().createSqlite(path("u.mdb")), KrvError); // never overwrites
    }
    const UpdateFile file = openUpdateFile(path("u.mdb"), ";pwd=QTNXBVLM47");
    const QString nasty = "enum('a''b','c') \\ \"x\"";
    EXPECT_EQ(file.execute("insert into campos ([table], field, type, [default]) values (?,?,?,?)",
                           {"T", "F", nasty, QVariant()}),
              1);
    const UpdateRows rows = file.query(
        "select * from campos where [table] = ? collate nocase and type = ?", {"t", nasty});
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows.first().text("TYPE"), nasty);
    EXPECT_EQ(rows[0].text(0), "T");
    EXPECT_TRUE(rows[0].isNull("Default"));
    EXPECT_EQ(rows[0].text("default"), "");
    EXPECT_EQ(rows.columnName(1), "field");
    EXPECT_THROW(rows[0].value("nao_existe"), KrvError);
    EXPECT_THROW(file.query("select * from campos where field = ?"), KrvError); // unbound
    try {
        file.query("select * from tabela_que_falta");
        FAIL();
    } catch (const KrvError& e) {
        EXPECT_TRUE(e.description().contains("tabela_que_falta"));
        EXPECT_TRUE(e.description().contains(path("u.mdb")));
    }
}

TEST_F(UpdateFileTest, TransactionsRollBackUnlessCommitted) {
    UpdateFile file;
    file.createSqlite(path("t.mdb"));
    tools::createUpdateFileTables(file);
    {
        UpdateFileTransaction t(file);
        file.execute("insert into tabelas ([table]) values ('a')");
    }
    EXPECT_TRUE(file.query("select * from tabelas").empty());
    {
        UpdateFileTransaction t(file);
        file.execute("insert into tabelas ([table]) values ('b')");
        t.commit();
    }
    EXPECT_EQ(file.query("select * from tabelas").size(), 1);
}

class UpdateFileBuilder : public UpdateFileTest {
protected:
    test::ScratchDatabase reference;
};

TEST_F(UpdateFileBuilder, WritesTheReferenceOfEveryTableInServerOrder) {
    ASSERT_TRUE(reference.ok());
    reference.exec({"create table zeta (id int NOT NULL auto_increment, nome varchar(9), "
                    "primary key (id), key ix (nome, id))",
                    "create table alfa (x char(1) NOT NULL default 'a')"});
    tools::BuildOptions options;
    options.codAtu = "000140";
    options.autoText.insert("Zeta.Nome", " after id");
    tools::buildUpdateFile(path("krv.mdb"), reference.db(), options);
    const UpdateFile file = openUpdateFile(path("krv.mdb"));
    EXPECT_EQ(file.query("select CodAtu from numero").first().text(0), "000140");
    const UpdateRows tabelas = file.query("select [table] from tabelas order by rowid");
    ASSERT_EQ(tabelas.size(), 2);
    EXPECT_EQ(tabelas[0].text(0) + "," + tabelas[1].text(0), "alfa,zeta");
    const UpdateRows campos = file.query("select * from campos order by rowid");
    ASSERT_EQ(campos.size(), 3);
    EXPECT_EQ(campos[0].text("default"), "a");
    EXPECT_EQ(campos[1].text("extra"), " auto_increment");
    EXPECT_EQ(campos[1].text("key"), "PRI");
    EXPECT_EQ(campos[1].text("null"), "NO");
    EXPECT_TRUE(campos[2].isNull("default"));
    EXPECT_EQ(campos[2].text("auto"), " after id");
    EXPECT_EQ(campos[1].text("auto"), "");
    const UpdateRows ix = file.query(
        "select column_name, seq_in_index from indices where key_name = 'ix' order by rowid");
    ASSERT_EQ(ix.size(), 2);
    EXPECT_EQ(ix[1].text(0), "id");
    EXPECT_EQ(ix[1].value(1).toInt(), 2);
    for (const QString snapshot : {"d_tabelas", "d_campos", "d_indices"})
        EXPECT_TRUE(file.query("select * from " + snapshot).empty());
}

TEST_F(UpdateFileBuilder, CommandWritesAFileAndRefusesBadArguments) {
    ASSERT_TRUE(reference.ok());
    reference.exec("create table t (a int)");
    const QString tool = KRV_BINARY_DIR "/tools/krv-update-file";
    QProcess p;
    p.start(tool, {"--connect", reference.connectionString(), "--codatu", "000007", "--table", "T",
                   path("out.mdb")});
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    EXPECT_EQ(openUpdateFile(path("out.mdb")).query("select * from campos").size(), 1);

    p.start(tool, {"--connect", reference.connectionString(), "--codatu", "1", "--table", "nao_ha",
                   path("out2.mdb")});
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_NE(p.exitCode(), 0);
    EXPECT_TRUE(QString(p.readAllStandardError()).contains("nao_ha"));
    p.start(tool, {path("out3.mdb")});
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 2);
}

TEST_F(UpdateFileBuilder, CarriesExpressionDefaultsAndRefusesDefaultsItWouldMisread) {
    ASSERT_TRUE(reference.ok());
    reference.exec("create table t (a timestamp NOT NULL default current_timestamp(), "
                   "b date default curdate(), c int default (1 + 2), d longtext default '{}', "
                   "e varchar(9) default '1+2', u int, unique key ux (u))");
    tools::BuildOptions options;
    options.codAtu = "000141";
    tools::buildUpdateFile(path("ok.mdb"), reference.db(), options);
    const UpdateFile file = openUpdateFile(path("ok.mdb"));
    QStringList defaults;
    for (const UpdateRow row : file.query("select [default] from campos order by rowid"))
        defaults << row.text(0);
    EXPECT_EQ(defaults,
              QStringList({"current_timestamp()", "curdate()", "(1 + 2)", "'{}'", "1+2", ""}));
    EXPECT_EQ(file.query("select non_unique from indices where key_name = 'ux'").first().text(0),
              "0");

    // Literal texts that read as expressions, and expressions of a form Zelvor does not take.
    const char* misread[] = {"v varchar(9) default 'now()'", "v varchar(9) default '''x'''",
                             "v bit(1) default b'1'"};
    int n = 0;
    for (const char* column : misread) {
        SCOPED_TRACE(column);
        reference.exec("create table m" + QString::number(n) + " (" + column + ")");
        options.tables = QStringList{"m" + QString::number(n)};
        const QString out = path("bad" + QString::number(n++) + ".mdb");
        try {
            tools::buildUpdateFile(out, reference.db(), options);
            ADD_FAILURE() << "written";
        } catch (const KrvError& e) {
            EXPECT_TRUE(e.description().contains("não pode ser levado")) << e.what();
        }
        EXPECT_FALSE(QFileInfo::exists(out));
    }
}
