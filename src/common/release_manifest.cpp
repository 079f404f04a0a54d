#include "common/release_manifest.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>

namespace krv::manifest {

namespace {

// Far more than any release ships; bounds the work a hostile manifest can ask for.
constexpr qsizetype MaxFiles = 10000;

bool plainName(const QString& name) {
    return !name.isEmpty() && name.size() <= 255 && name != "." && name != ".." &&
           !name.contains('/') && !name.contains('\\') && !name.contains(QChar(0));
}

std::optional<QDateTime> readTime(const QJsonValue& v) {
    static const QRegularExpression form(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ\z)");
    if (!v.isString() || !form.match(v.toString()).hasMatch())
        return std::nullopt;
    QDateTime t = QDateTime::fromString(v.toString(), Qt::ISODate);
    if (!t.isValid())
        return std::nullopt;
    return t.toUTC();
}

// A JSON number that is a whole number a 64-bit integer holds exactly.
std::optional<qint64> readInteger(const QJsonValue& v) {
    if (!v.isDouble())
        return std::nullopt;
    const double d = v.toDouble();
    if (d != d || d < 0 || d > 9007199254740991.0 || d != static_cast<double>(qint64(d)))
        return std::nullopt;
    return qint64(d);
}

std::optional<Manifest> refuse(QString* why, const QString& reason) {
    if (why)
        *why = reason;
    return std::nullopt;
}

} // namespace

Kind kindOf(const QString& name) {
    const QString lower = name.toLower();
    if (lower == "krv.mdb")
        return Kind::Database;
    if (lower.endsWith(".krv"))
        return Kind::Menu;
    if (lower.endsWith(".zip"))
        return lower.startsWith("zelvor") ? Kind::Assistant : Kind::Module;
    return Kind::Other;
}

QString kindText(Kind kind) {
    switch (kind) {
    case Kind::Module:
        return "module";
    case Kind::Database:
        return "database";
    case Kind::Menu:
        return "menu";
    case Kind::Assistant:
        return "assistant";
    case Kind::Other:
        break;
    }
    return "other";
}

const Entry* Manifest::find(const QString& name) const {
    for (const Entry& e : files)
        if (e.name.compare(name, Qt::CaseInsensitive) == 0)
            return &e;
    return nullptr;
}

QList<const Delta*> Manifest::deltasFor(const QString& archive) const {
    QList<const Delta*> out;
    for (const Delta& d : deltas)
        if (d.archive.compare(archive, Qt::CaseInsensitive) == 0)
            out << &d;
    return out;
}

QString isoUtc(const QDateTime& time) {
    return time.toUTC().toString("yyyy-MM-ddTHH:mm:ssZ");
}

std::optional<Manifest> parse(const QByteArray& json, QString* why) {
    if (json.size() > MaxBytes)
        return refuse(why, "o manifesto excede o tamanho máximo");
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return refuse(why, "o manifesto não é um documento JSON válido");
    const QJsonObject root = doc.object();
    Manifest m;
    const auto serial = readInteger(root["serial"]);
    const auto issued = readTime(root["issued"]);
    const auto expires = readTime(root["expires"]);
    if (!serial)
        return refuse(why, "o número de série do manifesto é inválido");
    if (!issued || !expires || *expires <= *issued)
        return refuse(why, "as datas de emissão e validade do manifesto são inválidas");
    m.serial = *serial;
    m.issued = *issued;
    m.expires = *expires;
    const QJsonValue files = root["files"];
    if (!files.isArray() || files.toArray().size() > MaxFiles)
        return refuse(why, "a lista de arquivos do manifesto é inválida");
    static const QRegularExpression hex(R"(^[0-9a-f]{64}\z)");
    QSet<QString> seen;
    for (const QJsonValue item : files.toArray()) {
        const QJsonObject o = item.toObject();
        Entry e;
        e.name = o["name"].toString();
        const auto size = readInteger(o["size"]);
        e.sha256 = o["sha256"].toString();
        const QString kind = o["kind"].toString();
        const QJsonValue version = o["version"];
        if (!item.isObject() || !plainName(e.name) || !size || !hex.match(e.sha256).hasMatch() ||
            kind != kindText(kindOf(e.name)) || !(version.isUndefined() || version.isString()))
            return refuse(why, "o manifesto lista um arquivo de forma inválida");
        e.size = *size;
        e.kind = kindOf(e.name);
        e.version = version.toString();
        if (!readMembers(o, e))
            return refuse(why, "o manifesto lista os membros de " + e.name + " de forma inválida");
        if (seen.contains(e.name.toLower()))
            return refuse(why, "o manifesto lista o arquivo " + e.name + " mais de uma vez");
        seen.insert(e.name.toLower());
        m.files << e;
    }
    if (!readDeltas(root, m))
        return refuse(why, "o manifesto lista os deltas de forma inválida");
    if (!parseSteering(root, m.steering, why))
        return std::nullopt;
    return m;
}

QByteArray serialize(const Manifest& manifest) {
    QJsonArray files;
    for (const Entry& e : manifest.files) {
        QJsonObject o{
            {"name", e.name}, {"size", e.size}, {"sha256", e.sha256}, {"kind", kindText(e.kind)}};
        if (!e.version.isEmpty())
            o["version"] = e.version;
        writeMembers(e, o);
        files.append(o);
    }
    QJsonObject root{{"serial", manifest.serial},
                     {"issued", isoUtc(manifest.issued)},
                     {"expires", isoUtc(manifest.expires)},
                     {"files", files}};
    writeDeltas(manifest, root);
    writeSteering(manifest.steering, root);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

QString fileSha256(const QString& path) {
    QFile f(path);
    QCryptographicHash sha(QCryptographicHash::Sha256);
    if (!f.open(QIODevice::ReadOnly) || !sha.addData(&f))
        return {};
    return QString::fromLatin1(sha.result().toHex());
}

} // namespace krv::manifest
