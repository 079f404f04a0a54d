// The update record's file and log line: written when a run changed something or failed.
#include "make_zip.h"
#include "runs/update_record.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
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

TEST(UpdateRecord, WrittenWhenTheRunChangedSomethingOrFailedWithOneLogLine) {
    struct Case {
        const char* name;
        int exitCode;
        QJsonObject changes;
        bool written;
    } cases[] = {
        {"nothing changed", 0, {}, false},
        {"a module", 0, {{"modules", QJsonArray{QJsonObject{{"name", "m"}}}}}, true},
        {"a file fetched", 0, {{"files", QJsonArray{QJsonObject{{"name", "f"}}}}}, true},
        {"menu rows", 0, {{"menu_rows", QJsonObject{{"before", "3"}, {"after", "5"}}}}, true},
        {"a failure", 1, {}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir suite;
        const QJsonObject rec = recordOf(c.exitCode, c.changes);
        // What the run wrote of itself while it went on.
        QDir().mkpath(suite.path() + "/atualizacoes");
        writeFile(suite.path() + "/atualizacoes/20260301-023000-125.json", "{}");
        const QString path = runs::record::write(suite.path(), rec);
        EXPECT_EQ(!path.isEmpty(), c.written);
        if (!c.written) {
            EXPECT_FALSE(QDir(suite.path() + "/atualizacoes").exists());
            continue;
        }
        EXPECT_EQ(path, suite.path() + "/atualizacoes/20260301-023000-125.json");
        EXPECT_EQ(QJsonDocument::fromJson(readFile(path)).object(), rec);
        // No temporary file is left beside it.
        EXPECT_EQ(QDir(suite.path() + "/atualizacoes").entryList(QDir::Files),
                  QStringList({"20260301-023000-125.json", "atualizacoes.log"}));
        EXPECT_EQ(readFile(suite.path() + "/atualizacoes/atualizacoes.log"),
                  QString("2026-03-01T02:30:00.125\t2026-03-01T02:31:00.000\t%1\t%2\tana\t"
                          "http://x/\tlinha 1 linha 2\t20260301-023000-125.json\n")
                      .arg(rec["outcome"].toString(), rec["reached"].toString())
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
