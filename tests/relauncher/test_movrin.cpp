// Movrin run for real: its binary copied into a throwaway suite folder, the settings store
// naming that folder, and an archive holding a new "zelvor" that leaves a marker when started.
#include "run_program.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

using namespace krv::test;

namespace {

// Movrin's tick under test (4 s in the product): every attempt still waits for a tick.
constexpr int kTickMs = 100;

const char* kUnpackFailure = "Ocorreu um erro ao descompactar o arquivo ";
const char* kSuccess = "A nova versão do assistente de atualização KRV instalada com sucesso!\r\n"
                       "O assistente será reiniciado!";

class Movrin : public ::testing::Test {
protected:
    void SetUp() override {
        suite_ = root_.path() + "/krv";
        QDir().mkpath(suite_ + "/update");
        QDir().mkpath(config_.path() + "/KrvSis");
        QSettings s(config_.path() + "/KrvSis/KrvSis.ini", QSettings::IniFormat);
        s.setValue("Param/DirSis", suite_);
        s.sync();
        marker_ = root_.path() + "/started.txt";
    }
    void TearDown() override {
        if (holder_.state() != QProcess::NotRunning) {
            holder_.kill();
            holder_.waitForFinished();
        }
    }

    // An archive in the update folder holding the new assistant (and a stray file).
    QString makeArchive(const QString& name = "zelvor0132.zip") {
        QTemporaryDir staging;
        writeFile(staging.filePath("zelvor"),
                  "#!/bin/sh\necho \"nova versao $#\" > \"$MOVRIN_TEST_MARKER\"\n");
        writeFile(staging.filePath("leiame.txt"), "nova versao\n");
        const QString archive = suite_ + "/update/" + name;
        QProcess zip;
        zip.setWorkingDirectory(staging.path());
        zip.start("zip", {"-q", "-j", archive, "zelvor", "leiame.txt"});
        EXPECT_TRUE(zip.waitForFinished() && zip.exitCode() == 0);
        return archive;
    }
    void writeFile(const QString& path, const QByteArray& bytes) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray readFile(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    // Copies movrin into folder and runs that copy with the given arguments.
    // With pausePoint, the run is killed (signal 9) when it gets there.
    RunResult runMovrin(const QString& folder, const QStringList& arguments,
                        const QString& script = {}, const char* pausePoint = nullptr) {
        QDir().mkpath(folder);
        const QString copy = folder + "/movrin";
        QFile::remove(copy);
        EXPECT_TRUE(QFile::copy(movrinBinary(), copy));
        RunOptions o;
        o.arguments = arguments;
        o.script = script;
        o.env["XDG_CONFIG_HOME"] = config_.path();
        o.env["MOVRIN_TEST_MARKER"] = marker_;
        o.env["ZELVOR_TEST_MOVRIN_TICK_MS"] = QString::number(kTickMs);
        o.timeoutSeconds = 60;
        if (pausePoint) {
            o.env["ZELVOR_TEST_PAUSE"] = pausePoint;
            o.killAtPause = true;
        }
        return runProgram(copy, o);
    }
    // The started assistant runs detached: give it a moment to leave its marker.
    QByteArray waitForMarker() {
        for (int i = 0; i < 100 && !QFile::exists(marker_); ++i)
            QThread::msleep(50);
        QThread::msleep(50);
        return readFile(marker_);
    }

    QStringList temporaries() const {
        return QDir(suite_).entryList({".krv-extract-*"}, QDir::AllEntries | QDir::Hidden);
    }

    QTemporaryDir root_, config_;
    QString suite_, marker_;
    QProcess holder_;
};

TEST_F(Movrin, ReplacesAReleasedAssistantAndStartsTheNewOne) {
    writeFile(suite_ + "/zelvor", "velho");
    makeArchive();
    const RunResult r = runMovrin(suite_, {"-/update/zelvor0132.zip"});
    EXPECT_EQ(r.messages(), QStringList({kSuccess})) << r.transcriptText().toStdString();
    ASSERT_EQ(r.of("show").size(), 1);
    EXPECT_EQ(r.of("show")[0].fields,
              QStringList({"Form1", "Atualizando assistente de atualização KRV"}));
    ASSERT_EQ(r.of("run").size(), 1);
    EXPECT_EQ(r.of("run")[0].fields, QStringList({suite_ + "/zelvor"}));
    EXPECT_EQ(waitForMarker(), "nova versao 0\n");
    EXPECT_TRUE(readFile(suite_ + "/zelvor").startsWith("#!/bin/sh"));
    EXPECT_TRUE(QFile::exists(suite_ + "/leiame.txt"));
    EXPECT_FALSE(QFile::exists(suite_ + "/zelvor.old"));
    EXPECT_EQ(r.exitCode, 0);
}

// The assistant passes the SHA-256 of the archive it checked: the same archive is unpacked, one
// swapped in update/ since is refused and the assistant in place stays.
TEST_F(Movrin, UnpacksOnlyTheArchiveTheAssistantChecked) {
    for (const bool swapped : {false, true}) {
        SCOPED_TRACE(swapped ? "swapped" : "as checked");
        QFile::remove(suite_ + "/zelvor");
        QFile::remove(suite_ + "/update/zelvor0132.zip");
        writeFile(suite_ + "/zelvor", "velho");
        const QString archive = makeArchive();
        const QString checked = QString::fromLatin1(
            QCryptographicHash::hash(readFile(archive), QCryptographicHash::Sha256).toHex());
        if (swapped) {
            QFile::remove(archive);
            makeArchive("zelvor0132.zip.outro");
            QFile::rename(archive + ".outro", archive);
            writeFile(archive, readFile(archive) + "x");
        }
        const RunResult r = runMovrin(suite_, {"-/update/zelvor0132.zip", checked});
        ASSERT_EQ(r.messages().size(), 1) << r.transcriptText().toStdString();
        EXPECT_EQ(r.messages()[0].startsWith(kSuccess), !swapped) << r.messages()[0].toStdString();
        EXPECT_EQ(r.messages()[0].contains("SHA-256 diferente"), swapped);
        EXPECT_EQ(readFile(suite_ + "/zelvor") == "velho", swapped);
        EXPECT_EQ(r.of("run").size(), swapped ? 0 : 1);
    }
}

TEST_F(Movrin, NoFurtherAttemptWhileAnAttemptsMessageIsOpen) {
    writeFile(suite_ + "/zelvor", "velho");
    makeArchive();
    // The success message stays open across several more ticks of the timer.
    const RunResult r =
        runMovrin(suite_, {"-/update/zelvor0132.zip"}, QString("msgbox OK %1\n").arg(10 * kTickMs));
    EXPECT_EQ(r.messages(), QStringList({kSuccess})) << r.transcriptText().toStdString();
    EXPECT_EQ(r.of("run").size(), 1) << r.transcriptText().toStdString();
    EXPECT_EQ(waitForMarker(), "nova versao 0\n");
}

TEST_F(Movrin, WithoutAnOldAssistantGoesStraightToTheExtraction) {
    makeArchive();
    const RunResult r = runMovrin(suite_, {"-/update/zelvor0132.zip"});
    EXPECT_EQ(r.messages(), QStringList({kSuccess})) << r.transcriptText().toStdString();
    EXPECT_EQ(waitForMarker(), "nova versao 0\n");
}

TEST_F(Movrin, GivesUpOnTheSeventhTickWhileTheOldAssistantRuns) {
    // The old assistant is a running program: a copy of sleep started from that path.
    ASSERT_TRUE(QFile::copy("/bin/sleep", suite_ + "/zelvor"));
    const QByteArray old = readFile(suite_ + "/zelvor");
    holder_.start(suite_ + "/zelvor", {"120"});
    ASSERT_TRUE(holder_.waitForStarted());
    makeArchive();
    const RunResult r = runMovrin(suite_, {"-/update/zelvor0132.zip"});
    EXPECT_EQ(r.messages(), QStringList({"Ocorreu um erro ao excluir o arquivo " + suite_ +
                                         "/zelvor\r\nProcesso cancelado!"}))
        << r.transcriptText().toStdString();
    EXPECT_TRUE(r.of("run").isEmpty());
    EXPECT_EQ(readFile(suite_ + "/zelvor"), old);
    EXPECT_FALSE(QFile::exists(marker_));
}

// The one message of an attempt whose archive could not be unpacked.
void expectUnpackFailure(const RunResult& r, const QString& suite) {
    EXPECT_EQ(r.messages(), QStringList({kUnpackFailure + suite +
                                         "/update/zelvor0132.zip\r\nProcesso cancelado!"}))
        << r.transcriptText().toStdString();
}

// A damaged archive leaves the old assistant in place, and puts back one an earlier attempt
// set aside as zelvor.old.
TEST_F(Movrin, ADamagedArchiveKeepsOrPutsBackTheOldAssistant) {
    for (const char* oldName : {"zelvor", "zelvor.old"}) {
        SCOPED_TRACE(oldName);
        QFile::remove(suite_ + "/zelvor");
        QFile::remove(suite_ + "/zelvor.old");
        writeFile(suite_ + "/" + oldName, "velho");
        writeFile(suite_ + "/update/zelvor0132.zip", "PK\x03\x04 isto nao e um zip");
        const RunResult r = runMovrin(suite_, {"-/update/zelvor0132.zip"});
        expectUnpackFailure(r, suite_);
        EXPECT_EQ(readFile(suite_ + "/zelvor"), "velho");
        EXPECT_FALSE(QFile::exists(suite_ + "/zelvor.old"));
        EXPECT_FALSE(r.crashed);
    }
}

TEST_F(Movrin, PlacedOutsideTheSuiteFolderUnpacksBesideItselfAndFails) {
    writeFile(suite_ + "/zelvor", "velho");
    makeArchive();
    const QString elsewhere = root_.path() + "/outra";
    const RunResult r = runMovrin(elsewhere, {"-/update/zelvor0132.zip"});
    expectUnpackFailure(r, suite_);
    EXPECT_TRUE(QFile::exists(elsewhere + "/zelvor"));
    EXPECT_EQ(readFile(suite_ + "/zelvor"), "velho");
}

// Movrin killed at each point of its swap: the suite keeps a startable assistant, and the
// next Movrin finishes the work and leaves no temporary behind.
struct SwapPoint {
    const char* point;
    bool newAssistant;    // the new assistant is in place when it is killed
    bool leftTemporaries; // the killed run left temporaries of its extraction
};

class MovrinKilled : public Movrin, public ::testing::WithParamInterface<SwapPoint> {};

TEST_P(MovrinKilled, LeavesAStartableAssistantAndTheNextRunFinishes) {
    const QByteArray old = "#!/bin/sh\necho velho > \"$MOVRIN_TEST_MARKER\"\n";
    writeFile(suite_ + "/zelvor", old);
    ASSERT_TRUE(QFile::setPermissions(suite_ + "/zelvor", QFile::permissions(suite_ + "/zelvor") |
                                                              QFile::ExeOwner | QFile::ExeGroup |
                                                              QFile::ExeOther));
    makeArchive();
    const RunResult killed = runMovrin(suite_, {"-/update/zelvor0132.zip"}, {}, GetParam().point);
    ASSERT_TRUE(killed.killed) << killed.transcriptText().toStdString();
    const QFileInfo assistant(suite_ + "/zelvor");
    EXPECT_TRUE(assistant.isFile() && assistant.isExecutable());
    EXPECT_EQ(readFile(suite_ + "/zelvor").startsWith("#!/bin/sh\necho \"nova"),
              GetParam().newAssistant);
    EXPECT_FALSE(QFile::exists(suite_ + "/zelvor.old"));
    EXPECT_EQ(!temporaries().isEmpty(), GetParam().leftTemporaries);

    const RunResult r = runMovrin(suite_, {"-/update/zelvor0132.zip"});
    EXPECT_EQ(r.messages(), QStringList({kSuccess})) << r.transcriptText().toStdString();
    EXPECT_EQ(waitForMarker(), "nova versao 0\n");
    EXPECT_TRUE(temporaries().isEmpty()) << temporaries().join(' ').toStdString();
}

INSTANTIATE_TEST_SUITE_P(Swap, MovrinKilled,
                         ::testing::Values(SwapPoint{"movrin-checked", false, false},
                                           SwapPoint{"extract-staged", false, true},
                                           SwapPoint{"extract-renaming", true, true},
                                           SwapPoint{"movrin-unpacked", true, false}),
                         [](const auto& info) {
                             QString name = info.param.point;
                             return name.remove('-').toStdString();
                         });

TEST_F(Movrin, WithoutAnArgumentTheArchiveIsTheSuiteFolderItself) {
    writeFile(suite_ + "/zelvor", "velho");
    const RunResult r = runMovrin(suite_, {});
    EXPECT_EQ(r.messages(), QStringList({kUnpackFailure + suite_ + "\r\nProcesso cancelado!"}))
        << r.transcriptText().toStdString();
    EXPECT_EQ(readFile(suite_ + "/zelvor"), "velho");
}

} // namespace
