#include "engine_fixture.h"

using namespace krv;
using namespace krv::test;

namespace {

class ResumeTest : public EngineTest {
protected:
    // A partial file and a component that has seen the server answer in HTTP/1.1.
    void prepare(const std::string& path, const QByteArray& partial) {
        write(file("part"), partial);
        dl.setUrl(url(path));
        dl.setSaveLocation(file("part"));
        dl.GetFileInformation();
        ASSERT_TRUE(dl.ResumeSupported());
        log.clear();
    }
    std::string lastRange() const { return server.requests().back().header("Range"); }
};

} // namespace

TEST_F(ResumeTest, ContinuesFromTheEndOfThePartialFile) {
    serveBytes("/r", 5000, true);
    prepare("/r", pattern(0, 3000));
    dl.DLResume();
    EXPECT_EQ(lastRange(), "bytes=3000-");
    EXPECT_EQ(read(file("part")), pattern(0, 5000));
    const int resuming = int(log.events.indexOf("StatusChange:Resuming " + file("part") + "."));
    ASSERT_GT(resuming, 0);
    // The renewed request for information comes first.
    EXPECT_EQ(log.events.mid(0, 3),
              QStringList({"StatusChange:Initiating Connection...",
                           "StatusChange:Connection Accepted, Retrieving File Information.",
                           "StatusChange:Retrieving File Information Complete!"}));
    EXPECT_EQ(log.only({"RecievedBytes", "Percent", "DLComplete"}),
              QStringList({"RecievedBytes:4024", "Percent:80", "RecievedBytes:5000", "Percent:100",
                           "RecievedBytes:5000", "Percent:100", "DLComplete"}));
    EXPECT_TRUE(log.has("StatusChange:Recieving File, Inputting DATA to File."));
    EXPECT_EQ(log.events.last(), "StatusChange:Download Successful!");
    EXPECT_FALSE(dl.InDL());
}

TEST_F(ResumeTest, RollbackFetchesTheLastBytesAgain) {
    serveBytes("/r", 5000, true);
    prepare("/r", pattern(0, 2900) + QByteArray(100, 'X'));
    dl.setROLLBACK(100);
    dl.DLResume();
    EXPECT_EQ(lastRange(), "bytes=2900-");
    EXPECT_EQ(read(file("part")), pattern(0, 5000));
    EXPECT_TRUE(log.has("DLComplete"));
}

TEST_F(ResumeTest, AnythingButTheRightPartialAnswerLeavesThePartialFileAlone) {
    RawResponse wrongRange;
    wrongRange.patternSize = 5000;
    wrongRange.honourRange = true;
    wrongRange.contentRange = "bytes 0-4999/5000";
    server.serve("/wrong", wrongRange);
    serveBytes("/whole", 5000, false);
    serveBytes("/r", 5000, true);

    struct Case {
        std::string path;
        int partial, rollback;
        std::string range;
    };
    for (const Case& c :
         {Case{"/whole", 3000, 0, "bytes=3000-"}, Case{"/wrong", 3000, 0, "bytes=3000-"},
          Case{"/r", 50, 100, "bytes=-50-"}}) {
        prepare(c.path, pattern(0, c.partial));
        dl.setROLLBACK(c.rollback);
        dl.DLResume();
        EXPECT_EQ(lastRange(), c.range) << c.path;
        EXPECT_EQ(log.events.last(), "StatusChange:Resume Failed.") << c.path;
        EXPECT_FALSE(log.has("DLComplete"));
        EXPECT_EQ(read(file("part")), pattern(0, c.partial)) << c.path;
    }
}

TEST_F(ResumeTest, MissingPartialFileOrNoResumeSupport) {
    serveBytes("/r", 5000, true);
    dl.setUrl(url("/r"));
    dl.setSaveLocation(file("absent"));
    dl.DLResume();
    EXPECT_EQ(log.events, QStringList({"DLError:Resume File Not Found!", "DLECode:6",
                                       "StatusChange:Resume File Not Found, Aborting Download!"}));

    RawResponse old;
    old.version = "HTTP/1.0";
    old.body = "abc";
    server.serve("/old", old);
    write(file("part"), "ab");
    dl.setUrl(url("/old"));
    dl.setSaveLocation(file("part"));
    dl.GetFileInformation();
    log.clear();
    dl.DLResume();
    EXPECT_EQ(log.events, QStringList({"DLError:Resume Not Supported!", "DLECode:7",
                                       "StatusChange:Resume NotSupported, Aborting Download!"}));
    EXPECT_EQ(read(file("part")), "ab");
    EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(ResumeTest, CutShortOrCancelledResumesKeepWhatArrived) {
    RawResponse cut;
    cut.patternSize = 5000;
    cut.honourRange = true;
    cut.dropAfter = 1000;
    server.serve("/cut", cut);
    prepare("/cut", pattern(0, 3000));
    dl.DLResume();
    EXPECT_FALSE(log.has("DLComplete"));
    EXPECT_EQ(
        log.events.mid(log.events.size() - 3),
        QStringList({"DLError:Error Downloading File from : " + url("/cut"),
                     "StatusChange:Download Aborted Due To Error In Download!", "DLECode:1"}));
    EXPECT_EQ(read(file("part")), pattern(0, 4000));

    serveBytes("/r", 8000, true);
    prepare("/r", pattern(0, 3000));
    log.onEvent = [&](const QString& e) {
        if (e.startsWith("Percent:"))
            dl.Cancel();
    };
    dl.DLResume();
    EXPECT_EQ(log.events.mid(log.events.size() - 2),
              QStringList({"DLECode:4", "StatusChange:Cancelled."}));
    EXPECT_EQ(read(file("part")), pattern(0, 4024));
}

TEST_F(ResumeTest, ValidatorsAreReadAndIfRangeGoesWithTheRangeRequest) {
    RawResponse r;
    r.patternSize = 5000;
    r.honourRange = true;
    r.headers = {{"ETag", "\"v1\""}, {"Last-Modified", "Tue, 08 Dec 2026 09:00:00 GMT"}};
    server.serve("/r", r);
    prepare("/r", pattern(0, 3000));
    EXPECT_EQ(dl.ETag(), "\"v1\"");
    EXPECT_EQ(dl.LastModified(), "Tue, 08 Dec 2026 09:00:00 GMT");
    dl.setIfRange(dl.ETag());
    dl.DLResume();
    EXPECT_EQ(lastRange(), "bytes=3000-");
    EXPECT_EQ(server.requests().back().header("If-Range"), "\"v1\"");
    EXPECT_EQ(read(file("part")), pattern(0, 5000));

    // An answer without validators leaves them empty; no validator, no If-Range.
    serveBytes("/plain", 5000, true);
    prepare("/plain", pattern(0, 1000));
    EXPECT_EQ(dl.ETag(), "");
    EXPECT_EQ(dl.LastModified(), "");
    dl.setIfRange({});
    dl.DLResume();
    EXPECT_EQ(lastRange(), "bytes=1000-");
    EXPECT_EQ(server.requests().back().header("If-Range"), "");
    EXPECT_EQ(read(file("part")), pattern(0, 5000));
}
