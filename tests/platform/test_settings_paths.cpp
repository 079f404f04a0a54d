#include "platform/paths.h"
#include "platform/settings.h"

#include <QFile>
#include <QTemporaryDir>
#include <filesystem>
#include <gtest/gtest.h>

using namespace krv::platform;

class SettingsStore : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", dir_.path().toUtf8());
    }
    void TearDown() override { qputenv("XDG_CONFIG_HOME", saved_); }
    QTemporaryDir dir_;
    QByteArray saved_;
};

TEST_F(SettingsStore, AbsentValuesGiveTheDefault) {
    EXPECT_EQ(getSetting("DirSis", "/opt/krv"), "/opt/krv");
    EXPECT_EQ(getSetting("atuser"), "");
}

TEST_F(SettingsStore, SavedValuesComeBackFromTheOwnerOnlyFile) {
    saveSetting("atuser", "joão");
    saveSetting("atpwd", "s3gr=do;&#");
    EXPECT_EQ(getSetting("atuser"), "joão");
    EXPECT_EQ(getSetting("atpwd"), "s3gr=do;&#");
    EXPECT_EQ(settingsFilePath(), dir_.path() + "/KrvSis/KrvSis.ini");
    const auto perms = std::filesystem::status(settingsFilePath().toStdString()).permissions();
    EXPECT_EQ(perms, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST(Paths, BackslashTailsBecomeSlashesAndNothingIsAdded) {
    EXPECT_EQ(winJoin("/opt/krv", "\\update\\krv.mdb"), "/opt/krv/update/krv.mdb");
    EXPECT_EQ(winJoin("/opt/krv/", "\\Config.BD"), "/opt/krv//Config.BD");
    EXPECT_EQ(winJoin("/opt/krv", "Config.BD"), "/opt/krvConfig.BD");
}

TEST(Paths, HiddenFilesAndFoldersAreNotOrdinaryFiles) {
    QTemporaryDir d;
    QFile(d.filePath("a.zip")).open(QIODevice::WriteOnly);
    QFile(d.filePath(".b.zip")).open(QIODevice::WriteOnly);
    EXPECT_TRUE(ordinaryFileExists(d.filePath("a.zip")));
    EXPECT_FALSE(ordinaryFileExists(d.filePath(".b.zip")));
    EXPECT_FALSE(ordinaryFileExists(d.path()));
    EXPECT_FALSE(ordinaryFileExists(d.filePath("none")));
}

TEST(Paths, ModulesAreFoundWithOrWithoutTheExeEnding) {
    QTemporaryDir d;
    const QString folder = d.path() + "/";
    QFile(folder + "krvvenda").open(QIODevice::WriteOnly);
    EXPECT_EQ(moduleFile(folder, "krvvenda"), folder + "krvvenda");
    QFile(folder + "krvvenda.exe").open(QIODevice::WriteOnly);
    EXPECT_EQ(moduleFile(folder, "krvvenda"), folder + "krvvenda.exe");
}
