#include "runs/delta_update.h"

#include "common/delta_file.h"
#include "common/updatekrv.h"
#include "platform/krv_error.h"
#include "platform/scratch_file.h"
#include "runs/archive_names.h"
#include "runs/dir_run.h"
#include "runs/leftovers.h"
#include "runs/release_check.h"
#include "runs/update_record.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <sys/stat.h>
#include <unistd.h>

namespace krv::runs::delta {

namespace {

using manifest::Delta;
using manifest::Entry;

QString memoryFile(const QString& suiteFolder) {
    return suiteFolder + "/atualizacoes/deltas-recusados.txt";
}

QString mib(qint64 bytes) {
    return QString::number(double(bytes) / (1024 * 1024), 'f', 1) + " MiB";
}

// The delta to fetch for archive: every file it starts from installed as listed, its window
// under the cap, not failed before; the smallest of those. Else why none (reason), and whether
// one was listed that could have served but for a fault of its own (tried).
struct Choice {
    const Delta* delta = nullptr;
    QString reason;
    bool tried = false;
};

Choice choose(const manifest::Manifest& release, const QString& archive,
              const QString& suiteFolder) {
    const Entry* entry = release.find(archive);
    const QList<const Delta*> listed = release.deltasFor(archive);
    Choice c;
    if (listed.isEmpty() || !entry || entry->members.isEmpty()) {
        c.reason = "nenhum delta publicado para este módulo";
        return c;
    }
    QHash<QString, QString> hashes; // installed name -> SHA-256, each file read once
    const auto installedAs = [&](const manifest::Member& m) {
        const QString path = suiteFolder + '/' + m.name;
        const QFileInfo info(path);
        if (!info.isFile() || info.size() != m.size)
            return false;
        if (!hashes.contains(m.name))
            hashes[m.name] = manifest::fileSha256(path);
        return hashes[m.name] == m.sha256;
    };
    c.reason = "os arquivos instalados não correspondem a nenhum delta publicado";
    for (const Delta* d : listed) {
        bool matches = d->algorithm == krv::delta::Algorithm;
        for (const manifest::Member& m : d->sources)
            matches = matches && installedAs(m);
        if (!matches)
            continue;
        if (failedBefore(suiteFolder, release.serial, d->name)) {
            c.reason = "o delta " + d->name + " já falhou nesta versão";
            continue;
        }
        if (d->window > kMaxWindow) {
            c.reason = "o delta " + d->name + " exige " + mib(d->window) +
                       " de memória, acima do limite de " + mib(kMaxWindow);
            c.tried = true;
            rememberFailed(suiteFolder, release.serial, d->name);
            continue;
        }
        if (!c.delta || d->size < c.delta->size)
            c.delta = d;
    }
    return c;
}

// A fresh scratch file beside the suite's files, named as extraction temporaries are, so that
// a run cut off leaves nothing a later run does not clear.
QString scratchIn(const QString& folder) {
    QByteArray path =
        QFile::encodeName(folder + "/" + platform::stampedName(kExtractionPrefix, "XXXXXX"));
    const int fd = ::mkstemp(path.data());
    if (fd < 0)
        return {};
    ::close(fd);
    return QFile::decodeName(path);
}

mode_t modeFor(const QString& installed) {
    struct stat st;
    if (::stat(QFile::encodeName(installed).constData(), &st) == 0)
        return st.st_mode & 07777;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// Rebuilds the archive's members from deltaPath; the files, or why not (nothing left behind).
std::optional<std::vector<StagedMember>> rebuild(const Entry& entry, const Delta& d,
                                                 const QString& deltaPath,
                                                 const QString& suiteFolder, QString& why) {
    std::vector<StagedMember> files;
    const auto discard = [&] {
        for (const StagedMember& f : files)
            QFile::remove(f.path);
        return std::nullopt;
    };
    krv::delta::Rebuild how;
    how.installed = [&](const QString& name) { return suiteFolder + '/' + name; };
    how.output = [&](const QString& name) {
        const QString path = scratchIn(suiteFolder);
        if (!path.isEmpty())
            files.push_back({name, path});
        return path;
    };
    how.expectedSize = [&](const QString& name) -> qint64 {
        for (const manifest::Member& m : entry.members)
            if (m.name == name)
                return m.size;
        return -1;
    };
    how.window = d.window;
    QList<krv::delta::Member> done;
    if (!krv::delta::apply(deltaPath, how, done, &why)) {
        why = "o delta " + d.name + " não pôde ser aplicado (" + why + ")";
        return discard();
    }
    if (files.size() != size_t(entry.members.size())) {
        why = "o delta " + d.name + " não reconstrói todos os arquivos do módulo";
        return discard();
    }
    for (const manifest::Member& m : entry.members) {
        const auto f = std::find_if(files.begin(), files.end(),
                                    [&](const StagedMember& s) { return s.name == m.name; });
        if (f == files.end() || QFileInfo(f->path).size() != m.size ||
            manifest::fileSha256(f->path) != m.sha256) {
            why = "o arquivo " + m.name + " reconstruído pelo delta " + d.name +
                  " não confere com o manifesto da versão";
            return discard();
        }
        ::chmod(QFile::encodeName(f->path).constData(), modeFor(suiteFolder + '/' + m.name));
    }
    return files;
}

void removeFetched(const QString& path) {
    QFile::remove(path);
    QFile::remove(partFile(path));
    QFile::remove(partRecord(path));
}

// The delta at path checked and rebuilt into attempt; a failure is remembered.
void rebuildInto(Attempt& a, const manifest::Manifest& release, const Delta& d, const QString& path,
                 const QString& suiteFolder) {
    QString why;
    std::optional<std::vector<StagedMember>> files;
    if (QFileInfo(path).size() != d.size || manifest::fileSha256(path) != d.sha256)
        why = "o delta " + d.name + " não confere com o manifesto da versão";
    else
        files = rebuild(*release.find(d.archive), d, path, suiteFolder, why);
    if (!files) {
        a.fallback = why;
        rememberFailed(suiteFolder, release.serial, d.name);
        return;
    }
    a.served = true;
    a.files = std::move(*files);
}

} // namespace

Attempt tryDelta(const manifest::Manifest& release, const QString& archive,
                 const QString& suiteFolder, const QString& updateFolder, const FetchOne& fetch) {
    Attempt a;
    const Choice c = choose(release, archive, suiteFolder);
    a.fallback = c.reason;
    a.tried = c.tried;
    if (!c.delta)
        return a;
    const Delta& d = *c.delta;
    a.tried = true;
    a.delta = d.name;
    const QString path = updateFolder + '/' + d.name;
    const FetchOutcome got = fetch(d.name, path, d.size);
    if (got.cancelled || (!got.whole && QFileInfo(partFile(path)).size() > 0)) {
        a.cutOff = got;
        return a;
    }
    if (!got.whole) {
        a.fallback = "o delta " + d.name + " não foi baixado: " + got.reason;
        removeFetched(path);
        rememberFailed(suiteFolder, release.serial, d.name);
        return a;
    }
    a.bytes = got.received;
    rebuildInto(a, release, d, path, suiteFolder);
    if (!a.served)
        removeFetched(path);
    return a;
}

Attempt forRun(const manifest::Manifest* release, UpdateRecord& record, const QString& archive,
               const QString& updateFolder, const FetchOne& fetch,
               const std::function<void(const QString&)>& status) {
    const Entry* entry = release ? release->find(archive) : nullptr;
    if (!entry || entry->kind != manifest::Kind::Module)
        return {};
    Attempt a = tryDelta(*release, archive, updatekrv::DirSis, updateFolder, fetch);
    if (a.served) {
        record.signatureVerified(a.delta);
        record.deltaServed(archive, a.delta, a.bytes, entry->size);
    } else if (!a.cutOff)
        record.deltaNotUsed(archive, a.fallback);
    if (a.tried && !a.served && !a.cutOff)
        status("Baixando o arquivo completo de " + archive + ": " + a.fallback);
    return a;
}

Attempt tryMediumDelta(const manifest::Manifest& release, const QString& archive,
                       const QString& suiteFolder, const QString& folder) {
    Attempt a;
    const Choice c = choose(release, archive, suiteFolder);
    a.fallback = c.reason;
    a.tried = c.tried;
    if (!c.delta)
        return a;
    a.tried = true;
    a.delta = c.delta->name;
    const QString found = firstMatch(folder, "\\" + c.delta->name);
    if (found.isEmpty()) {
        a.fallback = "a mídia não traz o delta " + c.delta->name;
        return a;
    }
    rebuildInto(a, release, *c.delta, folder + '/' + found, suiteFolder);
    return a;
}

QString mediumDeltaArchive(const manifest::Manifest& release, const QString& folder,
                           const QString& mask) {
    QString m = mask;
    while (m.startsWith('\\'))
        m.remove(0, 1);
    for (const Delta& d : release.deltas)
        if (matchesMask(d.archive, m, Qt::CaseInsensitive) &&
            !firstMatch(folder, "\\" + d.name).isEmpty())
            return d.archive;
    return {};
}

std::map<QString, std::vector<StagedMember>>
forMedium(const manifest::Manifest* release, UpdateRecord& record, const QStringList& archives,
          const QStringList& onlyAsDelta, const QString& folder,
          const std::function<void(const QString&)>& status) {
    std::map<QString, std::vector<StagedMember>> rebuilt;
    if (!release)
        return rebuilt;
    for (const QString& archive : archives) {
        Attempt a = tryMediumDelta(*release, archive, updatekrv::DirSis, folder);
        if (a.served) {
            record.deltaServed(archive, a.delta, 0, release->find(archive)->size);
            rebuilt[archive] = std::move(a.files);
            continue;
        }
        record.deltaNotUsed(archive, a.fallback);
        if (onlyAsDelta.contains(archive)) {
            for (const auto& [name, files] : rebuilt)
                for (const StagedMember& f : files)
                    QFile::remove(f.path);
            throw KrvError(release::ReleaseRefused,
                           "O módulo " + archive +
                               " não pôde ser atualizado: a mídia traz apenas "
                               "o delta, e " +
                               a.fallback + ". Nenhuma alteração foi aplicada.");
        }
        if (a.tried)
            status("Aplicando o arquivo completo de " + archive + ": " + a.fallback);
    }
    return rebuilt;
}

QStringList resumable(const QString& updateFolder) {
    QStringList names;
    for (QString part : QDir(updateFolder).entryList({"*.delta.part"}, QDir::Files)) {
        part.chop(5);
        names << part;
    }
    return names;
}

bool failedBefore(const QString& suiteFolder, qint64 serial, const QString& delta) {
    QFile f(memoryFile(suiteFolder));
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = QByteArray::number(serial) + '\t' + delta.toUtf8();
    for (const QByteArray& l : f.read(1024 * 1024).split('\n'))
        if (l.trimmed() == line)
            return true;
    return false;
}

void rememberFailed(const QString& suiteFolder, qint64 serial, const QString& delta) {
    const QString path = memoryFile(suiteFolder);
    QByteArray kept;
    QFile old(path);
    const QByteArray prefix = QByteArray::number(serial) + '\t';
    if (old.open(QIODevice::ReadOnly))
        for (const QByteArray& l : old.read(1024 * 1024).split('\n'))
            if (l.startsWith(prefix) && l.trimmed() != prefix + delta.toUtf8())
                kept += l.trimmed() + '\n';
    QDir().mkpath(QFileInfo(path).path());
    QSaveFile f(path);
    if (f.open(QIODevice::WriteOnly)) {
        f.write(kept + prefix + delta.toUtf8() + '\n');
        f.commit();
    }
}

} // namespace krv::runs::delta
