#include "download/transfer_stats.h"

#include "common/arredonda.h"

#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QStringList>

#include <cmath>

namespace krv::download {

namespace {

// Shortest decimal form, the user's decimal separator, no grouping.
QString numberText(double v) {
    QString s = QString::number(v + 0.0, 'g', QLocale::FloatingPointShortest);
    return s.replace('.', QLocale().decimalPoint());
}

// Plain whole-number text; never "-0".
QString wholeText(double v) {
    return QString::number(v + 0.0, 'f', 0);
}

// The runtime's conversion to a whole number: halves go to the even neighbour.
double toWhole(double v) {
    return std::nearbyint(v);
}

QString& routeTablePath() {
    static QString path;
    return path;
}

} // namespace

// The texts are asked for once per chunk and mostly repeat: the last one is kept.
struct LastText {
    int kind = -1;
    double a = 0, b = 0;
    QString text;
    bool same(int k, double x, double y) const { return kind == k && a == x && b == y; }
};

QString FormatRate(double rate) {
    static LastText last;
    // Fractions between the ranges belong to the lower one.
    int kind;
    double shown;
    if (rate >= 0 && rate < 1024) {
        kind = 0;
        shown = Arredonda(rate, 0);
    } else if (rate >= 1024 && rate < 1048576) {
        kind = 1;
        shown = Arredonda(rate / 1024, 2);
    } else {
        return {};
    }
    const QChar separator = QLocale().decimalPoint().front();
    if (!last.same(kind, shown, separator.unicode()))
        last = {kind, shown, double(separator.unicode()),
                numberText(shown) + (kind == 0 ? " Bytes/S" : " KB/S")};
    return last.text;
}

QString FormatTime(float timeLeft) {
    static LastText last;
    const double s = timeLeft;
    if (!std::isfinite(s))
        return {};
    if (s >= 0 && s < 60) {
        const double sec = toWhole(s);
        if (!last.same(0, sec, 0))
            last = {0, sec, 0, wholeText(sec) + " sec"};
    } else if (s >= 60 && s < 3600) {
        const double min = std::floor(s / 60), sec = std::fmod(toWhole(s), 60);
        if (!last.same(1, min, sec))
            last = {1, min, sec, wholeText(min) + " min " + wholeText(sec) + " sec"};
    } else {
        const double hr = std::floor(s / 3600), min = std::fmod(toWhole(s / 60), 60);
        if (!last.same(2, hr, min))
            last = {2, hr, min, wholeText(hr) + " hr " + wholeText(min) + " min"};
    }
    return last.text;
}

ConnectionFlags connectionFlags(const QString& routeTable, bool proxyInEnvironment) {
    ConnectionFlags flags;
    const QStringList lines = routeTable.split('\n', Qt::SkipEmptyParts);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QStringList f = lines[i].split(QRegularExpression("\\s+"), Qt::SkipEmptyParts);
        if (f.size() < 4 || f[1] != "00000000")
            continue;
        bool ok = false;
        const uint routeFlags = f[3].toUInt(&ok, 16);
        if (!ok || !(routeFlags & 1u)) // not up
            continue;
        flags.online = true;
        if (f[0].startsWith("ppp"))
            flags.modem = true;
        else
            flags.lan = true;
    }
    flags.proxy = proxyInEnvironment;
    return flags;
}

ConnectionFlags currentConnection() {
    const QString path = routeTablePath().isEmpty() ? "/proc/net/route" : routeTablePath();
    QFile f(path);
    QString table;
    if (f.open(QIODevice::ReadOnly))
        table = QString::fromLatin1(f.readAll());
    bool proxy = false;
    for (const char* name :
         {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        if (!qEnvironmentVariableIsEmpty(name))
            proxy = true;
    return connectionFlags(table, proxy);
}

void setRouteTablePath(const QString& path) {
    routeTablePath() = path;
}

} // namespace krv::download
