#include "common/arredonda.h"
#include "download/transfer_stats.h"
#include "platform/krv_error.h"

#include <QLocale>
#include <gtest/gtest.h>

#include <limits>

using namespace krv;
using namespace krv::download;

TEST(Arredonda, HalvesGoUpwardAtAnyNumberOfDigits) {
    EXPECT_EQ(Arredonda(1.5, 0), 2);
    EXPECT_EQ(Arredonda(-1.5, 0), -1);
    EXPECT_EQ(Arredonda(2.5, 0), 3);
    EXPECT_EQ(Arredonda(-2.5, 0), -2);
    EXPECT_DOUBLE_EQ(Arredonda(12.3456, 2), 12.35);
    EXPECT_EQ(Arredonda(12.5, 0), 13);
    EXPECT_THROW(Arredonda(std::numeric_limits<double>::max(), 2), KrvError);
}

TEST(FormatRate, BytesThenKilobytesThenNothing) {
    EXPECT_EQ(FormatRate(0), "0 Bytes/S");
    EXPECT_EQ(FormatRate(512), "512 Bytes/S");
    EXPECT_EQ(FormatRate(1023), "1023 Bytes/S");
    EXPECT_EQ(FormatRate(1024), "1 KB/S");
    EXPECT_EQ(FormatRate(1536), "1.5 KB/S");
    EXPECT_EQ(FormatRate(1048575), "1024 KB/S");
    EXPECT_EQ(FormatRate(1048576), "");
    EXPECT_EQ(FormatRate(5e9), "");
    EXPECT_EQ(FormatRate(-1), "");
    EXPECT_EQ(FormatRate(std::numeric_limits<double>::quiet_NaN()), "");
}

TEST(FormatRate, FractionsBetweenRangesGoToTheLowerOne) {
    EXPECT_EQ(FormatRate(1023.5), "1024 Bytes/S");
    EXPECT_EQ(FormatRate(1048575.5), "1024 KB/S");
    EXPECT_EQ(FormatRate(1234.5678), "1.21 KB/S");
}

TEST(FormatRate, UsesTheUsersDecimalSeparator) {
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
    EXPECT_EQ(FormatRate(1536), "1,5 KB/S");
    EXPECT_EQ(FormatRate(1126.4), "1,1 KB/S");
    EXPECT_EQ(FormatRate(100.4), "100 Bytes/S");
    QLocale::setDefault(saved);
}

TEST(FormatTime, SecondsMinutesHours) {
    EXPECT_EQ(FormatTime(0), "0 sec");
    EXPECT_EQ(FormatTime(42), "42 sec");
    EXPECT_EQ(FormatTime(59), "59 sec");
    EXPECT_EQ(FormatTime(60), "1 min 0 sec");
    EXPECT_EQ(FormatTime(125), "2 min 5 sec");
    EXPECT_EQ(FormatTime(3599), "59 min 59 sec");
    EXPECT_EQ(FormatTime(3600), "1 hr 0 min");
    EXPECT_EQ(FormatTime(7385), "2 hr 3 min");
    EXPECT_EQ(FormatTime(-5), "-1 hr 0 min");
}

TEST(FormatTime, WholeNumbersRoundHalvesToEvenAndFractionsStayInTheLowerRange) {
    EXPECT_EQ(FormatTime(59.5f), "60 sec");
    EXPECT_EQ(FormatTime(62.5f), "1 min 2 sec");
    EXPECT_EQ(FormatTime(63.5f), "1 min 4 sec");
    EXPECT_EQ(FormatTime(3599.5f), "59 min 0 sec");
    EXPECT_EQ(FormatTime(5430), "1 hr 30 min"); // 90.5 minutes round to 90
}

TEST(ConnectionFlags, DefaultRouteInterfaceAndProxy) {
    const QString header = "Iface\tDestination\tGateway\tFlags\tRefCnt\tUse\tMetric\tMask\n";
    const auto lan = connectionFlags(header + "eth0\t00000000\t010200C0\t0003\t0\t0\t0\t00000000\n"
                                              "eth0\t000200C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\n",
                                     false);
    EXPECT_TRUE(lan.online);
    EXPECT_TRUE(lan.lan);
    EXPECT_FALSE(lan.modem);
    EXPECT_FALSE(lan.proxy);

    const auto modem =
        connectionFlags(header + "ppp0\t00000000\t00000000\t0001\t0\t0\t0\t00000000\n", true);
    EXPECT_TRUE(modem.online);
    EXPECT_TRUE(modem.modem);
    EXPECT_FALSE(modem.lan);
    EXPECT_TRUE(modem.proxy);

    // Only a local network route, or a default route that is down: offline.
    const auto none =
        connectionFlags(header + "eth0\t000200C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\n"
                                 "eth1\t00000000\t010200C0\t0002\t0\t0\t0\t00000000\n",
                        true);
    EXPECT_FALSE(none.online);
    EXPECT_FALSE(none.lan);
    EXPECT_TRUE(none.proxy);
}
