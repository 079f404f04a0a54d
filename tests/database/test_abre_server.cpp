#include "common/updatekrv.h"
#include "database/abre_server.h"
#include "database/connection.h"
#include "test_db.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace krv;
using namespace krv::database;
using krv::test::writeConfigBD;

namespace {
QByteArray readAll(const QString& path) {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}
} // namespace

TEST(ConfigFile, SevenLinesWithBlanksAroundTheTypeAndAnyLineEnds) {
    QTemporaryDir d;
    QFile f(d.path() + "/Config.BD");
    f.open(QIODevice::WriteOnly);
    f.write(" 1 \nDriver={X};Server=h;\nh\nu\np\ndb\nX\nextra\nmore\n");
    f.close();
    const auto c = readConfigBD(d.path());
    ASSERT_TRUE(c);
    EXPECT_EQ(c->provider, 1);
    EXPECT_EQ(c->connection, "Driver={X};Server=h;");
    EXPECT_EQ(c->driver, "X");
}

TEST(ConfigFile, ShortMissingOrNonNumericFilesAreRefused) {
    QTemporaryDir d;
    EXPECT_FALSE(readConfigBD(d.path()));
    writeConfigBD(d.path(), {"1", "a", "b", "c", "d", "e"});
    EXPECT_FALSE(readConfigBD(d.path()));
    writeConfigBD(d.path(), {"um", "a", "b", "c", "d", "e", "f"});
    EXPECT_FALSE(readConfigBD(d.path()));
    writeConfigBD(d.path(), {"40000", "a", "b", "c", "d", "e", "f"});
    EXPECT_FALSE(readConfigBD(d.path()));
}

class OpenServer : public ::testing::Test {
protected:
    void SetUp() override {
        updatekrv::reset();
        Conexao().close();
        updatekrv::DirSisExe = exeDir_.path();
        updatekrv::DirSis = suiteDir_.path();
    }
    void TearDown() override { Conexao().close(); }
    QStringList suiteLines() const {
        return {"1",
                "nao usada",
                test::DbServer::host() + ":" + QString::number(test::DbServer::port()),
                "krv",
                "krv",
                db_.name(),
                "nao usado"};
    }
    test::ScratchDatabase db_;
    QTemporaryDir exeDir_, suiteDir_;
};

TEST_F(OpenServer, AGoodPrimaryStringOpensTheConnection) {
    writeConfigBD(exeDir_.path(), {"1", db_.connectionString(), "", "", "", "", "MariaDB"});
    EXPECT_EQ(AbreServer(), 0);
    EXPECT_TRUE(Conexao().isOpen());
}

TEST_F(OpenServer, AFailingPrimaryIsRepairedFromTheSuitesFileByteForByte) {
    writeConfigBD(exeDir_.path(), {" 1 ", "Driver={X};Server=127.0.0.1:1;Database=x;Uid=a;Pwd=b;",
                                   "", "", "", "", "MySQL ODBC 3.51 Driver"});
    writeConfigBD(suiteDir_.path(), suiteLines());
    EXPECT_EQ(AbreServer(), 0);
    EXPECT_TRUE(Conexao().isOpen());
    const QString server = test::DbServer::host() + ":" + QString::number(test::DbServer::port());
    const QString odbc = "Driver={MySQL ODBC 3.51 Driver};Server=" + server +
                         ";Database=" + db_.name() + ";Uid=krv;Pwd=krv;Option=3;";
    EXPECT_EQ(readAll(exeDir_.path() + "/Config.BD"),
              (" 1 \r\n" + odbc + "\r\n" + server + "\r\nkrv\r\nkrv\r\n" + db_.name() +
               "\r\nMySQL ODBC 3.51 Driver\r\n")
                  .toUtf8());
    // The repaired file opens directly next time.
    Conexao().close();
    updatekrv::DirSis = updatekrv::DirSisExe;
    EXPECT_EQ(AbreServer(), 0);
}

TEST_F(OpenServer, NothingToRepairFromWhenBothFoldersAreTheSame) {
    writeConfigBD(exeDir_.path(), {"1", "Driver={X};Server=127.0.0.1:1;", "", "", "", "", "X"});
    const QByteArray before = readAll(exeDir_.path() + "/Config.BD");
    updatekrv::DirSis = updatekrv::DirSisExe;
    EXPECT_EQ(AbreServer(), 1);
    EXPECT_EQ(readAll(exeDir_.path() + "/Config.BD"), before);
}

TEST_F(OpenServer, AFailingRepairLeavesZelvorsFileAsItWas) {
    writeConfigBD(exeDir_.path(), {"1", "Driver={X};Server=127.0.0.1:1;", "", "", "", "", "X"});
    const QByteArray before = readAll(exeDir_.path() + "/Config.BD");
    writeConfigBD(suiteDir_.path(), {"1", "x", "127.0.0.1:1", "u", "p", "d", "X"});
    EXPECT_EQ(AbreServer(), 1);
    writeConfigBD(suiteDir_.path(), {"1", "x", "short"});
    EXPECT_EQ(AbreServer(), 1);
    EXPECT_EQ(readAll(exeDir_.path() + "/Config.BD"), before);
}

TEST_F(OpenServer, AccessFilesGoToTheRepairPath) {
    writeConfigBD(exeDir_.path(), {"0", "/dados/krv.mdb", "", "", "", "", "MariaDB"});
    writeConfigBD(suiteDir_.path(), suiteLines());
    EXPECT_EQ(AbreServer(), 0);
    EXPECT_TRUE(readAll(exeDir_.path() + "/Config.BD").startsWith(" 0 \r\nDriver={MariaDB};"));
}

TEST_F(OpenServer, AnUnknownProviderSucceedsWithoutAConnection) {
    writeConfigBD(exeDir_.path(), {"3", "x", "", "", "", "", ""});
    EXPECT_EQ(AbreServer(), 0);
    EXPECT_FALSE(Conexao().isOpen());
    EXPECT_THROW(Conexao().Execute("select 1"), KrvError);
}
