#include "common/release_deltas.h"

#include "common/release_manifest.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <QSet>

namespace krv::manifest {

namespace {

bool plainName(const QString& name) {
    return !name.isEmpty() && name.size() <= 255 && name != "." && name != ".." &&
           !name.contains('/') && !name.contains('\\') && !name.contains(QChar(0));
}

std::optional<qint64> readCount(const QJsonValue& v) {
    const double d = v.toDouble(-1);
    if (!v.isDouble() || d < 0 || d > 9007199254740991.0 || d != double(qint64(d)))
        return std::nullopt;
    return qint64(d);
}

bool isHash(const QString& text) {
    static const QRegularExpression hex(R"(^[0-9a-f]{64}\z)");
    return hex.match(text).hasMatch();
}

// A list of files by name, size and hash, each name once.
bool readFiles(const QJsonValue& v, QList<Member>& out) {
    if (!v.isArray() || v.toArray().size() > 10000)
        return false;
    QSet<QString> seen;
    for (const QJsonValue item : v.toArray()) {
        const QJsonObject o = item.toObject();
        const auto size = readCount(o["size"]);
        const Member m{o["name"].toString(), size.value_or(0), o["sha256"].toString()};
        if (!item.isObject() || !plainName(m.name) || !size || !isHash(m.sha256) ||
            seen.contains(m.name.toLower()))
            return false;
        seen.insert(m.name.toLower());
        out << m;
    }
    return true;
}

QJsonArray filesJson(const QList<Member>& files) {
    QJsonArray a;
    for (const Member& m : files)
        a.append(QJsonObject{{"name", m.name}, {"size", m.size}, {"sha256", m.sha256}});
    return a;
}

} // namespace

bool readMembers(const QJsonObject& o, Entry& e) {
    return !o.contains("members") || readFiles(o["members"], e.members);
}

bool readDeltas(const QJsonObject& root, Manifest& m) {
    if (!root.contains("deltas"))
        return true;
    if (!root["deltas"].isArray())
        return false;
    QSet<QString> seen;
    for (const QJsonValue item : root["deltas"].toArray()) {
        const QJsonObject o = item.toObject();
        Delta d;
        d.name = o["name"].toString();
        d.archive = o["archive"].toString();
        d.sha256 = o["sha256"].toString();
        d.algorithm = o["algorithm"].toString();
        d.fromVersion = o["from_version"].toString();
        const auto size = readCount(o["size"]), window = readCount(o["window"]);
        const Entry* target = m.find(d.archive);
        if (!item.isObject() || !plainName(d.name) || !d.name.endsWith(".delta") || !size ||
            !window || !isHash(d.sha256) || d.algorithm.isEmpty() || d.fromVersion.isEmpty() ||
            !target || target->kind != Kind::Module || m.find(d.name) ||
            seen.contains(d.name.toLower()) || !readFiles(o["sources"], d.sources))
            return false;
        d.size = *size;
        d.window = *window;
        seen.insert(d.name.toLower());
        m.deltas << d;
    }
    return true;
}

void writeMembers(const Entry& e, QJsonObject& o) {
    if (!e.members.isEmpty())
        o["members"] = filesJson(e.members);
}

void writeDeltas(const Manifest& m, QJsonObject& root) {
    if (m.deltas.isEmpty())
        return;
    QJsonArray a;
    for (const Delta& d : m.deltas)
        a.append(QJsonObject{{"name", d.name},
                             {"archive", d.archive},
                             {"size", d.size},
                             {"sha256", d.sha256},
                             {"algorithm", d.algorithm},
                             {"window", d.window},
                             {"from_version", d.fromVersion},
                             {"sources", filesJson(d.sources)}});
    root["deltas"] = a;
}

} // namespace krv::manifest
