// The self-update end to end: the installed zelvor (version 01.31.00 from its own record)
// learns of a newer assistant on the reference server, downloads it, starts movrin and ends;
// movrin replaces the executable and starts the new one, which leaves a marker.
#include "common/release_manifest.h"
#include "make_zip.h"
#include "served_folder.h"
#include "suite_install.h"

#include <QThread>
#include <gtest/gtest.h>

using namespace krv::test;

// Interactive, zelvor starts movrin and ends at once; unattended, movrin takes the process
// over and turns it into the new assistant, so the caller gets the new run's exit status.
// An unattended assistant that was just replaced and is still offered a newer one stops.
TEST(SelfUpdate, ZelvorHandsOverToMovrinWhichStartsTheNewAssistant) {
    struct Case {
        const char* name;
        QStringList args;
        QString replacedWith; // as left by an unattended self-update just done
        int exitCode;
        QString marker; // what the new assistant wrote; empty: it never ran
        QString output; // a line on standard output
    } cases[] = {
        {"interactive", {}, {}, 0, "nova versao: \n", {}},
        {"unattended",
         {"--unattended", "--accept-terms"},
         {},
         7,
         "nova versao: --unattended --accept-terms\n",
         "Aviso!\tA nova versão do assistente de atualização KRV instalada com sucesso!"},
        {"unattended, offered again",
         {"--unattended", "--accept-terms"},
         "01.32.00",
         1,
         {},
         "mas o servidor ainda oferece a versão 01.32.00"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SuiteInstall install;
        ASSERT_TRUE(install.db().ok());
        const QString zelvor = install.folder() + "/zelvor";
        const QString movrin = install.folder() + "/movrin";
        for (const auto& [from, to] :
             {std::pair{zelvorBinary(), zelvor}, {movrinBinary(), movrin}}) {
            ASSERT_TRUE(QFile::copy(from, to));
            QFile::setPermissions(to, QFile::permissions(from));
        }
        const QByteArray oldAssistant = readFile(zelvor);
        QTemporaryDir markerDir;
        const QString marker = markerDir.filePath("started.txt");

        ServedFolder served;
        served.write("usuarios.txt", "ana\tsegredo\n");
        served.write("versoes.txt", "0\tzelvor\t01.32.00\n");
        const QByteArray newAssistant =
            "#!/bin/sh\necho \"nova versao: $*\" > \"$KRV_TEST_MARKER\"\nexit 7\n";
        makeZip(served.path() + "/atualsis/zelvor01.32.00.zip",
                {{"zelvor", newAssistant, 0100755}});

        install.setSetting("atuser", "ana");
        install.setSetting("atpwd", "segredo");
        RunOptions o = install.options(
            c.args.isEmpty() ? "click frmSel.SSCommand1\ntype frmInicio.txtUsuario ana\n"
                               "type frmInicio.txtSenha segredo\n"
                               "click frmInicio.cmdContinua\n"
                             : QString(),
            60);
        o.arguments = c.args;
        o.env["ZELVOR_BASE_URL"] = served.baseUrl();
        o.env["KRV_TEST_MARKER"] = marker;
        o.env["ZELVOR_TEST_MOVRIN_TICK_MS"] = "100";
        if (!c.replacedWith.isEmpty())
            o.env["ZELVOR_REPLACED_WITH"] = c.replacedWith;
        const RunResult r = runProgram(zelvor, o);
        ASSERT_FALSE(r.timedOut) << r.transcriptText().toStdString();
        EXPECT_EQ(r.exitCode, c.exitCode) << r.output.toStdString();
        EXPECT_TRUE(r.output.contains(c.output)) << r.output.toStdString();
        if (c.args.isEmpty()) {
            ASSERT_EQ(r.of("run").size(), 1) << r.transcriptText().toStdString();
            EXPECT_EQ(r.of("run")[0].fields,
                      QStringList({movrin, "-/update/zelvor01.32.00.zip",
                                   krv::manifest::fileSha256(served.path() +
                                                             "/atualsis/zelvor01.32.00.zip")}));
            // Movrin waits for its first tick before it replaces the old executable.
            for (int i = 0; i < 300 && !QFile::exists(marker); ++i)
                QThread::msleep(50);
            QThread::msleep(100);
        }
        EXPECT_EQ(c.marker.isEmpty() ? QString() : readFile(marker), c.marker);
        EXPECT_EQ(readFile(zelvor), c.marker.isEmpty() ? oldAssistant : newAssistant);
        EXPECT_FALSE(QFile::exists(zelvor + ".old"));
    }
}
