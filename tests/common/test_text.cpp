#include "common/text.h"

#include <gtest/gtest.h>

using namespace krv::text;

TEST(CodePage, Windows1252CoversTheHighRangeBothWays) {
    const QByteArray bytes("\x80\x93\xE7\xE3o \x9F", 7);
    const QString s = fromCp1252(bytes);
    EXPECT_EQ(s, QString::fromUtf8("€“ção Ÿ"));
    EXPECT_EQ(toCp1252(s), bytes);
    EXPECT_EQ(toCp1252(QString::fromUtf8("日")), QByteArray("?"));
}

TEST(CodePage, ValidUtf8IsUtf8AndAnythingElseIsWindows1252) {
    EXPECT_EQ(decodeLegacy(QByteArray("a\xC3\xA7\xC3\xA3o")), QString::fromUtf8("ação"));
    EXPECT_EQ(decodeLegacy(QByteArray("a\xE7\xE3o")), QString::fromUtf8("ação"));
}

TEST(Lines, CrLfAndLfEndsAndAnUnendedLastLine) {
    EXPECT_EQ(splitLines("a\r\nb\nc"), QStringList({"a", "b", "c"}));
    EXPECT_EQ(splitLines("a\r\n\r\n"), QStringList({"a", ""}));
    EXPECT_EQ(splitLines(""), QStringList());
}

TEST(NumberForms, ZeroPaddingNeverCutsAndPrintFormHasBlanks) {
    EXPECT_EQ(formatZeros(132, 6), "000132");
    EXPECT_EQ(formatZeros(1234567, 6), "1234567");
    EXPECT_EQ(formatZeros(-5, 2), "-05");
    EXPECT_EQ(printForm(1), " 1 ");
    EXPECT_EQ(printForm(-12), "-12 ");
}
