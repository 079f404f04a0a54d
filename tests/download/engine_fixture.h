#pragma once
// A download component against a raw test server on loopback, with a scratch folder and a
// log of its events.
#include "download/download_control.h"
#include "event_log.h"
#include "platform/transfer.h"
#include "raw_http_server.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace krv::test {

class EngineTest : public ::testing::Test {
protected:
    // Short time-outs so that a dead server is seen quickly.
    void SetUp() override { dl.setTransferOptions(quick()); }
    void TearDown() override { qunsetenv("ZELVOR_TEST_TRANSFER_SECOND_MS"); }
    static platform::TransferOptions quick() {
        platform::TransferOptions o = platform::TransferOptions::download();
        o.connectTimeoutSeconds = 5;
        o.stallSeconds = 2;
        return o;
    }
    // Tests that wait for a stall: the transfer's seconds made short through the test hook.
    static void shortTransferSeconds() { qputenv("ZELVOR_TEST_TRANSFER_SECOND_MS", "150"); }

    QString url(const std::string& path) const { return QString::fromStdString(server.url(path)); }
    QString file(const QString& name) const { return dir.filePath(name); }

    static QByteArray read(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static void write(const QString& path, const QByteArray& bytes) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    static QByteArray pattern(std::int64_t from, std::int64_t n) {
        return QByteArray::fromStdString(RawHttpServer::pattern(from, n));
    }
    // Serves a generated body of n bytes at path.
    void serveBytes(const std::string& path, std::int64_t n, bool ranges = false) {
        RawResponse r;
        r.patternSize = n;
        r.honourRange = ranges;
        server.serve(path, r);
    }
    // Url and SaveLocation set, then GetFileInformation and DownLoad, as the hosts do.
    void fetch(const std::string& path, const QString& target) {
        dl.setUrl(url(path));
        dl.setSaveLocation(target);
        dl.GetFileInformation();
        dl.Download();
    }

    RawHttpServer server;
    QTemporaryDir dir;
    download::DownLoad dl;
    EventLog log{dl};
};

} // namespace krv::test
