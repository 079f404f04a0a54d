// The Internet run window in-process: the work list taken straight from lstAux, files from the
// reference update server on loopback, the program end turned into an exception.
#include "../navigation/served_folder.h"
#include "common/updatekrv.h"
#include "database/frm_atual_krv.h"
#include "hook_tap.h"
#include "make_zip.h"
#include "platform/forms.h"
#include "platform/program.h"
#include "runs/fetch_update_file.h"
#include "runs/frm_proc.h"

#include <QDir>
#include <gtest/gtest.h>

using namespace krv;
using namespace krv::test;
using runs::EntryKind;
using runs::entryKind;

TEST(WorkListEntry, KindIsTheLastThreeCharactersInAnyCase) {
    EXPECT_EQ(entryKind("krvsis01.32.00.zip"), EntryKind::Archive);
    EXPECT_EQ(entryKind("PACOTE.ZIP"), EntryKind::Archive);
    EXPECT_EQ(entryKind("krv.mdb"), EntryKind::Database);
    EXPECT_EQ(entryKind("mnusis_cs.krv"), EntryKind::Menu);
    EXPECT_EQ(entryKind("leiame.txt"), EntryKind::Other);
    EXPECT_EQ(entryKind("semzip"), EntryKind::Archive); // no dot needed: only the tail counts
    EXPECT_EQ(entryKind("ip"), EntryKind::Other);
}

TEST(DownloadOutcome, OnlyACompleteErrorFreeFileOfTheAnnouncedSizeIsWhole) {
    using download::DownloadFailure;
    QTemporaryDir dir;
    const QString path = dir.path() + "/f.zip";
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("12345");
    f.close();
    const DownloadFailure none;
    EXPECT_TRUE(runs::judgeDownload(true, none, 0, 5, path).whole);
    EXPECT_TRUE(runs::judgeDownload(true, none, 0, 0, path).whole); // size not announced
    const auto partial = runs::judgeDownload(true, none, 0, 9, path);
    EXPECT_FALSE(partial.whole);
    EXPECT_TRUE(partial.reason.contains("5 de 9")) << partial.reason.toStdString();
    DownloadFailure notFound;
    notFound.kind = DownloadFailure::Kind::HttpStatus;
    notFound.status = 404;
    const auto refused = runs::judgeDownload(false, notFound, 2, 0, path);
    EXPECT_FALSE(refused.whole);
    EXPECT_TRUE(refused.reason.contains("404"));
    DownloadFailure stopped;
    stopped.kind = DownloadFailure::Kind::Cancelled;
    const auto cancelled = runs::judgeDownload(false, stopped, 4, 5, path);
    EXPECT_FALSE(cancelled.whole);
    EXPECT_TRUE(cancelled.cancelled);
    EXPECT_FALSE(runs::judgeDownload(false, none, 0, 5, path).whole);
    EXPECT_FALSE(runs::judgeDownload(true, none, 0, 0, dir.path() + "/none").whole);
}

class InternetRunWindow : public ::testing::Test {
protected:
    void SetUp() override {
        updatekrv::reset();
        updatekrv::DirSis = root_.path();
        updatekrv::UsuarioAtual = "ana & bia";
        qputenv("ZELVOR_BASE_URL", served_.baseUrl().toUtf8());
        platform::setEndHandler([](int code) { throw platform::ProgramEnded{code}; });
    }
    void TearDown() override {
        platform::setEndHandler({});
        qunsetenv("ZELVOR_BASE_URL");
        updatekrv::reset();
    }
    // Runs Processa over the entries; the program's end code (-1 when it returned).
    int run(const QStringList& entries) {
        w_.lstAux->addItems(entries);
        try {
            w_.Processa();
        } catch (const platform::ProgramEnded& e) {
            return e.code;
        }
        return -1;
    }
    QString logged() const { return QString::fromUtf8(served_.read("logcliente.txt")); }
    // What the server answered and the hook recorded, for failure messages.
    std::string trace(const HookTap& tap) {
        std::string out;
        for (const auto& r : served_.server().requests())
            out += r + "\n";
        for (const auto& l : tap.lines())
            out += (l.kind + " " + l.fields.join(" | ")).toStdString() + "\n";
        return out;
    }

    QTemporaryDir root_;
    ServedFolder served_;
    runs::frmProc w_;
};

TEST_F(InternetRunWindow, LoadsWithTheHiddenArchiveBox) {
    EXPECT_EQ(w_.windowTitle(), "Assistente de atualização KRV - Processamento");
    EXPECT_EQ(w_.txtZip->text(),
              "Esta TextBox é usado internamente pelo AddZip, podendo fica escondida do usuário.");
    EXPECT_TRUE(w_.txtZip->isHidden());
    EXPECT_EQ(w_.findChild<QListWidget*>("lstAux"), w_.lstAux);
}

TEST_F(InternetRunWindow, AnEmptyWorkListCreatesTheFolderAndEndsWithNothingDone) {
    HookTap tap;
    EXPECT_EQ(run({}), 0);
    EXPECT_EQ(tap.messages(), QStringList({"Nenhuma atualização realizada!"}));
    EXPECT_EQ(tap.statuses().value(0), "Criando pasta temporária");
    EXPECT_EQ(served_.server().requests().size(), 0u);
}

TEST_F(InternetRunWindow, EveryEntryIsFetchedLoggedAndArchivesUnpackedWhateverTheirCase) {
    makeZip(served_.path() + "/atualsis/PACOTE.ZIP", {{"sub/modulo.dll", "conteudo"}});
    served_.write("atualsis/leiame.txt", "leia-me");
    QDir().mkpath(root_.path() + "/update"); // an existing folder is reused
    HookTap tap;
    EXPECT_EQ(run({"leiame.txt", "PACOTE.ZIP"}), 0);
    EXPECT_EQ(tap.messages(), QStringList({"Atualização concluída com sucesso!"}));
    EXPECT_TRUE(updatekrv::Atualizou);
    EXPECT_EQ(readFile(root_.path() + "/modulo.dll"), "conteudo");
    const QStringList log = logged().split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(log.size(), 2) << trace(tap);
    EXPECT_EQ(log[0], QDate::currentDate().toString("yyyy-MM-dd") + "\tana & bia\tleiame.txt");
    EXPECT_TRUE(log[1].endsWith("\tPACOTE.ZIP"));
    EXPECT_EQ(tap.statuses(),
              QStringList({"Criando pasta temporária", "Solicitando arquivo", "Solicitando arquivo",
                           "Descompactando arquivo", "Removendo temporários"}));
}

TEST_F(InternetRunWindow, ADamagedArchiveEndsInTheFatalReport) {
    served_.write("atualsis/quebrado.zip", "isto não é um zip");
    HookTap tap;
    EXPECT_EQ(run({"quebrado.zip"}), 1);
    ASSERT_EQ(tap.messages().size(), 1);
    EXPECT_TRUE(tap.messages()[0].contains("Programa: frmProc\r\nRotina: Processa"));
    EXPECT_TRUE(tap.messages()[0].contains("quebrado.zip"));
}

TEST_F(InternetRunWindow, TheDatabaseWindowIsHandedOverWithItsOwnWindowFlags) {
    served_.write("atualsis/krv.mdb", "update file");
    const Qt::WindowFlags own = database::frmAtualKRV().windowFlags();
    EXPECT_EQ(run({"krv.mdb"}), -1);
    database::frmAtualKRV& next = platform::form<database::frmAtualKRV>();
    EXPECT_EQ(next.parentWidget(), &w_);
    EXPECT_EQ(next.windowFlags(), own);
    EXPECT_FALSE(next.windowFlags() &
                 (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    delete &next;
}
