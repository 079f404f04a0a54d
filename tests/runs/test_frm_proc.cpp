// The Internet run window in-process: the session's work list shown in lstAux, files from the
// reference update server on loopback, the program end turned into an exception.
#include "common/updatekrv.h"
#include "download/frm_download.h"
#include "hook_tap.h"
#include "make_zip.h"
#include "platform/forms.h"
#include "platform/program.h"
#include "platform/transfer.h"
#include "raw_http_server.h"
#include "runs/fetch_update_file.h"
#include "runs/frm_atual_krv.h"
#include "runs/frm_proc.h"
#include "runs/run_session.h"
#include "served_folder.h"
#include "session_recorder.h"

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QTimer>
#include <gtest/gtest.h>

using namespace krv;
using namespace krv::test;
using runs::EntryKind;
using runs::entryKind;

namespace {
void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}
} // namespace

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
        runs::session().reset();
        updatekrv::DirSis = root_.path();
        runs::session().values.UsuarioAtual = "ana & bia";
        qputenv("ZELVOR_BASE_URL", served_.baseUrl().toUtf8());
        platform::setEndHandler([](int code) { throw platform::ProgramEnded{code}; });
    }
    void TearDown() override {
        platform::setEndHandler({});
        qunsetenv("ZELVOR_BASE_URL");
        runs::session().reset();
    }
    // Runs Processa over the entries; the program's end code (-1 when it returned).
    int run(const QStringList& entries) {
        for (const QString& entry : entries) {
            runs::WorkItem item;
            item.file = entry;
            runs::session().work.items << item;
        }
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
    runs::WorkItem held;                     // shown as held back, never fetched
    held.file = "krvsis01.32.00.zip";
    runs::session().work.held << held;
    HookTap tap;
    EXPECT_EQ(run({"leiame.txt", "PACOTE.ZIP"}), 0);
    ASSERT_EQ(w_.lstAux->count(), 3);
    EXPECT_EQ(w_.lstAux->item(2)->text(), "krvsis01.32.00.zip (retida)");
    EXPECT_EQ(tap.messages(), QStringList({"Atualização concluída com sucesso!"}));
    EXPECT_TRUE(runs::session().values.Atualizou);
    EXPECT_EQ(readFile(root_.path() + "/modulo.dll"), "conteudo");
    const QStringList log = logged().split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(log.size(), 2) << trace(tap);
    EXPECT_EQ(log[0], QDate::currentDate().toString("yyyy-MM-dd") + "\tana & bia\tleiame.txt");
    EXPECT_TRUE(log[1].endsWith("\tPACOTE.ZIP"));
    EXPECT_EQ(tap.statuses(),
              QStringList({"Criando pasta temporária", "Solicitando arquivo", "Solicitando arquivo",
                           "Descompactando arquivo", "Removendo temporários"}));
}

// The same run as the session alone: no window shown, every report told to the observer.
TEST_F(InternetRunWindow, TheSessionRunsTheWorkListWithoutAWindow) {
    makeZip(served_.path() + "/atualsis/PACOTE.ZIP", {{"sub/modulo.dll", "conteudo"}});
    served_.write("atualsis/leiame.txt", "leia-me");
    struct Case {
        const char* name;
        QStringList entries;
        std::optional<runs::RunSession::Next> next;
        runs::Outcome outcome;
        int errorNumber;
    } cases[] = {
        {"two files",
         {"leiame.txt", "PACOTE.ZIP"},
         runs::RunSession::Next::End,
         runs::Outcome::Updated,
         0},
        {"a file the server lacks",
         {"falta.zip"},
         std::nullopt,
         runs::Outcome::Failed,
         err::Download},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        runs::RunSession& run = runs::session();
        run.reset();
        updatekrv::DirSis = root_.path();
        run.values.UsuarioAtual = "ana";
        for (const QString& entry : c.entries) {
            runs::WorkItem item;
            item.file = entry;
            run.work.items << item;
        }
        SessionRecorder seen;
        run.observe(&seen);
        HookTap tap;
        const auto next = run.fetch();
        EXPECT_EQ(next, c.next);
        if (next == runs::RunSession::Next::End)
            run.finish();
        run.observe(nullptr);
        ASSERT_TRUE(seen.end.has_value());
        EXPECT_EQ(seen.end->outcome, c.outcome);
        EXPECT_EQ(seen.end->errorNumber, c.errorNumber);
        for (const auto& l : tap.lines())
            EXPECT_NE(l.kind, "show") << trace(tap);
        EXPECT_TRUE(tap.messages().isEmpty()) << trace(tap); // no box: the observer was told
        if (c.outcome == runs::Outcome::Updated) {
            EXPECT_EQ(
                seen.statuses,
                QStringList({"frmProc: Criando pasta temporária", "frmProc: Solicitando arquivo",
                             "frmProc: Solicitando arquivo", "frmProc: Descompactando arquivo",
                             "frmProc: Removendo temporários"}));
            EXPECT_EQ(seen.messages, QStringList({"Aviso!: Atualização concluída com sucesso!"}));
            EXPECT_EQ(readFile(root_.path() + "/modulo.dll"), "conteudo");
            EXPECT_FALSE(QFileInfo::exists(root_.path() + "/update"));
        } else {
            EXPECT_EQ(seen.end->report, runs::RunEnd::Report::Fatal);
            EXPECT_EQ(seen.end->caller, "Programa: frmProc\r\nRotina: Processa");
            EXPECT_TRUE(seen.end->errorText.contains("falta.zip"))
                << seen.end->errorText.toStdString();
            EXPECT_EQ(run.lastMessage().left(8), "ATENÇÃO!");
        }
    }
}

TEST_F(InternetRunWindow, ADamagedArchiveEndsInTheFatalReport) {
    // 2 MiB that turn out not to be an update file: refused, and not left behind.
    served_.write("atualsis/quebrado.zip", QByteArray(2 * 1024 * 1024, 'x'));
    HookTap tap;
    EXPECT_EQ(run({"quebrado.zip"}), 1);
    ASSERT_EQ(tap.messages().size(), 1);
    EXPECT_TRUE(tap.messages()[0].contains("Programa: frmProc\r\nRotina: Processa"));
    EXPECT_TRUE(tap.messages()[0].contains("quebrado.zip"));
    EXPECT_FALSE(QFileInfo::exists(root_.path() + "/update/quebrado.zip"));
}

TEST_F(InternetRunWindow, TheDatabaseWindowIsHandedOverWithItsOwnWindowFlags) {
    served_.write("atualsis/krv.mdb", "update file");
    const Qt::WindowFlags own = runs::frmAtualKRV().windowFlags();
    EXPECT_EQ(run({"krv.mdb"}), -1);
    runs::frmAtualKRV& next = platform::form<runs::frmAtualKRV>();
    EXPECT_EQ(next.parentWidget(), &w_);
    EXPECT_EQ(next.windowFlags(), own);
    EXPECT_FALSE(next.windowFlags() &
                 (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    delete &next;
}

// A part left by a download cut off part-way, fetched again on the next run.
class PartialDownloads : public ::testing::Test {
protected:
    void SetUp() override { QDir().mkpath(dir_.path() + "/update"); }

    void serve(const std::string& etag, std::int64_t dropAfter = -1) {
        RawResponse r;
        r.patternSize = kSize;
        r.honourRange = true;
        r.dropAfter = dropAfter;
        r.headers = {{"ETag", etag}};
        server_.serve("/atualsis/krv.mdb", r);
    }
    QString target() const { return dir_.path() + "/update/krv.mdb"; }
    runs::FetchOutcome fetch() {
        return runs::fetchUpdateFile(nullptr, "Baixando atualização...",
                                     QString::fromStdString(server_.url("/atualsis/krv.mdb")),
                                     target());
    }
    // The range requests among the requests from the first-th on.
    std::vector<RawRequest> ranges(std::size_t first) const {
        std::vector<RawRequest> out;
        const auto all = server_.requests();
        for (std::size_t i = first; i < all.size(); ++i)
            if (!all[i].header("Range").empty())
                out.push_back(all[i]);
        return out;
    }

    static constexpr std::int64_t kSize = 20000;
    RawHttpServer server_;
    QTemporaryDir dir_;
};

TEST_F(PartialDownloads, TheNextFetchGoesOnFromThePartOnlyWhenItIsOfTheSameFile) {
    struct Case {
        const char* name;
        std::string etagNow;
        bool recordLost;
        bool resumes;
    };
    const QList<Case> cases = {
        {"same file", "\"v1\"", false, true},
        {"file changed on the server", "\"v2\"", false, false},
        {"record missing", "\"v1\"", true, false},
    };
    for (const Case& c : cases) {
        serve("\"v1\"", kSize / 2);
        const runs::FetchOutcome cut = fetch();
        EXPECT_FALSE(cut.whole) << c.name;
        EXPECT_TRUE(cut.reason.contains("antes do fim")) << cut.reason.toStdString();
        EXPECT_FALSE(QFileInfo::exists(target())) << c.name; // never taken for the file
        EXPECT_EQ(QFileInfo(runs::partFile(target())).size(), kSize / 2) << c.name;
        ASSERT_TRUE(QFileInfo::exists(runs::partRecord(target()))) << c.name;
        if (c.recordLost)
            QFile::remove(runs::partRecord(target()));

        serve(c.etagNow);
        const std::size_t before = server_.requests().size();
        const runs::FetchOutcome again = fetch();
        EXPECT_TRUE(again.whole) << c.name << ": " << again.reason.toStdString();
        // A resume counts only the rest it fetched.
        EXPECT_EQ(again.received, c.resumes ? kSize / 2 : kSize) << c.name;
        EXPECT_EQ(readFile(target()), QByteArray::fromStdString(RawHttpServer::pattern(0, kSize)))
            << c.name;
        EXPECT_FALSE(QFileInfo::exists(runs::partFile(target()))) << c.name;
        EXPECT_FALSE(QFileInfo::exists(runs::partRecord(target()))) << c.name;
        const auto asked = ranges(before);
        ASSERT_EQ(asked.size(), c.resumes ? 1u : 0u) << c.name;
        if (c.resumes) {
            EXPECT_EQ(asked[0].header("Range"), "bytes=10000-");
            EXPECT_EQ(asked[0].header("If-Range"), "\"v1\"");
        }
        QFile::remove(target());
    }
}

// The release's manifest lists each file's size: an answer announcing another is refused
// before its body is read, so an endless body writes nothing into the update folder.
// An unattended run's fetch is the engine alone: not one widget exists while it runs. The
// same watch sees the progress window of a fetch that has one.
TEST_F(PartialDownloads, AQuietFetchMakesNoWidgetAndTheWindowedOneItsWindow) {
    RawResponse r;
    r.patternSize = kSize;
    r.dripMs = 10; // the body takes a while: the watch gets its turns during the fetch
    server_.serve("/atualsis/krv.mdb", r);
    const QString url = QString::fromStdString(server_.url("/atualsis/krv.mdb"));
    for (const bool quiet : {true, false}) {
        SCOPED_TRACE(quiet ? "quiet" : "windowed");
        const qsizetype before = QApplication::allWidgets().size();
        qsizetype most = before;
        int turns = 0;
        QTimer watch;
        watch.setInterval(5);
        QObject::connect(&watch, &QTimer::timeout, [&] {
            ++turns;
            most = std::max(most, QApplication::allWidgets().size());
        });
        watch.start();
        const runs::FetchOutcome f =
            quiet ? runs::fetchQuietly(url, target())
                  : runs::fetchUpdateFile(nullptr, "Baixando atualização...", url, target());
        EXPECT_TRUE(f.whole) << f.reason.toStdString();
        EXPECT_GT(turns, 0);
        if (quiet)
            EXPECT_EQ(most, before);
        else
            EXPECT_GT(most, before);
        QFile::remove(target());
    }
}

TEST_F(PartialDownloads, AnAnswerAnnouncingAnotherSizeThanListedIsRefusedUnread) {
    const struct {
        const char* name;
        std::int64_t announced;
        bool whole;
    } cases[] = {
        {"two thousand million bytes of an endless body", 2000000000, false},
        {"one byte more than listed", kSize + 1, false},
        {"one byte less than listed", kSize - 1, false},
        {"the listed size", kSize, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RawResponse r;
        r.patternSize = c.announced;
        server_.serve("/atualsis/krv.mdb", r);
        const runs::FetchOutcome got = runs::fetchUpdateFile(
            nullptr, "Baixando atualização...",
            QString::fromStdString(server_.url("/atualsis/krv.mdb")), target(), kSize);
        EXPECT_EQ(got.whole, c.whole) << got.reason.toStdString();
        if (!c.whole) {
            EXPECT_TRUE(got.reason.contains(QString("lista %1").arg(kSize)))
                << got.reason.toStdString();
            EXPECT_TRUE(QDir(dir_.path() + "/update").entryList(QDir::Files).isEmpty());
        }
        QFile::remove(target());
    }
}

TEST_F(PartialDownloads, LeftoversOfEndedRunsAreRemovedButThePartsToResume) {
    // A process that has ended, and one that still runs.
    QProcess ended;
    ended.start("true");
    ASSERT_TRUE(ended.waitForStarted());
    const qint64 deadPid = ended.processId();
    ASSERT_TRUE(ended.waitForFinished());
    QProcess running;
    running.start("sleep", {"30"});
    ASSERT_TRUE(running.waitForStarted());
    const QString folder = dir_.path() + "/update";
    auto part = [&](const QString& name, qint64 pid, bool record = true) {
        writeBytes(folder + "/" + name + ".part", "parte");
        if (record)
            writeBytes(folder + "/" + name + ".part.info",
                       "url=http://h/atualsis/" + name.toUtf8() +
                           "\nsize=10\netag=\"v1\"\nlast-modified=\npid=" +
                           QByteArray::number(pid) + "\n");
    };
    part("velho.zip", deadPid);
    part("krv.mdb", deadPid);                // on the work list: may be resumed
    part("outro.zip", running.processId());  // another run still writes it
    part("semregistro.zip", deadPid, false); // no record: nothing to resume from
    writeBytes(folder + "/orfao.zip.part.info",
               "url=x\nsize=1\npid=" + QByteArray::number(deadPid) + "\n");
    writeBytes(folder + "/krvsis01.32.00.zip", "um arquivo inteiro");

    runs::removeLeftoverParts(folder, {"krv.mdb", "semregistro.zip"});
    running.kill();
    running.waitForFinished();
    QStringList left = QDir(folder).entryList(QDir::Files);
    left.sort();
    EXPECT_EQ(left, QStringList({"krv.mdb.part", "krv.mdb.part.info", "krvsis01.32.00.zip",
                                 "outro.zip.part", "outro.zip.part.info"}));
}

TEST_F(InternetRunWindow, ClosingDuringADownloadAsksAndYesStopsTheUpdate) {
    // The server drips the file, so the close comes while it downloads.
    RawHttpServer slow;
    RawResponse drip;
    drip.patternSize = 64 * 1024;
    drip.dripMs = 20;
    slow.serve("/atualsis/krv.mdb", drip);
    // Incompressible, so that the archive too takes a while to come.
    QByteArray module(64 * 1024, '\0');
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(module.data()), module.size() / 4);
    makeZip(root_.path() + "/pacote.zip", {{"modulo.dll", module}});
    RawResponse zip;
    zip.body = readFile(root_.path() + "/pacote.zip").toStdString();
    zip.dripMs = 20;
    slow.serve("/atualsis/pacote.zip", zip);
    qputenv("ZELVOR_BASE_URL", QByteArray::fromStdString(slow.url("/")));

    const QString question = "Deseja interromper a atualização? O download em andamento será "
                             "cancelado e nada mais será aplicado.";
    struct Case {
        const char* entry;
        bool closeTheDownloadWindow; // else the run window
        const char* answer;
    };
    for (const Case c : {Case{"krv.mdb", false, "Yes"}, Case{"krv.mdb", true, "Yes"},
                         Case{"pacote.zip", false, "No"}}) {
        runs::session().reset();
        updatekrv::DirSis = root_.path();
        QTimer closer;
        QObject::connect(&closer, &QTimer::timeout, [&] {
            download::frmDownload* d = runs::downloadUnderWay();
            if (!d || !d->Dl1->InDL())
                return;
            closer.stop();
            EXPECT_FALSE(c.closeTheDownloadWindow ? d->close() : w_.close());
        });
        closer.start(20);
        queue(QString("msgbox ") + c.answer + "\n");
        HookTap tap;
        const int code = run({c.entry});
        const QStringList said = tap.messages();
        ASSERT_FALSE(said.isEmpty()) << trace(tap);
        EXPECT_EQ(said.first(), question) << trace(tap);
        EXPECT_EQ(code, 0) << trace(tap);
        if (QString(c.answer) == "Yes") {
            EXPECT_TRUE(said.last().contains("interrompida")) << trace(tap);
            EXPECT_FALSE(runs::session().values.Atualizou);
            // Nothing handed on: the database window never came; the part waits for next time.
            EXPECT_FALSE(QFileInfo::exists(root_.path() + "/update/krv.mdb"));
            EXPECT_TRUE(QFileInfo::exists(root_.path() + "/update/krv.mdb.part"));
        } else {
            EXPECT_EQ(said.last(), "Atualização concluída com sucesso!") << trace(tap);
            EXPECT_EQ(readFile(root_.path() + "/modulo.dll"), module);
        }
    }
    // The run over, the window closes as any other.
    EXPECT_TRUE(w_.close());
}
