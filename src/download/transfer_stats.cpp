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

QString FormatRate(double rate) {
    // Fractions between the ranges belong to the lower one.
    if (rate >= 0 && rate < 1024)
        return numberText(Arredonda(rate, 0)) + " Bytes/S";
    if (rate >= 1024 && rate < 1048576)
        return numberText(Arredonda(rate / 1024, 2)) + " KB/S";
    return {};
}

QString FormatTime(float timeLeft) {
    const double s = timeLeft;
    if (!std::isfinite(s))
        return {};
    if (s >= 0 && s < 60)
        return wholeText(toWhole(s)) + " sec";
    if (s >= 60 && s < 3600)
        return wholeText(std::floor(s / 60)) + " min " + wholeText(std::fmod(toWhole(s), 60)) +
               " sec";
    return wholeText(std::floor(s / 3600)) + " hr " + wholeText(std::fmod(toWhole(s / 60), 60)) +
           " min";
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
