// The update record's file and log line: written when a run changed something or failed.
#include "common/updatekrv.h"
#include "make_zip.h"
#include "runs/update_record.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

using namespace krv;
using namespace krv::test;

namespace {

QJsonObject recordOf(int exitCode, const QJsonObject& changes) {
    QJsonObject r{
        {"start", "2026-03-01T02:30:00.125"},
        {"end", "2026-03-01T02:31:00.000"},
        {"user", "ana"},
        {"source", "http://x/"},
        {"outcome", exitCode ? "failed" : "updated"},
        {"exit_code", exitCode},
        {"message", "linha 1\r\nlinha\t2"},
        {"reached", exitCode ? "files" : "end"},
        {"files", QJsonArray()},
        {"modules", QJsonArray()},
        {"database", QJsonObject{{"ult_atualizacao", QJsonObject{{"before", "1"}, {"after", "1"}}},
                                 {"atmenu", QJsonObject{{"before", "1"}, {"after", "1"}}},
                                 {"statements", QJsonArray()},
                                 {"tables_before", QJsonObject()}}},
        {"menu_rows", QJsonObject{{"before", "3"}, {"after", "3"}}}};
    for (auto it = changes.begin(); it != changes.end(); ++it)
        r[it.key()] = it.value();
    return r;
}

// The record built from what a run told it, over a suite looked at through a snapshot the
// test sets: written when the run changed something or failed, with one log line.
TEST(UpdateRecord, BuiltFromWhatTheRunToldAndWrittenWhenItChangedSomethingOrFailed) {
    using runs::UpdateRecord;
    using Snapshot = runs::record::Snapshot;
    Snapshot before;
    before.modules = {{"krvsis.exe", "01.31.00"}};
    before.installed.database = "000131";
    before.menuRows = 3;
    struct Case {
        const char* name;
        std::function<void(UpdateRecord&, Snapshot&, const QString& suite)> run;
        int exitCode;
        bool changed; // written then, or on a failure
        std::function<void(const QJsonObject&)> check = {};
    } cases[] = {
        {"nothing changed", [](UpdateRecord&, Snapshot&, const QString&) {}, 0, false},
        {"a module",
         [](UpdateRecord&, Snapshot& after, const QString&) {
             after.modules["krvsis.exe"] = "01.32.00";
         },
         0, true,
         [](const QJsonObject& r) {
             EXPECT_EQ(r["modules"][0]["before"], "01.31.00");
             EXPECT_EQ(r["modules"][0]["after"], "01.32.00");
             EXPECT_EQ(r["outcome"], "updated");
             EXPECT_EQ(r["reached"], "end");
         }},
        {"a file found on a medium",
         [](UpdateRecord& r, Snapshot&, const QString& suite) {
             writeFile(suite + "/m.zip", "abc");
             r.filesFound(suite, {"m.zip"});
         },
         0, true,
         [](const QJsonObject& r) {
             EXPECT_EQ(r["files"][0]["sha256"],
                       "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
             EXPECT_EQ(r["files"][0]["download_bytes"], QJsonValue());
         }},
        {"menu rows", [](UpdateRecord&, Snapshot& after, const QString&) { after.menuRows = 5; }, 0,
         true},
        {"the database version",
         [](UpdateRecord&, Snapshot& after, const QString&) {
             after.installed.database = "000132";
         },
         0, true,
         [](const QJsonObject& r) {
             EXPECT_EQ(r["database"]["ult_atualizacao"]["after"], "000132");
             EXPECT_EQ(r["reached"], "end");
         }},
        {"a statement the server refused",
         [](UpdateRecord& r, Snapshot&, const QString&) { r.statement("alter table t add c int"); },
         1, true,
         [](const QJsonObject& r) {
             EXPECT_EQ(r["database"]["statements"][0]["result"], "error");
             EXPECT_EQ(r["reached"], "database");
             EXPECT_EQ(r["outcome"], "failed");
         }},
        {"a file kept, then put back",
         [](UpdateRecord& r, Snapshot&, const QString&) {
             r.fileKept("krvsis.exe", 3, QString(64, 'a'), 4, QString(64, 'b'));
             r.note("files_put_back", {{"name", "krvsis.exe"}, {"result", "restored"}});
         },
         1, true,
         [](const QJsonObject& r) {
             EXPECT_EQ(r["kept_files"][0]["after_size"], 4);
             EXPECT_EQ(r["files_put_back"][0]["result"], "restored");
         }},
        {"a failure", [](UpdateRecord&, Snapshot&, const QString&) {}, 1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir suite;
        updatekrv::DirSis = suite.path();
        Snapshot after = before;
        bool begun = false;
        UpdateRecord record([&] { return begun ? after : before; });
        record.begin([] { return runs::record::RunFacts{"ana", "http://x/", true, "linha\t2"}; });
        begun = true;
        c.run(record, after, suite.path());
        const runs::record::Built built = record.build(c.exitCode);
        EXPECT_EQ(built.changed, c.changed);
        const QString path = runs::record::write(suite.path(), built);
        EXPECT_EQ(!path.isEmpty(), c.changed || c.exitCode != 0);
        if (path.isEmpty()) {
            // The record written while the run went on goes too.
            EXPECT_FALSE(QDir(suite.path() + "/atualizacoes").exists());
            continue;
        }
        const QJsonObject rec = QJsonDocument::fromJson(readFile(path)).object();
        EXPECT_EQ(rec, built.json);
        if (c.check)
            c.check(rec);
        const QString name = QFileInfo(path).fileName();
        EXPECT_EQ(QDir(suite.path() + "/atualizacoes").entryList(QDir::Files),
                  QStringList({name, "atualizacoes.log"}));
        EXPECT_EQ(readFile(suite.path() + "/atualizacoes/atualizacoes.log"),
                  QString("%1\t%2\t%3\t%4\tana\thttp://x/\tlinha 2\t%5\n")
                      .arg(rec["start"].toString(), rec["end"].toString(),
                           rec["outcome"].toString(), rec["reached"].toString(), name)
                      .toUtf8());
    }
    EXPECT_TRUE(runs::record::write("/tmp", {}).isEmpty());
}

TEST(UpdateRecord, ARunCutOffIsMarkedInterruptedKeepingHowFarItGot) {
    // Beyond any process id the kernel hands out: a writer that has ended.
    const qint64 ended = 0x7ffffff0;
    struct Case {
        const char* name;
        QString outcome;
        qint64 pid;
        bool marked;
    } cases[] = {
        {"running, writer ended", "running", ended, true},
        {"running, without a writer's id", "running", 0, true},
        {"running, writer still at work", "running", QCoreApplication::applicationPid(), false},
        {"ended normally", "updated", ended, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir suite;
        QJsonObject rec = recordOf(0, {{"outcome", c.outcome},
                                       {"exit_code", QJsonValue()},
                                       {"reached", "database"},
                                       {"pid", c.pid}});
        const QJsonArray statements = {
            QJsonObject{{"sql", "alter table a add b int"}, {"result", "ok"}},
            QJsonObject{{"sql", "create table c (d int)"}, {"result", "running"}}};
        QJsonObject db = rec["database"].toObject();
        db["statements"] = statements;
        rec["database"] = db;
        const QString dir = suite.path() + "/atualizacoes";
        QDir().mkpath(dir);
        writeFile(dir + "/20260301-023000-125.json", QJsonDocument(rec).toJson());
        runs::record::markInterrupted(suite.path());
        runs::record::markInterrupted(suite.path()); // once marked, never again
        const QJsonObject now =
            QJsonDocument::fromJson(readFile(dir + "/20260301-023000-125.json")).object();
        if (!c.marked) {
            EXPECT_EQ(now, rec);
            EXPECT_FALSE(QFileInfo::exists(dir + "/atualizacoes.log"));
            continue;
        }
        EXPECT_EQ(now["outcome"], "interrupted");
        EXPECT_EQ(now["reached"], "database");
        const QJsonArray after = now["database"].toObject()["statements"].toArray();
        ASSERT_EQ(after.size(), 2);
        EXPECT_EQ(after[0].toObject(), statements[0].toObject());
        EXPECT_EQ(after[1]["result"], "interrupted");
        EXPECT_EQ(readFile(dir + "/atualizacoes.log"),
                  "2026-03-01T02:30:00.125\t2026-03-01T02:31:00.000\tinterrupted\tdatabase\tana\t"
                  "http://x/\tlinha 1 linha 2\t20260301-023000-125.json\n");
    }
}

} // namespace
