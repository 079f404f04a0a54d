// The folder chooser: which folders count as holding update files, finding a folder, and
// the refusal of a folder without them.
#include "common/updatekrv.h"
#include "hook_tap.h"
#include "navigation/frm_dir.h"
#include "runs/run_session.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace krv;
using krv::navigation::frmDir;

namespace {

void touch(const QString& path) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
}

QStringList items(const QListWidget* l) {
    QStringList t;
    for (int i = 0; i < l->count(); ++i)
        t << l->item(i)->text();
    return t;
}

} // namespace

TEST(FolderAcceptance, OnlyFilesDirectlyInTheFolderCount) {
    QTemporaryDir d;
    const QString p = d.path();
    EXPECT_FALSE(frmDir::holdsUpdateFiles(p));
    touch(p + "/sub/krvsis1.zip");
    touch(p + "/.escondido.zip");
    touch(p + "/.krv.mdb");
    touch(p + "/leia.txt");
    QDir().mkpath(p + "/pasta.zip");
    EXPECT_FALSE(frmDir::holdsUpdateFiles(p));
    touch(p + "/krv.mdb");
    EXPECT_TRUE(frmDir::holdsUpdateFiles(p));

    // One update file is enough, its name in any case (media prepared on Windows).
    for (const char* name : {"mcaixa1.zip", "KRVSIS1.ZIP", "KRV.MDB", "Krv.Mdb"}) {
        QTemporaryDir one;
        touch(one.path() + "/" + name);
        EXPECT_TRUE(frmDir::holdsUpdateFiles(one.path())) << name;
    }
}

TEST(FolderAcceptance, DrivesStartAtTheRoot) {
    QStringList drives = frmDir::drives();
    ASSERT_FALSE(drives.isEmpty());
    EXPECT_EQ(drives.first(), "/");
    EXPECT_EQ(drives.removeDuplicates(), 0);
}

class FolderChooser : public ::testing::Test {
protected:
    void SetUp() override {
        runs::session().reset();
        runs::session().values.DirOrigem = "stale";
        w = new frmDir;
        w->show();
    }
    void TearDown() override { delete w; }
    frmDir* w = nullptr;
    QTemporaryDir d;
};

TEST_F(FolderChooser, LoadClearsTheSourceAndTheListShowsVisibleSubFolders) {
    EXPECT_TRUE(runs::session().values.DirOrigem.isEmpty());
    QDir().mkpath(d.path() + "/beta");
    QDir().mkpath(d.path() + "/Alfa");
    QDir().mkpath(d.path() + "/.oculta");
    touch(d.path() + "/arquivo.zip");
    ASSERT_TRUE(w->Dir1->setPath(d.path() + "/"));
    EXPECT_EQ(w->Dir1->path(), d.path());
    EXPECT_EQ(w->txtDir->text(), d.path());
    const QStringList shown = items(w->Dir1);
    EXPECT_EQ(shown.first(), "/");
    EXPECT_EQ(shown.mid(shown.size() - 3),
              QStringList({QFileInfo(d.path()).fileName(), "Alfa", "beta"}));
    EXPECT_EQ(w->Drive1->currentText(), "/");
}

TEST_F(FolderChooser, ActivatingAnItemOrTypingAPathOpensThatFolder) {
    QDir().mkpath(d.path() + "/um/dois");
    w->Dir1->setPath(d.path());
    auto* um = w->Dir1->findItems("um", Qt::MatchExactly).value(0);
    ASSERT_NE(um, nullptr);
    emit w->Dir1->itemActivated(um);
    EXPECT_EQ(w->Dir1->path(), d.path() + "/um");
    EXPECT_EQ(items(w->Dir1).last(), "dois");

    // Activating an ancestor goes back up.
    auto* top = w->Dir1->findItems(QFileInfo(d.path()).fileName(), Qt::MatchExactly).value(0);
    ASSERT_NE(top, nullptr);
    emit w->Dir1->itemActivated(top);
    EXPECT_EQ(w->Dir1->path(), d.path());

    w->txtDir->setText(d.path() + "/um/do");
    emit w->txtDir->textEdited(w->txtDir->text());
    EXPECT_EQ(w->Dir1->path(), d.path()); // not a folder: nothing changes
    w->txtDir->setText(d.path() + "/um/dois");
    emit w->txtDir->textEdited(w->txtDir->text());
    EXPECT_EQ(w->Dir1->path(), d.path() + "/um/dois");
    EXPECT_FALSE(w->Dir1->setPath(d.path() + "/nada"));
    EXPECT_EQ(w->Dir1->path(), d.path() + "/um/dois");
}

TEST_F(FolderChooser, AFolderWithoutUpdateFilesIsRefusedAndTheChooserStays) {
    touch(d.path() + "/sub/krvsis1.zip");
    w->Dir1->setPath(d.path());
    test::HookTap tap;
    w->cmdOK->click();
    QList<test::TranscriptLine> boxes;
    for (const auto& l : tap.lines())
        if (l.kind == "msgbox")
            boxes << l;
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_EQ(
        boxes[0].fields,
        QStringList({"Aviso!", "information", "OK",
                     "Arquivos de atualização não encontrados no diretório informado!", "OK"}));
    EXPECT_TRUE(w->isVisible());
    EXPECT_TRUE(runs::session().values.DirOrigem.isEmpty());
}

TEST_F(FolderChooser, ADriveThatCannotBeReadIsReportedAndNothingChanges) {
    w->Dir1->setPath(d.path());
    w->Drive1->addItem(d.path() + "/desmontado");
    w->Drive1->setCurrentIndex(w->Drive1->count() - 1);
    test::HookTap tap;
    emit w->Drive1->activated(w->Drive1->currentIndex());
    EXPECT_EQ(tap.messages(),
              QStringList({"A unidade " + d.path() + "/desmontado não está disponível."}));
    EXPECT_EQ(w->Dir1->path(), d.path());
    EXPECT_EQ(w->Drive1->currentText(), "/");

    w->Drive1->setCurrentIndex(0);
    emit w->Drive1->activated(0);
    EXPECT_EQ(w->Dir1->path(), "/");
    EXPECT_TRUE(w->isVisible());
}
