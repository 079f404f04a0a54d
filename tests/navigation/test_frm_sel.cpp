#include "build_info.h"
#include "navigation/frm_sel.h"
#include "run_program.h"
#include "suite_install.h"
#include "test_db.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace krv;
using namespace krv::test;

TEST(StartWindowTitle, HasTwoBlanksBeforeTheDashAndNoLeadingZeros) {
    EXPECT_EQ(navigation::frmSel::versionedTitle(1, 5, 12),
              "Assistente de atualização Norvale  - V1.5.12");
    EXPECT_EQ(navigation::frmSel::versionedTitle(1, 31, 0),
              "Assistente de atualização Norvale  - V1.31.0");
}

class StartWindowRun : public ::testing::Test {
protected:
    RunResult start(const QString& script = {}) {
        RunOptions o;
        o.env["XDG_CONFIG_HOME"] = config_.path();
        o.script = script;
        o.timeoutSeconds = 20;
        return runProgram(zelvorBinary(), o);
    }
    // Points DirSis and DirSisExe at the suite folder through the settings store.
    void useSuiteFolder() {
        QDir().mkpath(config_.path() + "/KrvSis");
        QFile f(config_.path() + "/KrvSis/KrvSis.ini");
        f.open(QIODevice::WriteOnly);
        f.write(
            ("[Param]\nDirSis=" + suite_.path() + "\nDirSisExe=" + suite_.path() + "\n").toUtf8());
    }
    QTemporaryDir config_, suite_;
};

const char* kWarning = "Atenção!\r\nAntes de continuar com este processo, certifique-se de ter "
                       "uma cópia de segurança (backup) dos arquivos do sistema.";

TEST_F(StartWindowRun, UnreachableDatabaseWarnsThenFailsAndEndsWithoutTheWindow) {
    useSuiteFolder();
    writeConfigBD(suite_.path(), {"1", "Driver={X};Server=127.0.0.1:1;Database=x;Uid=u;Pwd=p;", "",
                                  "", "", "", "X"});
    const RunResult r = start();
    ASSERT_FALSE(r.timedOut) << r.transcriptText().toStdString();
    EXPECT_EQ(r.messages(),
              QStringList({kWarning, "Não foi possível estabelecer conexão com o servidor!"}))
        << r.transcriptText().toStdString();
    const auto boxes = r.of("msgbox");
    ASSERT_EQ(boxes.size(), 2);
    EXPECT_EQ(boxes[0].fields.mid(0, 3), QStringList({"Aviso!", "information", "OK"}));
    EXPECT_EQ(boxes[1].fields.mid(0, 3), QStringList({"Aviso!", "critical", "OK"}));
    EXPECT_TRUE(r.of("show").isEmpty());
    EXPECT_FALSE(r.crashed);
}

TEST_F(StartWindowRun, NoSettingsMeansConfigIsLookedForInTheProgramFolder) {
    // The build folder holds no Config.BD: the connection fails.
    const RunResult r = start();
    ASSERT_EQ(r.messages().size(), 2) << r.transcriptText().toStdString();
    EXPECT_EQ(r.messages()[1], "Não foi possível estabelecer conexão com o servidor!");
}

TEST(StartWindowSuite, AReachableDatabaseShowsTheVersionedWindow) {
    SuiteInstall suite;
    ASSERT_TRUE(suite.db().ok());
    const RunResult r = suite.runZelvor("close frmSel\n", 20);
    EXPECT_EQ(r.messages(), QStringList({kWarning})) << r.transcriptText().toStdString();
    ASSERT_FALSE(r.of("show").isEmpty());
    EXPECT_EQ(r.of("show").first().fields,
              QStringList({"frmSel", navigation::frmSel::versionedTitle(build::major, build::minor,
                                                                        build::revision)}));
    EXPECT_TRUE(r.output.isEmpty() || !r.output.contains("QSqlDatabase"));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_FALSE(r.timedOut);
}
