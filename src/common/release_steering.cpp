#include "common/release_steering.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>

namespace krv::manifest {

namespace {

// Far more than any maker needs; bounds the work a hostile manifest can ask for.
constexpr qsizetype MaxItems = 1000;

std::optional<QDateTime> readTime(const QJsonValue& v) {
    static const QRegularExpression form(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ\z)");
    if (!v.isString() || !form.match(v.toString()).hasMatch())
        return std::nullopt;
    const QDateTime t = QDateTime::fromString(v.toString(), Qt::ISODate);
    return t.isValid() ? std::optional(t.toUTC()) : std::nullopt;
}

bool fail(QString* why, const QString& reason) {
    if (why)
        *why = reason;
    return false;
}

bool readVersions(const QJsonValue& value, QList<VersionRef>& into) {
    if (value.isUndefined())
        return true;
    if (!value.isArray() || value.toArray().size() > MaxItems)
        return false;
    for (const QJsonValue item : value.toArray()) {
        const QJsonObject o = item.toObject();
        const VersionRef v{o["kind"].toString(), o["name"].toString(), o["version"].toString()};
        if (!item.isObject() || !QStringList{"module", "menu", "assistant"}.contains(v.kind) ||
            v.name.isEmpty() || v.version.isEmpty() || v.name.size() > 255 || v.version.size() > 64)
            return false;
        into << v;
    }
    return true;
}

QJsonArray versionsJson(const QList<VersionRef>& list) {
    QJsonArray out;
    for (const VersionRef& v : list)
        out.append(QJsonObject{{"kind", v.kind}, {"name", v.name}, {"version", v.version}});
    return out;
}

// Version numbers (the menu's) compare as numbers; any other as text, code by code.
bool below(const QString& a, const QString& b, bool numbers) {
    bool aNumber = false, bNumber = false;
    const qulonglong x = a.toULongLong(&aNumber), y = b.toULongLong(&bNumber);
    if (numbers && aNumber && bNumber)
        return x < y;
    return QString::compare(a, b, Qt::CaseSensitive) < 0;
}

// Whether bucket lies below 100 x percent; the percent taken to hundredths of a bucket so
// that 1.1 % means buckets 0 to 109 whatever binary rounding makes of 1.1 x 100.
bool inside(int bucket, double percent) {
    return qint64(bucket) * 100 < std::llround(percent * 10000);
}

} // namespace

bool parseSteering(const QJsonObject& root, Steering& into, QString* why) {
    const QJsonValue rollout = root["rollout"];
    if (!rollout.isUndefined()) {
        const QJsonObject o = rollout.toObject();
        const QJsonValue stages = o["stages"], halted = o["halted"];
        if (!rollout.isObject() || !(stages.isUndefined() || stages.isArray()) ||
            !(halted.isUndefined() || halted.isBool()) || stages.toArray().size() > MaxItems)
            return fail(why, "as etapas de distribuição do manifesto são inválidas");
        into.staged = true;
        into.halted = halted.toBool();
        for (const QJsonValue s : stages.toArray()) {
            const QJsonValue percent = s.toObject()["percent"];
            const auto from = readTime(s.toObject()["from"]);
            if (!percent.isDouble() || !(percent.toDouble() >= 0 && percent.toDouble() <= 100) ||
                !from)
                return fail(why, "as etapas de distribuição do manifesto são inválidas");
            into.stages << Stage{percent.toDouble(), *from};
        }
    }
    if (!readVersions(root["withdrawn"], into.withdrawn))
        return fail(why, "a lista de versões retiradas do manifesto é inválida");
    if (!readVersions(root["minimum"], into.minimum))
        return fail(why, "a lista de versões mínimas do manifesto é inválida");
    return true;
}

void writeSteering(const Steering& steering, QJsonObject& root) {
    if (steering.staged || steering.halted || !steering.stages.isEmpty()) {
        QJsonArray stages;
        for (const Stage& s : steering.stages)
            stages.append(QJsonObject{
                {"percent", s.percent},
                {"from", s.from.toUTC().toString("yyyy-MM-ddTHH:mm:ssZ")},
            });
        root["rollout"] = QJsonObject{{"stages", stages}, {"halted", steering.halted}};
    }
    if (!steering.withdrawn.isEmpty())
        root["withdrawn"] = versionsJson(steering.withdrawn);
    if (!steering.minimum.isEmpty())
        root["minimum"] = versionsJson(steering.minimum);
}

int bucket(const QString& installationId, qint64 serial) {
    const QByteArray digest = QCryptographicHash::hash(
        (installationId + ':' + QString::number(serial)).toLatin1(), QCryptographicHash::Sha256);
    const auto byte = [&](int i) { return quint32(quint8(digest[i])); };
    const quint32 first = byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3);
    return int(first % 10000);
}

StageDecision decideStage(const Steering& steering, int bucket, const QDateTime& now) {
    StageDecision d;
    if (steering.halted) {
        d.take = false;
        d.halted = true;
        return d;
    }
    if (steering.stages.isEmpty())
        return d;
    const Stage* current = nullptr;
    for (const Stage& s : steering.stages)
        if (s.from <= now && (!current || s.from >= current->from))
            current = &s;
    d.take = current && inside(bucket, current->percent);
    if (d.take)
        return d;
    for (const Stage& s : steering.stages)
        if (s.from > now && inside(bucket, s.percent) && (!d.from.isValid() || s.from < d.from))
            d.from = s.from;
    return d;
}

const VersionRef* findVersion(const QList<VersionRef>& list, const QString& kind,
                              const QString& name) {
    const auto it = std::find_if(list.begin(), list.end(), [&](const VersionRef& v) {
        return v.kind == kind && (kind == "menu" || v.name.compare(name, Qt::CaseInsensitive) == 0);
    });
    return it == list.end() ? nullptr : &*it;
}

bool isWithdrawn(const Steering& steering, const QString& kind, const QString& name,
                 const QString& version) {
    return std::any_of(
        steering.withdrawn.begin(), steering.withdrawn.end(), [&](const VersionRef& v) {
            return v.kind == kind && v.version == version &&
                   (kind == "menu" || v.name.compare(name, Qt::CaseInsensitive) == 0);
        });
}

QString minimumAbove(const Steering& steering, const QString& kind, const QString& name,
                     const QString& installed) {
    const VersionRef* m = findVersion(steering.minimum, kind, name);
    if (!m || !below(installed, m->version, kind == "menu"))
        return {};
    return m->version;
}

} // namespace krv::manifest
