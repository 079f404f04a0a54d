#include "database/connection.h"
#include "navigation/modulos.h"
#include "test_db.h"

#include <gtest/gtest.h>

using namespace krv;
using navigation::moduleCode;
using navigation::sortsBefore;

TEST(VersionComparison, IsByCharacterCodeNotByNumber) {
    EXPECT_FALSE(sortsBefore("01.31.00", "01.31.00"));
    EXPECT_TRUE(sortsBefore("01.31.00", "01.32.00"));
    EXPECT_FALSE(sortsBefore("01.31.00", "01.100.00")); // "1" sorts before "3"
    EXPECT_TRUE(sortsBefore("01.31.00", "1.32"));       // "1" sorts after "0"
    EXPECT_FALSE(sortsBefore("01.32.00", "01.31.00"));
    EXPECT_TRUE(sortsBefore("01.31", "01.31.00")); // a prefix sorts first
    EXPECT_TRUE(sortsBefore("", "00.00.00"));      // no version read: anything is newer
    // Modules are due when they sort before; the database and menu on any difference.
    using Kind = runs::WorkItem::Kind;
    EXPECT_FALSE(runs::isDue(Kind::Module, QString("01.31.00"), "01.100.00"));
    EXPECT_TRUE(runs::isDue(Kind::Assistant, QString("01.31.00"), "01.32.00"));
    EXPECT_TRUE(runs::isDue(Kind::Menu, QString("000005"), "000004"));
    EXPECT_FALSE(runs::isDue(Kind::Menu, QString("000005"), "000005"));
    EXPECT_TRUE(runs::isDue(Kind::Database, QString(), "000131"));
    // A downgrade: numbers as numbers, anything else as text.
    EXPECT_TRUE(runs::isOlder("131", "0132"));
    EXPECT_FALSE(runs::isOlder("0132", "131"));
    EXPECT_TRUE(runs::isOlder("01.31.00", "01.32.00"));
    EXPECT_TRUE(runs::isOlder("01.100.00", "01.31.00")); // as text, not as numbers
}

TEST(ModuleCode, NumbersRoundAndAnythingElseIsSkipped) {
    EXPECT_EQ(moduleCode("0"), 0);
    EXPECT_EQ(moduleCode(" 11 "), 11);
    EXPECT_EQ(moduleCode("2.5"), 2); // halves go to the even neighbour
    EXPECT_EQ(moduleCode("3.5"), 4);
    EXPECT_EQ(moduleCode("abc"), std::nullopt);
    EXPECT_EQ(moduleCode(""), std::nullopt);
    EXPECT_EQ(moduleCode("12a"), std::nullopt);
    EXPECT_EQ(moduleCode("99999999999"), std::nullopt);
}

TEST(WorkList, ArchiveNamesFromTheServerStayInsideTheUpdateFolder) {
    EXPECT_EQ(navigation::workListArchive("krvvenda", "01.32.00"), "krvvenda01.32.00.zip");
    EXPECT_EQ(navigation::workListArchive("../../etc/krv", "01"), "");
    EXPECT_EQ(navigation::workListArchive("krvvenda", "1/../../../x"), "");
    EXPECT_EQ(navigation::workListArchive("a\\b", "01"), "");
    EXPECT_EQ(navigation::workListArchive("", "01"), "");
}

class InstalledVersions : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(db_.ok());
        database::Conexao().Open(1, db_.connectionString());
    }
    void TearDown() override { database::Conexao().close(); }
    test::ScratchDatabase db_;
};

TEST_F(InstalledVersions, AreReadFromTheFirstRowOfLicensaWithSixDigits) {
    db_.exec("create table licensa (ult_atualizacao int, atmenu varchar(10))");
    db_.exec("insert into licensa values (131, '5'), (999, '999')");
    EXPECT_EQ(navigation::PegaAtBD(), "000131");
    EXPECT_EQ(navigation::PegaAtMNU(), "000005");
    db_.exec("update licensa set ult_atualizacao = 12345678");
    EXPECT_EQ(navigation::PegaAtBD(), "12345678");
}

TEST_F(InstalledVersions, AreEmptyWhenTheyCannotBeRead) {
    EXPECT_EQ(navigation::PegaAtBD(), ""); // no table at all
    db_.exec("create table licensa (ult_atualizacao int, atmenu int)");
    EXPECT_EQ(navigation::PegaAtBD(), "");
    EXPECT_EQ(navigation::PegaAtMNU(), "");
    db_.exec("insert into licensa values (null, 12)");
    EXPECT_EQ(navigation::PegaAtBD(), "");
    EXPECT_EQ(navigation::PegaAtMNU(), "000012");
}
