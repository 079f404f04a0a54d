#include "download/download_control.h"
#include "event_log.h"

#include <QMetaClassInfo>
#include <gtest/gtest.h>

using namespace krv::download;
using krv::test::EventLog;

TEST(DownLoadControl, NewInstanceStartsFromTheDefaults) {
    DownLoad dl;
    EXPECT_EQ(dl.FileSize(), 0);
    EXPECT_FALSE(dl.FileExists());
    EXPECT_FALSE(dl.ResumeSupported());
    EXPECT_FALSE(dl.AResume());
    EXPECT_FALSE(dl.Connected());
    EXPECT_FALSE(dl.InDL());
    EXPECT_FALSE(dl.ccancel());
    EXPECT_FALSE(dl.CPause());
    EXPECT_EQ(dl.ROLLBACK(), 0);
    EXPECT_EQ(dl.CHUNK(), 1024);
    EXPECT_EQ(dl.SaveLocation(), "C:\\File1.tmp");
    EXPECT_EQ(dl.Url(), DownLoad::PlaceholderUrl);
    EXPECT_FALSE(dl.KeepType());
    EXPECT_FALSE(dl.OnlineCheck());
    EXPECT_FALSE(dl.PromptOverwrite());
    EXPECT_EQ(dl.filename(), "");
    EXPECT_STREQ(
        dl.metaObject()->classInfo(dl.metaObject()->indexOfClassInfo("RegisteredName")).value(),
        "Quorvel.DownLoad");
}

TEST(DownLoadControl, SettersStoreAsPassedAndNotifyUnderTheirNames) {
    DownLoad dl;
    QStringList names;
    QObject::connect(&dl, &DownLoad::PropertyChanged, [&](const QString& n) { names << n; });
    dl.setUrl("http://example.invalid/a.zip");
    dl.setSaveLocation("/tmp/x");
    dl.setCHUNK(-7);
    dl.setKeepType(true);
    dl.setOnlineCheck(true);
    dl.setPromptOverwrite(true);
    dl.setROLLBACK(512);
    EXPECT_EQ(names, QStringList({"Url", "SaveLocation", "CHUNK", "KeepType", "OnlineCheck",
                                  "PromptOverwrite", "ROLLBACK"}));
    EXPECT_EQ(dl.Url(), "http://example.invalid/a.zip");
    EXPECT_EQ(dl.CHUNK(), -7);
    EXPECT_EQ(dl.ROLLBACK(), 512);
    EXPECT_TRUE(dl.KeepType() && dl.OnlineCheck() && dl.PromptOverwrite());
}

TEST(DownLoadControl, StoreKeepsOnlyValuesOffTheirDefaultsAndNeverRollback) {
    DownLoad dl;
    PropertyBag empty;
    dl.WriteProperties(empty);
    EXPECT_TRUE(empty.keys().isEmpty());

    dl.setUrl("http://example.invalid/b.zip");
    dl.setCHUNK(4096);
    dl.setPromptOverwrite(true);
    dl.setROLLBACK(512);
    PropertyBag bag;
    dl.WriteProperties(bag);
    QStringList keys = bag.keys();
    keys.sort();
    EXPECT_EQ(keys, QStringList({"CHUNK", "PromptOverwrite", "URL"}));

    DownLoad loaded;
    loaded.setSaveLocation("/elsewhere");
    loaded.setKeepType(true);
    loaded.ReadProperties(bag);
    EXPECT_EQ(loaded.Url(), "http://example.invalid/b.zip");
    EXPECT_EQ(loaded.CHUNK(), 4096);
    EXPECT_TRUE(loaded.PromptOverwrite());
    EXPECT_EQ(loaded.ROLLBACK(), 0);
    // Absent keys load their defaults.
    EXPECT_EQ(loaded.SaveLocation(), "C:\\File1.tmp");
    EXPECT_FALSE(loaded.KeepType());
    EXPECT_FALSE(loaded.OnlineCheck());

    DownLoad fromEmpty;
    fromEmpty.setCHUNK(9);
    fromEmpty.ReadProperties(empty);
    EXPECT_EQ(fromEmpty.CHUNK(), 1024);
    EXPECT_EQ(fromEmpty.Url(), DownLoad::PlaceholderUrl);
}

TEST(DownLoadControl, StaysFourHundredEightyTwipsSquare) {
    QWidget host;
    DownLoad dl(&host);
    dl.resize(200, 90);
    EXPECT_EQ(dl.size(), QSize(32, 32));
    dl.setGeometry(5, 5, 10, 10);
    EXPECT_EQ(dl.size(), QSize(32, 32));
}

TEST(DownLoadControl, CancelAndPauseOnlySetFlagsAndTellTheHost) {
    DownLoad dl;
    EventLog log(dl);
    dl.Cancel();
    EXPECT_TRUE(dl.ccancel());
    dl.Pause(true);
    EXPECT_TRUE(dl.CPause());
    dl.Pause(false);
    EXPECT_FALSE(dl.CPause());
    EXPECT_EQ(log.events, QStringList({"StatusChange:Cancelling..", "StatusChange:Unpausing"}));

    // With the cancel flag up, the transfers do nothing at all and keep it.
    log.clear();
    dl.Download();
    dl.DLResume();
    EXPECT_TRUE(log.events.isEmpty());
    EXPECT_TRUE(dl.ccancel());
}
