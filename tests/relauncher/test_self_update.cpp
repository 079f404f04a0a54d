// The self-update end to end: the installed zelvor (version 01.31.00 from its own record)
// learns of a newer assistant on the reference server, downloads it, starts movrin and ends;
// movrin replaces the executable and starts the new one, which leaves a marker.
#include "../navigation/served_folder.h"
#include "../runs/make_zip.h"
#include "suite_install.h"

#include <QThread>
#include <gtest/gtest.h>

using namespace krv::test;

TEST(SelfUpdate, ZelvorHandsOverToMovrinWhichStartsTheNewAssistant) {
    SuiteInstall install;
    ASSERT_TRUE(install.db().ok());
    const QString zelvor = install.folder() + "/zelvor";
    const QString movrin = install.folder() + "/movrin";
    for (const auto& [from, to] : {std::pair{zelvorBinary(), zelvor}, {movrinBinary(), movrin}}) {
        ASSERT_TRUE(QFile::copy(from, to));
        QFile::setPermissions(to, QFile::permissions(from));
    }
    QTemporaryDir markerDir;
    const QString marker = markerDir.filePath("started.txt");

    ServedFolder served;
    served.write("usuarios.txt", "ana\tsegredo\n");
    served.write("versoes.txt", "0\tzelvor\t01.32.00\n");
    const QByteArray newAssistant = "#!/bin/sh\necho \"nova versao $#\" > \"$KRV_TEST_MARKER\"\n";
    makeZip(served.path() + "/atualsis/zelvor01.32.00.zip", {{"zelvor", newAssistant, 0100755}});

    RunOptions o = install.options("click frmSel.SSCommand1\ntype frmInicio.txtUsuario ana\n"
                                   "type frmInicio.txtSenha segredo\n"
                                   "click frmInicio.cmdContinua\n",
                                   60);
    o.env["ZELVOR_BASE_URL"] = served.baseUrl();
    o.env["KRV_TEST_MARKER"] = marker;
    const RunResult r = runProgram(zelvor, o);
    ASSERT_FALSE(r.timedOut) << r.transcriptText().toStdString();
    ASSERT_EQ(r.of("run").size(), 1) << r.transcriptText().toStdString();
    EXPECT_EQ(r.of("run")[0].fields, QStringList({movrin, "-/update/zelvor01.32.00.zip"}));
    EXPECT_EQ(r.exitCode, 0);

    // Movrin waits for its first tick (4 s) before it replaces the old executable.
    for (int i = 0; i < 300 && !QFile::exists(marker); ++i)
        QThread::msleep(50);
    QThread::msleep(100);
    EXPECT_EQ(readFile(marker), "nova versao 0\n");
    EXPECT_EQ(readFile(zelvor), newAssistant);
    EXPECT_FALSE(QFile::exists(zelvor + ".old"));
}
