#include "deltas.h"

#include "common/delta_file.h"
#include "runs/mod_add_zip.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>
#include <memory>

namespace krv::sign {

namespace {

using manifest::Entry;
using manifest::Member;

// control01.32.00.zip with version 01.32.00: control.
QString moduleBase(const Entry& e) {
    const QString stem = e.name.left(e.name.size() - 4);
    if (!e.version.isEmpty() && stem.endsWith(e.version))
        return stem.left(stem.size() - e.version.size()).toLower();
    return stem.toLower();
}

// The archive unpacked flat into a scratch folder, with its members by name, size and hash.
struct Unpacked {
    std::unique_ptr<QTemporaryDir> dir = std::make_unique<QTemporaryDir>();
    QList<Member> members;
    QString path(const QString& name) const { return dir->filePath(name); }
    const Member* find(const QString& name) const {
        for (const Member& m : members)
            if (m.name == name)
                return &m;
        return nullptr;
    }
};

std::optional<Unpacked> unpack(const QString& archive, QString* why) {
    Unpacked u;
    try {
        runs::Descompacta(archive, "*.*", u.dir->path(), 0);
    } catch (const std::exception& e) {
        *why = QString::fromLocal8Bit(e.what());
        return std::nullopt;
    }
    for (const QFileInfo& f : QDir(u.dir->path()).entryInfoList(QDir::Files, QDir::Name))
        u.members << Member{f.fileName(), f.size(), manifest::fileSha256(f.filePath())};
    return u;
}

std::optional<manifest::Manifest> readManifest(const QString& folder) {
    QFile f(QDir(folder).filePath(manifest::FileName));
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    return manifest::parse(f.read(manifest::MaxBytes + 1));
}

bool isVersionBefore(const QString& a, const QString& b) {
    return QString::compare(a, b, Qt::CaseSensitive) < 0;
}

// The delta of fresh from the old release's archive in oldFolder; nullopt (nothing written)
// when it would not be small enough. Sets why on a failure.
std::optional<manifest::Delta> makeDelta(const Entry& fresh, const Unpacked& now, const Entry& old,
                                         const QString& oldFolder, const QString& folder,
                                         QString* why) {
    const auto before = unpack(QDir(oldFolder).filePath(old.name), why);
    if (!before)
        return std::nullopt;
    manifest::Delta d;
    d.name = moduleBase(fresh) + old.version + "-" + fresh.version + ".delta";
    d.archive = fresh.name;
    d.algorithm = delta::Algorithm;
    d.fromVersion = old.version;
    QList<delta::Source> sources;
    for (const Member& m : now.members) {
        const Member* was = before->find(m.name);
        sources << delta::Source{m.name, now.path(m.name), was ? before->path(m.name) : QString()};
        if (was)
            d.sources << *was;
    }
    const QString path = QDir(folder).filePath(d.name);
    const auto made = delta::make(sources, path, why);
    if (!made) {
        QFile::remove(path);
        return std::nullopt;
    }
    d.size = QFileInfo(path).size();
    d.sha256 = manifest::fileSha256(path);
    d.window = std::max<qint64>(made->window, 1024);
    if (double(d.size) > kMaxDeltaShare * double(fresh.size)) {
        std::printf("delta %s left out: %lld bytes, not 20%% below the archive's %lld\n",
                    qPrintable(d.name), static_cast<long long>(d.size),
                    static_cast<long long>(fresh.size));
        QFile::remove(path);
        return std::nullopt;
    }
    return d;
}

} // namespace

bool addDeltas(manifest::Manifest& manifest, const QString& folder, const QStringList& oldFolders,
               QString* why) {
    for (const QString& stale : QDir(folder).entryList({"*.delta"}, QDir::Files))
        QFile::remove(QDir(folder).filePath(stale));
    QList<std::optional<manifest::Manifest>> earlier;
    for (const QString& old : oldFolders) {
        earlier << readManifest(old);
        if (!earlier.last()) {
            *why = "no readable " + manifest::FileName + " in " + old;
            return false;
        }
    }
    for (Entry& e : manifest.files) {
        if (e.kind != manifest::Kind::Module)
            continue;
        const auto now = unpack(QDir(folder).filePath(e.name), why);
        if (!now)
            return false;
        e.members = now->members;
        for (qsizetype i = 0; i < oldFolders.size(); ++i)
            for (const Entry& old : earlier[i]->files) {
                if (old.kind != manifest::Kind::Module || moduleBase(old) != moduleBase(e) ||
                    old.version.isEmpty() || !isVersionBefore(old.version, e.version))
                    continue;
                why->clear();
                const auto d = makeDelta(e, *now, old, oldFolders[i], folder, why);
                if (!d && !why->isEmpty())
                    return false;
                if (d && !manifest.find(d->name)) {
                    bool twice = false;
                    for (const manifest::Delta& listed : manifest.deltas)
                        twice = twice || listed.name == d->name;
                    if (!twice)
                        manifest.deltas << *d;
                }
            }
    }
    return true;
}

bool verifyDeltas(const manifest::Manifest& manifest, const QString& folder) {
    bool ok = true;
    const auto fault = [&](const QString& text) {
        std::fprintf(stderr, "krv-sign: %s\n", qPrintable(text));
        ok = false;
    };
    for (const manifest::Delta& d : manifest.deltas) {
        const QString path = QDir(folder).filePath(d.name);
        if (!QFileInfo(path).isFile())
            fault(d.name + ": listed but missing");
        else if (QFileInfo(path).size() != d.size || manifest::fileSha256(path) != d.sha256)
            fault(d.name + ": differs from the manifest");
        else if (d.algorithm != delta::Algorithm)
            fault(d.name + ": algorithm " + d.algorithm + " unknown");
        else
            std::printf("OK %s\n", qPrintable(d.name));
    }
    for (const Entry& e : manifest.files) {
        if (e.members.isEmpty() || !QFileInfo(QDir(folder).filePath(e.name)).isFile())
            continue;
        QString why;
        const auto now = unpack(QDir(folder).filePath(e.name), &why);
        bool same = now && now->members.size() == e.members.size();
        for (qsizetype i = 0; same && i < e.members.size(); ++i)
            same = now->members[i].name == e.members[i].name &&
                   now->members[i].size == e.members[i].size &&
                   now->members[i].sha256 == e.members[i].sha256;
        if (!same)
            fault(e.name + ": its members differ from the manifest");
    }
    for (const QString& name : QDir(folder).entryList({"*.delta"}, QDir::Files)) {
        bool listed = false;
        for (const manifest::Delta& d : manifest.deltas)
            listed = listed || d.name.compare(name, Qt::CaseInsensitive) == 0;
        if (!listed)
            fault(name + ": not listed in the manifest");
    }
    return ok;
}

} // namespace krv::sign
