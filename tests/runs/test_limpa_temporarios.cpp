#include "common/updatekrv.h"
#include "hook_tap.h"
#include "platform/program.h"
#include "runs/limpa_temporarios.h"
#include "runs/run_session.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

using namespace krv;

namespace {
// Sets or clears the immutable flag; false when the file system or the user cannot.
bool setImmutable(const QString& path, bool on) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    if (fd < 0)
        return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return ok;
}
} // namespace

// An update folder under DirSis, the run end called in-process with the program end
// turned into an exception.
class RunEnd : public ::testing::Test {
protected:
    void SetUp() override {
        runs::session().reset();
        updatekrv::DirSis = root_.path();
        platform::setEndHandler([](int code) { throw platform::ProgramEnded{code}; });
    }
    void TearDown() override {
        platform::setEndHandler({});
        runs::session().reset();
    }
    QString folder() const { return root_.path() + "/update"; }
    void put(const QString& relative, const QByteArray& bytes = "x") {
        const QString path = folder() + "/" + relative;
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    // Runs the end; returns the end code.
    int run() {
        try {
            runs::LimpaTemporarios([this](const QString& text) {
                statuses_ << text;
                folderAtStatus_ = QFileInfo::exists(folder());
            });
        } catch (const platform::ProgramEnded& e) {
            return e.code;
        }
        return -1;
    }
    QTemporaryDir root_;
    QStringList statuses_;
    bool folderAtStatus_ = false;
};

TEST_F(RunEnd, AfterAnUpdateRemovesTheFolderAndReportsSuccess) {
    put("krv.mdb");
    put("mnusis_cs.krv");
    put("Financeiro1.5.2.zip");
    put("LEIAME");
    put(".oculto");
    runs::session().values.Atualizou = true;
    test::HookTap tap;
    EXPECT_EQ(run(), 0);
    EXPECT_FALSE(QFileInfo::exists(folder()));
    EXPECT_TRUE(QFileInfo::exists(root_.path()));
    // The status is shown while the folder is still there to be removed.
    EXPECT_EQ(statuses_, QStringList({"Removendo temporários"}));
    EXPECT_TRUE(folderAtStatus_);
    const auto lines = tap.lines();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0].kind, "msgbox");
    EXPECT_EQ(lines[0].fields.mid(0, 4),
              QStringList({"Aviso!", "information", "OK", "Atualização concluída com sucesso!"}));
    EXPECT_EQ(lines[1].kind, "end");
    EXPECT_EQ(lines[1].fields, QStringList({"0"}));
}

TEST_F(RunEnd, WithoutAnUpdateAndWithoutAFolderReportsThatNothingWasDone) {
    test::HookTap tap;
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(tap.messages(), QStringList({"Nenhuma atualização realizada!"}));
    EXPECT_FALSE(QFileInfo::exists(folder()));

    // Files present but no update applied: still cleaned up, still "nothing done".
    put("krv.mdb");
    test::HookTap again;
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(again.messages(), QStringList({"Nenhuma atualização realizada!"}));
    EXPECT_FALSE(QFileInfo::exists(folder()));
    // Without a status line the routine works the same.
    put("a.zip");
    EXPECT_THROW(runs::LimpaTemporarios(), platform::ProgramEnded);
    EXPECT_FALSE(QFileInfo::exists(folder()));
}

TEST_F(RunEnd, ASubfolderAndAFileInUseKeepNothingFromEnding) {
    put("a.zip");
    put("lote/interno.txt");
    // Another process holding the file open and locked does not keep it on this system.
    QFile held(folder() + "/em_uso.zip");
    ASSERT_TRUE(held.open(QIODevice::WriteOnly));
    ASSERT_EQ(::flock(held.handle(), LOCK_EX), 0);
    runs::session().values.Atualizou = true;
    test::HookTap tap;
    EXPECT_EQ(run(), 0);
    // Only the files directly in the folder go; the subfolder keeps the folder.
    EXPECT_FALSE(QFileInfo::exists(folder() + "/a.zip"));
    EXPECT_FALSE(QFileInfo::exists(folder() + "/em_uso.zip"));
    EXPECT_TRUE(QFileInfo::exists(folder() + "/lote/interno.txt"));
    EXPECT_TRUE(QFileInfo::exists(folder()));
    EXPECT_EQ(tap.messages(), QStringList({"Atualização concluída com sucesso!"}));
}

TEST_F(RunEnd, AFileThatCannotBeDeletedIsLeftAndTheRunStillEnds) {
    put("a.zip");
    put("preso.zip");
    if (!setImmutable(folder() + "/preso.zip", true))
        GTEST_SKIP() << "this file system cannot mark a file undeletable";
    runs::session().values.Atualizou = true;
    test::HookTap tap;
    const int code = run();
    const bool left = QFileInfo::exists(folder() + "/preso.zip");
    setImmutable(folder() + "/preso.zip", false);
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(left);
    EXPECT_FALSE(QFileInfo::exists(folder() + "/a.zip"));
    EXPECT_EQ(tap.messages(), QStringList({"Atualização concluída com sucesso!"}));
}
