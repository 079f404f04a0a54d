#include "download/download_control.h"
#include "platform/transfer.h"
#include "raw_http_server.h"
#include "runs/fetch_update_file.h"
#include "served_folder.h"
#include "throwaway_ca.h"

#include <gtest/gtest.h>

using krv::platform::InetTransfer;
using krv::test::RawHttpServer;
using krv::test::RawResponse;

namespace {

QString qurl(const RawHttpServer& s, const std::string& path) {
    return QString::fromStdString(s.url(path));
}

void waitHeaders(InetTransfer& t) {
    while (t.stillExecuting()) {
    }
}

// Reads the whole body in chunks of the given sizes, used in turn.
QByteArray readAll(InetTransfer& t, std::initializer_list<int> sizes) {
    QByteArray all;
    for (size_t i = 0;; ++i) {
        const QByteArray c = t.getChunk(*(sizes.begin() + i % sizes.size()));
        if (c.isEmpty())
            return all;
        all += c;
    }
}

// Stalls end after 2 of the transfer's seconds, shortened through the test hook: a dead
// server costs a fraction of a real second.
class InetTransferTest : public ::testing::Test {
protected:
    void SetUp() override { qputenv("ZELVOR_TEST_TRANSFER_SECOND_MS", "150"); }
    void TearDown() override { qunsetenv("ZELVOR_TEST_TRANSFER_SECOND_MS"); }
    // A download's set-up with short time-outs, or a request's.
    static krv::platform::TransferOptions quick(bool request = false) {
        using krv::platform::TransferOptions;
        TransferOptions o = request ? TransferOptions::request() : TransferOptions::download();
        o.connectTimeoutSeconds = 5;
        o.stallSeconds = 2;
        return o;
    }
    RawHttpServer server;
};

} // namespace

TEST_F(InetTransferTest, HeaderBlockStartsWithTheStatusLineAndHeadersAreFoundByName) {
    RawResponse r;
    r.body = "hello";
    r.headers = {{"X-Thing", "  value 1"}};
    server.serve("/a", r);
    InetTransfer t(quick());
    t.setUrl(qurl(server, "/a"));
    t.execute({"Range: bytes=2-"});
    waitHeaders(t);
    EXPECT_TRUE(t.getHeader().startsWith("HTTP/1.1 200 OK\r\n"));
    EXPECT_EQ(t.status(), 200);
    EXPECT_EQ(t.httpVersion(), "1.1");
    EXPECT_EQ(t.getHeader("content-length"), "5");
    EXPECT_EQ(t.getHeader("X-THING"), "value 1");
    EXPECT_EQ(t.getHeader("Missing"), "");
    EXPECT_TRUE(t.hasAnswer());
    EXPECT_EQ(readAll(t, {3}), QByteArray("hello"));
    EXPECT_FALSE(t.failed());
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].header("Range"), "bytes=2-");
}

TEST_F(InetTransferTest, LargeBodyStreamsWholeThroughTheBoundedBufferInAnyChunkSize) {
    RawResponse r;
    r.patternSize = 3 * 1024 * 1024 + 17;
    server.serve("/big", r);
    InetTransfer t(quick());
    t.setUrl(qurl(server, "/big"));
    t.execute();
    waitHeaders(t);
    // Small reads, odd reads and reads larger than the buffer itself.
    const QByteArray all = readAll(t, {1, 1000, 70000, InetTransfer::BufferCapacity + 5000});
    ASSERT_EQ(all.size(), r.patternSize);
    EXPECT_EQ(all.toStdString(), RawHttpServer::pattern(0, r.patternSize));
    EXPECT_FALSE(t.failed());
}

TEST_F(InetTransferTest, CutShortAndStalledBodiesFailAndCancelDropsTheAnswer) {
    RawResponse cut;
    cut.patternSize = 100000;
    cut.dropAfter = 40000;
    server.serve("/cut", cut);
    RawResponse stall;
    stall.patternSize = 100000;
    stall.stallAfter = 10;
    server.serve("/stall", stall);

    InetTransfer t(quick());
    t.setUrl(qurl(server, "/cut"));
    t.execute();
    waitHeaders(t);
    EXPECT_EQ(readAll(t, {4096}).size(), 40000);
    EXPECT_TRUE(t.failed());
    EXPECT_FALSE(t.errorText().isEmpty());

    t.setUrl(qurl(server, "/stall"));
    t.execute();
    waitHeaders(t);
    EXPECT_EQ(readAll(t, {4096}).size(), 10);
    EXPECT_TRUE(t.failed());
    EXPECT_EQ(t.fault(), krv::platform::TransportFault::TimedOut);
    EXPECT_TRUE(t.errorText().startsWith("Operation too slow")) << t.errorText().toStdString();

    t.setUrl(qurl(server, "/cut"));
    t.execute();
    waitHeaders(t);
    t.cancel();
    EXPECT_FALSE(t.hasAnswer());
    EXPECT_FALSE(t.stillExecuting());
    EXPECT_TRUE(t.getChunk(1024).isEmpty());
}

TEST_F(InetTransferTest, DeadAndRefusingServersEndWithoutAnswer) {
    RawResponse silent;
    silent.stallBeforeAnswer = true;
    server.serve("/silent", silent);
    InetTransfer t(quick());
    t.setUrl(qurl(server, "/silent"));
    t.execute();
    waitHeaders(t);
    EXPECT_FALSE(t.hasAnswer());
    EXPECT_TRUE(t.failed());
    EXPECT_EQ(t.getHeader(), "");
    const auto answer = krv::platform::httpRequest(qurl(server, "/silent"), quick(true));
    EXPECT_EQ(answer.failure, krv::platform::HttpAnswer::Failure::Transport);
    EXPECT_EQ(answer.fault, krv::platform::TransportFault::TimedOut);

    int closedPort;
    {
        RawHttpServer gone;
        closedPort = gone.port();
    }
    t.setUrl(QString("http://127.0.0.1:%1/x").arg(closedPort));
    t.execute();
    waitHeaders(t);
    EXPECT_FALSE(t.hasAnswer());
    EXPECT_TRUE(t.failed());
}

// HTTPS on both transfer paths (the downloads' and the protocol requests'), against the
// reference server with a certificate of a throwaway authority: trusted only through the
// CA-file setting, never by turning verification off.
TEST_F(InetTransferTest, HttpsServersAreVerifiedAgainstTheCaFileSettingOnBothPaths) {
    using krv::platform::TransportFault;
    const krv::test::ThrowawayCa authority, stranger;
    krv::test::ServedFolder served;
    served.write("atualsis/a.txt", "conteúdo");
    served.serveOverTls(authority.certificate(), authority.key());
    const QString url = served.baseUrl() + "atualsis/a.txt";
    QTemporaryDir target;
    struct Case {
        const char* name;
        QString caFile; // empty: the system's store
        QString url;
        TransportFault fault;
        QString said; // part of what the user reads
    };
    const QList<Case> cases = {
        {"the server's authority", authority.caFile(), url, TransportFault::None, ""},
        {"the system's store", "", url, TransportFault::Untrusted,
         "o certificado do servidor não é confiável ("},
        {"another authority", stranger.caFile(), url, TransportFault::Untrusted, "não é confiável"},
        {"a name the certificate does not hold", authority.caFile(),
         QString(url).replace("127.0.0.1", "localhost"), TransportFault::Untrusted,
         "não é confiável"},
        {"a CA file that is not there", authority.caFile() + ".nada", url, TransportFault::NoCaFile,
         "autoridades certificadoras"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        qputenv("ZELVOR_CA_FILE", c.caFile.toLocal8Bit());
        InetTransfer t(quick());
        t.setUrl(c.url);
        t.execute();
        waitHeaders(t);
        const auto answer = krv::platform::httpRequest(c.url);
        EXPECT_EQ(t.fault(), c.fault) << t.errorText().toStdString();
        EXPECT_EQ(answer.fault, c.fault) << answer.detail.toStdString();
        if (c.fault == TransportFault::None) {
            EXPECT_EQ(readAll(t, {3}), "conteúdo");
            EXPECT_EQ(answer.body, "conteúdo");
            continue;
        }
        EXPECT_FALSE(t.hasAnswer());
        EXPECT_FALSE(answer.received());
        const QString said = describeFault(t.fault(), t.errorText());
        EXPECT_TRUE(said.contains(c.said)) << said.toStdString();
        EXPECT_TRUE(said.contains(t.errorText())) << said.toStdString();
        // The download component, as a run's fetch asks it, says the same of the file.
        krv::download::DownLoad dl;
        dl.setUrl(c.url);
        dl.setSaveLocation(target.filePath("a.txt"));
        dl.GetFileInformation();
        EXPECT_EQ(dl.Failure().fault, c.fault);
        const QString fetchSaid = krv::runs::describeFailure(dl.Failure(), 1);
        EXPECT_TRUE(fetchSaid.contains(c.said)) << fetchSaid.toStdString();
        EXPECT_FALSE(QFile::exists(target.filePath("a.txt")));
    }
    qunsetenv("ZELVOR_CA_FILE");
    // A handshake that fails (no TLS at the other end, no common protocol) says so too.
    EXPECT_EQ(krv::platform::transportFault(35), TransportFault::TlsFailed);
    EXPECT_EQ(describeFault(TransportFault::TlsFailed, "wrong version number"),
              "a conexão segura (HTTPS) com o servidor falhou (wrong version number)");
}

// A server that keeps sending, but too slowly, ends like a dead one on both transfer paths:
// the floor (set small here through its settings, as docs/operations.md says) is an average
// over its window, so a drip that never stalls cannot hold a run for ever.
TEST_F(InetTransferTest, ABodyDrippingUnderTheRateFloorEndsAsTimedOutOnBothPaths) {
    qputenv("ZELVOR_MIN_RATE", "65536");
    qputenv("ZELVOR_MIN_RATE_SECONDS", "1");
    RawResponse drip;
    drip.patternSize = 200 * 1024;
    drip.dripMs = 100; // 1 KiB each time: 10 KiB/s, never a stall of 2 short seconds
    server.serve("/drip", drip);

    InetTransfer t(quick());
    t.setUrl(qurl(server, "/drip"));
    t.execute();
    waitHeaders(t);
    EXPECT_LT(readAll(t, {4096}).size(), drip.patternSize);
    EXPECT_TRUE(t.failed());
    EXPECT_EQ(t.fault(), krv::platform::TransportFault::TimedOut);
    // The floor ended it, not the stall check.
    EXPECT_FALSE(t.errorText().startsWith("Operation too slow")) << t.errorText().toStdString();

    const auto answer = krv::platform::httpRequest(qurl(server, "/drip"));
    EXPECT_EQ(answer.failure, krv::platform::HttpAnswer::Failure::Transport);
    EXPECT_EQ(answer.fault, krv::platform::TransportFault::TimedOut);
    EXPECT_TRUE(krv::platform::describeFault(answer.fault).contains("tempo esgotado"));

    qputenv("ZELVOR_MIN_RATE_SECONDS", "0"); // the check turned off: the same drip goes on
    t.setUrl(qurl(server, "/drip"));
    t.execute();
    waitHeaders(t);
    EXPECT_EQ(t.getChunk(4096).size(), 4096);
    EXPECT_FALSE(t.failed());
    t.cancel();
    qunsetenv("ZELVOR_MIN_RATE");
    qunsetenv("ZELVOR_MIN_RATE_SECONDS");
}

// One table names every fault: a fault added without its row would reach the user blank.
TEST(TransportFaults, EveryFaultHasItsWordsForTheUserAndForTheComponentsStatus) {
    using krv::platform::TransportFault;
    for (int f = int(TransportFault::TimedOut); f <= int(TransportFault::Other); ++f) {
        SCOPED_TRACE(f);
        EXPECT_FALSE(describeFault(TransportFault(f)).isEmpty());
        EXPECT_FALSE(krv::platform::faultCause(TransportFault(f)).isEmpty());
    }
    EXPECT_EQ(describeFault(TransportFault::None), "");
    // The library's words only where they name what failed.
    EXPECT_EQ(describeFault(TransportFault::Refused, "Connection refused"),
              "o servidor não aceitou a conexão");
    EXPECT_EQ(describeFault(TransportFault::Other, "x"), "falha de comunicação (x)");
}
