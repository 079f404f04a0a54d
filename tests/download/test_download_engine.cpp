#include "download/target_file.h"
#include "download/transfer_stats.h"
#include "engine_fixture.h"
#include "hook_tap.h"
#include "platform/krv_error.h"
#include "runs/fetch_update_file.h"

#include <QFileInfo>
#include <QThread>
#include <QTimer>

using namespace krv;
using namespace krv::test;
using download::FormatRate;

namespace {
const QStringList progress = {"RecievedBytes", "Percent", "DLComplete", "DLECode"};
}

TEST_F(EngineTest, InformationThenBodyInChunksWithEventsInOrder) {
    serveBytes("/f.zip", 2500);
    dl.setUrl(url("/f.zip"));
    dl.setSaveLocation(file("f.zip"));
    dl.GetFileInformation();
    EXPECT_EQ(log.events,
              QStringList({"StatusChange:Initiating Connection...",
                           "StatusChange:Connection Accepted, Retrieving File Information.",
                           "StatusChange:Retrieving File Information Complete!"}));
    EXPECT_EQ(dl.FileSize(), 2500);
    EXPECT_TRUE(dl.FileExists());
    EXPECT_TRUE(dl.ResumeSupported());
    EXPECT_TRUE(dl.AResume());

    log.clear();
    bool inTransfer = false;
    log.onEvent = [&](const QString& e) {
        if (e.startsWith("Percent"))
            inTransfer = dl.InDL();
    };
    dl.Download();
    EXPECT_TRUE(inTransfer);
    EXPECT_FALSE(dl.InDL());
    EXPECT_EQ(log.only(progress),
              QStringList({"RecievedBytes:1024", "Percent:41", "RecievedBytes:2048", "Percent:82",
                           "RecievedBytes:2500", "Percent:100", "RecievedBytes:2500", "Percent:100",
                           "DLComplete"}));
    // One pass: rate, time left, bytes, percent, status.
    ASSERT_GE(log.events.size(), 6);
    EXPECT_EQ(log.events[0], "StatusChange:Downloading Files...");
    EXPECT_TRUE(log.events[1].startsWith("Rate:"));
    EXPECT_TRUE(log.events[2].startsWith("TimeLeft:"));
    EXPECT_EQ(log.events[3], "RecievedBytes:1024");
    EXPECT_EQ(log.events[5], "StatusChange:Downloading Files.");
    EXPECT_EQ(log.events.mid(log.events.size() - 2),
              QStringList({"DLComplete", "StatusChange:Update Checking Complete!"}));
    EXPECT_EQ(read(file("f.zip")), pattern(0, 2500));
}

TEST_F(EngineTest, ALastChunkOfOneByteEndsTheLoopAfterWritingIt) {
    serveBytes("/one", 1025);
    fetch("/one", file("one"));
    EXPECT_EQ(log.only(progress), QStringList({"RecievedBytes:1024", "Percent:100",
                                               "RecievedBytes:1025", "Percent:100", "DLComplete"}));
    EXPECT_EQ(read(file("one")), pattern(0, 1025));
}

TEST_F(EngineTest, PercentRoundsHalvesUpward) {
    serveBytes("/eight", 8);
    dl.setCHUNK(2);
    fetch("/eight", file("a"));
    EXPECT_EQ(log.only({"Percent"}), QStringList({"Percent:25", "Percent:50", "Percent:75",
                                                  "Percent:100", "Percent:100"}));
    EXPECT_TRUE(log.has("DLComplete"));

    // A chunk of one byte ends the loop at once: 1 of 8 is 13%, and the file is not whole.
    log.clear();
    dl.setCHUNK(1);
    fetch("/eight", file("b"));
    EXPECT_EQ(log.only({"Percent"}), QStringList({"Percent:13"}));
    EXPECT_FALSE(log.has("DLComplete"));
    EXPECT_TRUE(log.has("DLECode:1"));
}

TEST_F(EngineTest, ResumeFlagFollowsTheHttpVersionAndALengthIsRequired) {
    RawResponse old;
    old.version = "HTTP/1.0";
    old.body = "abc";
    server.serve("/old", old);
    RawResponse noLength = old;
    noLength.sendContentLength = false;
    server.serve("/nolength", noLength);
    RawResponse bad;
    bad.body = "abc";
    bad.headers = {{"Content-Length", "x"}};
    bad.sendContentLength = false;
    server.serve("/bad", bad);
    serveBytes("/new", 3);

    dl.setUrl(url("/new"));
    dl.GetFileInformation();
    EXPECT_TRUE(dl.ResumeSupported());
    dl.setUrl(url("/old"));
    dl.GetFileInformation();
    EXPECT_FALSE(dl.ResumeSupported());
    EXPECT_FALSE(dl.AResume());
    EXPECT_EQ(dl.FileSize(), 3);

    for (const char* path : {"/nolength", "/bad"}) {
        log.clear();
        dl.setUrl(url(path));
        dl.GetFileInformation();
        EXPECT_EQ(log.events.mid(2),
                  QStringList({"DLError:Error Reading File Headers.",
                               "StatusChange:Error Reading File Headers!", "DLECode:1"}))
            << path;
    }
}

TEST_F(EngineTest, RefusedAndMissingFilesRaiseTheirCodesAndLeaveTheTargetAlone) {
    struct Case {
        int status;
        const char* reason;
        QStringList events;
        bool exists;
    };
    const QList<Case> cases = {
        {401,
         "Unauthorized",
         {"StatusChange:Unauthorized Access, Download Terminated!", "DLECode:401",
          "DLError:Unauthorized Access!"},
         true},
        {403,
         "Forbidden",
         {"StatusChange:Access Denied, Download Terminated!", "DLECode:403",
          "DLError:Access Denied!"},
         true},
        {404,
         "Not Found",
         {"DLError:File Not Found!", "StatusChange:File Not Found!", "DLECode:2"},
         false},
    };
    serveBytes("/ok", 10);
    for (const Case& c : cases) {
        RawResponse r;
        r.status = c.status;
        r.reason = c.reason;
        r.body = "refused";
        server.serve("/r", r);
        // Resume flag up from an earlier answer: 401 and 403 clear it, 404 keeps it.
        dl.setUrl(url("/ok"));
        dl.GetFileInformation();
        log.clear();
        write(file("keep"), "old contents");
        dl.setUrl(url("/r"));
        dl.setSaveLocation(file("keep"));
        dl.GetFileInformation();
        EXPECT_EQ(log.events.mid(2), c.events) << c.status;
        EXPECT_EQ(dl.FileSize(), 0);
        EXPECT_EQ(dl.FileExists(), c.exists);
        EXPECT_EQ(dl.ResumeSupported(), c.status == 404);

        log.clear();
        dl.Download();
        EXPECT_EQ(log.events, QStringList({"DLError:Error Downloading File from : " + dl.Url(),
                                           "StatusChange:Download Aborted Due To Error In "
                                           "Download!",
                                           "DLECode:1"}));
        EXPECT_EQ(read(file("keep")), "old contents");
        dl.setSaveLocation(file("never"));
        dl.Download();
        EXPECT_FALSE(QFile::exists(file("never")));
    }
}

TEST_F(EngineTest, AnyOtherStatusThanOkIsAnErrorNamingItAndNothingIsWritten) {
    struct Case {
        int status;
        const char* reason;
        std::vector<std::pair<std::string, std::string>> headers;
    };
    const QList<Case> cases = {
        {500, "Internal Server Error", {}},
        {503, "Service Unavailable", {{"Retry-After", "30"}}},
        {302, "Found", {{"Location", "/outro"}}},
        {206, "Partial Content", {{"Content-Range", "bytes 0-9/100"}}},
    };
    serveBytes("/outro", 10);
    for (const Case& c : cases) {
        RawResponse r;
        r.status = c.status;
        r.reason = c.reason;
        r.headers = c.headers;
        r.body = "<erro>uma página de erro que também é XML</erro>";
        server.serve("/r", r);
        write(file("keep"), "old contents");
        log.clear();
        fetch("/r", file("keep"));
        const QString n = QString::number(c.status);
        EXPECT_EQ(
            log.events.mid(2, 3),
            QStringList({"StatusChange:Server Answered " + n + ", Download Terminated!",
                         "DLECode:" + n,
                         "DLError:Server Answered HTTP Status " + n + " (" + c.reason + ")!"}))
            << c.status;
        EXPECT_FALSE(log.has("DLComplete")) << c.status;
        EXPECT_EQ(dl.FileSize(), 0);
        EXPECT_EQ(dl.Failure().kind, download::DownloadFailure::Kind::HttpStatus);
        EXPECT_EQ(dl.Failure().status, c.status);
        EXPECT_EQ(read(file("keep")), "old contents") << c.status;
        EXPECT_TRUE(runs::describeFailure(dl.Failure(), c.status).contains("HTTP " + n));
    }
}

TEST_F(EngineTest, AnEmptyBodyIsAWholeFile) {
    serveBytes("/vazio", 0);
    write(file("vazio"), "old contents");
    fetch("/vazio", file("vazio"));
    EXPECT_EQ(log.only(progress), QStringList({"RecievedBytes:0", "Percent:100", "DLComplete"}));
    EXPECT_TRUE(QFileInfo(file("vazio")).isFile());
    EXPECT_EQ(read(file("vazio")), "");

    // An announced body that never comes is no file.
    RawResponse none;
    none.patternSize = 10;
    none.dropAfter = 0;
    server.serve("/nada", none);
    log.clear();
    fetch("/nada", file("nada"));
    EXPECT_FALSE(log.has("DLComplete"));
    EXPECT_TRUE(log.has("DLECode:1"));
}

TEST_F(EngineTest, RateAndTimeLeftStayTrueWhenTheClockPassesMidnight) {
    // 23:59:59 as milliseconds since midnight, a quarter second on at every reading.
    std::int64_t now = 86'399'000;
    download::DownLoad::setClock([&now] { return now += 250; });
    serveBytes("/f", 8 * 1024);
    fetch("/f", file("f"));
    download::DownLoad::setClock({});
    ASSERT_TRUE(log.has("DLComplete"));
    const QStringList rates = log.only({"Rate"});
    const QStringList left = log.only({"TimeLeft"});
    ASSERT_EQ(rates.size(), 9);
    for (const QString& r : rates)
        EXPECT_GT(r.size(), QString("Rate:").size()) << r.toStdString();
    for (const QString& t : left)
        EXPECT_FALSE(t.contains('-')) << t.toStdString();
    // The clock is the rate's base: 8 KiB over the second before the request and 9 readings.
    EXPECT_EQ(rates.last(), "Rate:" + FormatRate(8 * 1024 / 3.25));
}

TEST_F(EngineTest, ExistingTargetIsReplacedWithoutAskingOrAfterYes) {
    serveBytes("/f", 100);
    write(file("t"), QByteArray(500, 'o'));
    HookTap tap;
    fetch("/f", file("t"));
    EXPECT_EQ(read(file("t")), pattern(0, 100));
    EXPECT_TRUE(tap.messages().isEmpty());

    write(file("t"), QByteArray(500, 'o'));
    dl.setPromptOverwrite(true);
    queue("msgbox Yes\n");
    HookTap asked;
    fetch("/f", file("t"));
    EXPECT_EQ(asked.messages(),
              QStringList({"Would you like to overwrite the file at: " + file("t") + " ?"}));
    ASSERT_FALSE(asked.lines().isEmpty());
    EXPECT_EQ(asked.lines()[0].fields.mid(0, 3),
              QStringList({"Overwrite?", "information", "YesNo"}));
    EXPECT_EQ(read(file("t")), pattern(0, 100));
}

TEST_F(EngineTest, OverwriteRefusedAsksForAnotherNameUntilOneIsGiven) {
    serveBytes("/f", 100);
    dl.setPromptOverwrite(true);
    write(file("t"), "keep me");

    // No, an empty name, a tab (sorts before a space), then a new name.
    queue("msgbox No\ninput\nmsgbox OK\ninput \\t\nmsgbox OK\ninput " + file("novo.zip") + "\n");
    HookTap tap;
    fetch("/f", file("t"));
    EXPECT_EQ(tap.messages(),
              QStringList({"Would you like to overwrite the file at: " + file("t") + " ?",
                           "You didn't specify a file!", "You didn't specify a file!"}));
    QStringList inputs;
    for (const auto& l : tap.lines())
        if (l.kind == "input")
            inputs << l.fields.mid(0, 3).join('|');
    EXPECT_EQ(inputs.size(), 3);
    EXPECT_EQ(inputs.value(0), "New File...|Please type in a new file path and name.\r\nExample: "
                               "C:\\File2.txt|" +
                                   file("t"));
    EXPECT_EQ(read(file("t")), "keep me");
    EXPECT_EQ(read(file("novo.zip")), pattern(0, 100));

    // The same name: Yes asks again, No writes over the file where it is.
    write(file("t"), QByteArray(300, 'o'));
    queue("msgbox No\ninput " + file("t") + "\nmsgbox Yes\ninput " + file("t") + "\nmsgbox No\n");
    HookTap same;
    fetch("/f", file("t"));
    EXPECT_EQ(
        same.messages().mid(1),
        QStringList({"You typed in the same file! Would you like type in a different file?",
                     "You typed in the same file! Would you like type in a different file?"}));
    EXPECT_EQ(read(file("t")), pattern(0, 100));
    EXPECT_TRUE(log.has("DLComplete"));
}

TEST_F(EngineTest, KeepTypeGivesTheTargetTheTypeOfTheAddress) {
    EXPECT_EQ(download::KeepTypeName("http://h/dir/pacote.zip", "C:\\File1.tmp"), "C:\\File1.zip");
    EXPECT_EQ(download::KeepTypeName("http://h/dir/arquivo", "C:\\File1.tmp"),
              "C:\\File1.http://h/dir/arquivo");
    EXPECT_EQ(download::KeepTypeName("http://h/x.zip", "/tmp/semponto"), "zip");
    EXPECT_THROW(download::KeepTypeName("a.zip", "C:\\File1.tmp"), KrvError);

    serveBytes("/setup.exe", 50);
    dl.setKeepType(true);
    fetch("/setup.exe", file("File1.tmp"));
    EXPECT_EQ(read(file("File1.exe")), pattern(0, 50));
    EXPECT_FALSE(QFile::exists(file("File1.tmp")));
}

TEST_F(EngineTest, CancelFromHandlersEndsAtTheNextCheckpoint) {
    serveBytes("/f", 5000);
    log.onEvent = [&](const QString& e) {
        if (e == "Percent:20")
            dl.Cancel();
    };
    fetch("/f", file("c"));
    EXPECT_EQ(
        log.events.mid(log.events.size() - 5),
        QStringList({"Percent:20", "StatusChange:Cancelling..", "StatusChange:Downloading Files.",
                     "DLECode:4", "StatusChange:Cancelled."}));
    EXPECT_EQ(read(file("c")), pattern(0, 1024));
    EXPECT_FALSE(dl.ccancel());
    EXPECT_FALSE(dl.InDL());

    // During the request for information: lower-case "cancelled.".
    log.clear();
    log.onEvent = [&](const QString& e) {
        if (e == "StatusChange:Initiating Connection...")
            dl.Cancel();
    };
    dl.GetFileInformation();
    EXPECT_EQ(log.events.mid(log.events.size() - 3),
              QStringList({"StatusChange:Connection Accepted, Retrieving File Information.",
                           "DLECode:4", "StatusChange:cancelled."}));
    EXPECT_FALSE(dl.ccancel());

    // Idle: the flag waits for the next method; the request for information clears it.
    log.onEvent = nullptr;
    dl.Cancel();
    dl.Download();
    EXPECT_TRUE(dl.ccancel());
    log.clear();
    fetch("/f", file("d"));
    EXPECT_TRUE(log.has("DLComplete"));
    EXPECT_EQ(read(file("d")), pattern(0, 5000));
}

TEST_F(EngineTest, PauseHoldsTheLoopUntilReleased) {
    serveBytes("/f", 3000);
    int paused = 0;
    log.onEvent = [&](const QString& e) {
        if (e == "Percent:34")
            dl.Pause(true);
        if (e == "StatusChange:Paused." && ++paused == 3)
            dl.Pause(false);
    };
    fetch("/f", file("p"));
    const int first = int(log.events.indexOf("StatusChange:Paused."));
    ASSERT_GT(first, 0);
    EXPECT_EQ(
        log.events.mid(first - 2, 6),
        QStringList({"Percent:34", "StatusChange:Downloading Files.", "StatusChange:Paused.",
                     "StatusChange:Paused.", "StatusChange:Paused.", "StatusChange:Unpausing"}));
    // Released: the next chunk is read.
    EXPECT_EQ(log.events.value(first + 4).section(':', 0, 0), "Rate");
    EXPECT_EQ(log.events.count("StatusChange:Paused."), 3);
    EXPECT_TRUE(log.has("DLComplete"));
    EXPECT_EQ(read(file("p")), pattern(0, 3000));
}

TEST_F(EngineTest, ATransferThatFailsPartWaySaysWhyAndKeepsWhatArrived) {
    shortTransferSeconds();
    using Kind = download::DownloadFailure::Kind;
    using Fault = platform::TransportFault;
    struct Case {
        const char* name;
        std::int64_t dropAfter, resetAfter, stallAfter;
        QString target; // empty: a file of the scratch folder
        QString status;
        Kind kind;
        Fault fault;
        QString said; // what the user reads
        std::int64_t kept;
    };
    const QList<Case> cases = {
        {"cut",
         1500,
         -1,
         -1,
         {},
         "Connection Closed Before The End Of The File",
         Kind::Transport,
         Fault::CutShort,
         "encerrada antes do fim",
         1500},
        {"reset",
         -1,
         1500,
         -1,
         {},
         "Connection Reset",
         Kind::Transport,
         Fault::Reset,
         "conexão reiniciada",
         -1},
        {"stall",
         -1,
         -1,
         1500,
         {},
         "Timed Out",
         Kind::Transport,
         Fault::TimedOut,
         "tempo esgotado",
         1500},
        {"full", -1, -1, -1, "/dev/full", "Disk Full", Kind::DiskFull, Fault::None, "disco cheio",
         -1},
    };
    for (const Case& c : cases) {
        RawResponse r;
        r.patternSize = 5000;
        r.dropAfter = c.dropAfter;
        r.resetAfter = c.resetAfter;
        r.stallAfter = c.stallAfter;
        const std::string path = std::string("/") + c.name;
        server.serve(path, r);
        log.clear();
        fetch(path, c.target.isEmpty() ? file(c.name) : c.target);
        EXPECT_FALSE(log.has("DLComplete")) << c.name;
        EXPECT_EQ(log.events.mid(log.events.size() - 3),
                  QStringList({"DLError:Error Downloading File from : " + url(path),
                               "StatusChange:Download Aborted: " + c.status + "!", "DLECode:1"}))
            << c.name;
        EXPECT_FALSE(dl.InDL());
        EXPECT_EQ(dl.Failure().kind, c.kind) << c.name;
        EXPECT_EQ(dl.Failure().fault, c.fault) << c.name;
        const QString said = runs::describeFailure(dl.Failure(), 1);
        EXPECT_TRUE(said.contains(c.said)) << c.name << ": " << said.toStdString();
        // What arrived stays.
        if (c.kept >= 0) {
            EXPECT_EQ(read(file(c.name)), pattern(0, c.kept)) << c.name;
        }
    }
}

TEST_F(EngineTest, ADeadServerEndsInAnErrorInsteadOfAHang) {
    shortTransferSeconds();
    RawResponse silent;
    silent.stallBeforeAnswer = true;
    server.serve("/silent", silent);
    RawResponse stall;
    stall.patternSize = 5000;
    stall.stallAfter = 2000;
    server.serve("/stall", stall);

    write(file("t"), "untouched");
    dl.setUrl(url("/silent"));
    dl.setSaveLocation(file("t"));
    dl.GetFileInformation();
    EXPECT_TRUE(log.has("DLError:Error Reading File Headers."));
    log.clear();
    dl.Download();
    EXPECT_TRUE(log.has("DLECode:1"));
    EXPECT_EQ(read(file("t")), "untouched");

    log.clear();
    fetch("/stall", file("s"));
    EXPECT_FALSE(log.has("DLComplete"));
    EXPECT_TRUE(log.has("DLECode:1"));
    EXPECT_EQ(read(file("s")), pattern(0, 2000));
}

TEST_F(EngineTest, TheLoopLetsTheEventLoopRunWhileDataFlows) {
    serveBytes("/f", 400 * 1024);
    // A host whose handler takes a while, and a cancel that comes through the event loop.
    // The cancel is posted once data flows: posted earlier, a slow answer lets it reach the
    // request for information instead, which the host's DownLoad then ignores.
    bool posted = false;
    log.onEvent = [&](const QString& e) {
        if (!e.startsWith("Percent"))
            return;
        if (!posted)
            QTimer::singleShot(0, &dl, [this] { dl.Cancel(); });
        posted = true;
        QThread::msleep(1);
    };
    fetch("/f", file("y"));
    EXPECT_TRUE(log.has("StatusChange:Cancelled."));
    EXPECT_FALSE(log.has("DLComplete"));
    EXPECT_LT(read(file("y")).size(), 400 * 1024);
}

TEST_F(EngineTest, OnlineCheckStopsWithoutAConnectionAndReportsTheKind) {
    QTemporaryDir routes;
    const QString offline = routes.filePath("offline");
    write(offline, "Iface\tDestination\tGateway\tFlags\n"
                   "eth0\t000200C0\t00000000\t0001\n");
    const QString lan = routes.filePath("lan");
    write(lan, "Iface\tDestination\tGateway\tFlags\n"
               "eth0\t00000000\t010200C0\t0003\n");
    serveBytes("/f", 10);
    dl.setOnlineCheck(true);
    dl.setUrl(url("/f"));
    dl.setSaveLocation(file("o"));

    download::setRouteTablePath(offline);
    HookTap tap;
    dl.GetFileInformation();
    EXPECT_EQ(tap.messages().size(), 1);
    EXPECT_FALSE(dl.Connected());
    const QStringList refused = {"DLECode:5", "DLError:No Connection Found!",
                                 "StatusChange:Download aborted, no connection present!"};
    EXPECT_EQ(log.events, refused);
    log.clear();
    dl.Download();
    dl.DLResume();
    EXPECT_EQ(log.events, refused + refused);
    EXPECT_FALSE(QFile::exists(file("o")));
    EXPECT_TRUE(server.requests().empty());

    download::setRouteTablePath(lan);
    qputenv("http_proxy", "http://proxy.invalid:3128");
    qputenv("NO_PROXY", "127.0.0.1");
    log.clear();
    dl.GetFileInformation();
    qunsetenv("http_proxy");
    qunsetenv("NO_PROXY");
    download::setRouteTablePath({});
    EXPECT_EQ(log.events.mid(0, 2), QStringList({"ConnectionState:Connected Via LAN.",
                                                 "ConnectionState:Connected Through A Proxy."}));
    EXPECT_TRUE(dl.Connected());
    dl.Download();
    EXPECT_TRUE(log.has("DLComplete"));
    EXPECT_EQ(read(file("o")), pattern(0, 10));
}
