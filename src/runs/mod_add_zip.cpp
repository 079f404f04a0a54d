#include "runs/mod_add_zip.h"

#include <QFile>

#include "platform/krv_error.h"
#include "platform/scratch_file.h"
#include "platform/test_hook.h"
#include "runs/archive_names.h"
#include "runs/leftovers.h"
#include "runs/zip_raw_names.h"

#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>
#include <zip.h>

namespace krv::runs {

namespace {

constexpr zip_uint64_t kBombSize = 1024ull * 1024 * 1024;
constexpr zip_uint64_t kBombRatio = 1000;
// Left free after an extraction: the suite and its database keep working.
constexpr zip_uint64_t kFreeSpaceMargin = 32ull * 1024 * 1024;

std::optional<std::uint64_t> statvfsFreeSpace(const QString& folder) {
    struct statvfs s;
    if (::statvfs(QFile::encodeName(folder).constData(), &s) != 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(s.f_bavail) * s.f_frsize;
}

FreeSpaceProbe& freeSpaceProbe() {
    static FreeSpaceProbe probe = statvfsFreeSpace;
    return probe;
}

std::function<void(const QString&, const std::vector<StagedMember>&)>& beforeReplacing() {
    static std::function<void(const QString&, const std::vector<StagedMember>&)> hook;
    return hook;
}

struct Member {
    zip_uint64_t index;
    QString target;    // its path in the destination
    zip_uint64_t size; // declared uncompressed size
    int mode;          // permission bits to give the file, -1 when the archive has none
    time_t mtime;
};

[[noreturn]] void fail(const QString& archive, const QString& reason) {
    throw KrvError(err::Archive,
                   "Não foi possível extrair o arquivo compactado " + archive + ": " + reason);
}

[[noreturn]] void failMember(const QString& archive, const QString& member, const QString& reason) {
    throw KrvError(err::Archive, "Não foi possível extrair " + member + " do arquivo compactado " +
                                     archive + ": " + reason);
}

QString sysError(int code) {
    return QString::fromLocal8Bit(std::strerror(code));
}

struct ZipCloser {
    void operator()(zip_t* z) const { zip_discard(z); }
};
using ZipArchive = std::unique_ptr<zip_t, ZipCloser>;

ZipArchive openArchive(const QString& archive) {
    int code = 0;
    zip_t* z = zip_open(QFile::encodeName(archive).constData(), ZIP_RDONLY, &code);
    if (!z) {
        zip_error_t e;
        zip_error_init_with_code(&e, code);
        const QString reason = QString::fromUtf8(zip_error_strerror(&e));
        zip_error_fini(&e);
        fail(archive, reason);
    }
    return ZipArchive(z);
}

QString targetOf(const QString& destination, const QString& name) {
    return destination + (destination.endsWith('/') ? "" : "/") + name;
}

// The members to write, checked before anything is written: a refused archive changes nothing.
std::vector<Member> plan(zip_t* z, const QString& archive, const QString& mask,
                         const QString& destination) {
    const zip_int64_t count = zip_get_num_entries(z, 0);
    QFile file(archive);
    if (!file.open(QIODevice::ReadOnly))
        fail(archive, file.errorString());
    const auto directory = readCentralDirectory(file);
    if (!directory || directory->entries.size() != static_cast<size_t>(count))
        fail(archive, "diretório central ilegível");
    if (const auto fault = layoutFault(file, *directory))
        fail(archive, *fault + "; arquivo recusado");
    std::vector<Member> members;
    zip_uint64_t total = 0;
    for (zip_int64_t i = 0; i < count; ++i) {
        if (directory->entries[i].nameHasNul)
            continue;
        zip_stat_t st;
        if (zip_stat_index(z, i, 0, &st) != 0)
            fail(archive, QString::fromUtf8(zip_strerror(z)));
        const QString stored = QString::fromUtf8(st.name);
        const QString name = flatMemberName(stored);
        if (name.isEmpty())
            continue;
        zip_uint8_t opsys = 0;
        zip_uint32_t attributes = 0;
        int mode = -1;
        if (zip_file_get_external_attributes(z, i, 0, &opsys, &attributes) == 0) {
            if (opsys == ZIP_OPSYS_UNIX) {
                const mode_t unixMode = attributes >> 16;
                if (S_ISLNK(unixMode) || S_ISDIR(unixMode))
                    continue;
                if (unixMode & 0777)
                    mode = unixMode & 0777;
            } else if (opsys == ZIP_OPSYS_DOS && (attributes & 0x10)) {
                continue; // folder attribute
            }
        }
        if (!matchesMask(name, mask, Qt::CaseInsensitive))
            continue;
        if (st.size > kBombSize && st.size > kBombRatio * st.comp_size)
            failMember(archive, stored,
                       QString("tamanho descompactado desproporcional (%1 bytes de %2 "
                               "compactados); arquivo recusado")
                           .arg(st.size)
                           .arg(st.comp_size));
        // The renames at the end must not fail for a reason that can be seen now.
        const QString target = targetOf(destination, name);
        struct stat existing;
        if (::lstat(QFile::encodeName(target).constData(), &existing) == 0 &&
            !S_ISREG(existing.st_mode))
            failMember(
                archive, stored,
                "o destino " + target +
                    (S_ISDIR(existing.st_mode) ? " é uma pasta" : " não é um arquivo comum") +
                    "; arquivo recusado");
        total += st.size;
        members.push_back({static_cast<zip_uint64_t>(i), target, st.size, mode, st.mtime});
    }
    // Each member may pass on its own while together they would flood the disk.
    const auto archiveSize = static_cast<zip_uint64_t>(file.size());
    if (total > kBombSize && total > kBombRatio * archiveSize)
        fail(archive, QString("tamanho descompactado total desproporcional (%1 bytes de um "
                              "arquivo de %2); arquivo recusado")
                          .arg(total)
                          .arg(archiveSize));
    const std::optional<std::uint64_t> free = freeSpaceProbe()(destination);
    if (free && total + kFreeSpaceMargin > *free)
        fail(archive, QString("espaço livre insuficiente em %1: são necessários %2 bytes e uma "
                              "reserva de %3, mas há %4 livres; arquivo recusado")
                          .arg(destination)
                          .arg(total)
                          .arg(kFreeSpaceMargin)
                          .arg(*free));
    return members;
}

mode_t defaultMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// Removes the temporary file unless it was handed on complete.
class TempFile {
public:
    explicit TempFile(const QString& folder)
        : path_(QFile::encodeName(folder + "/" +
                                  platform::stampedName(kExtractionPrefix, "XXXXXX"))) {
        fd_ = ::mkstemp(path_.data());
    }
    ~TempFile() {
        if (fd_ >= 0)
            ::close(fd_);
        if (!kept_)
            ::unlink(path_.constData());
    }
    int fd() const { return fd_; }
    const char* path() const { return path_.constData(); }
    // Closes the file, reporting a late write error (a full disk may only show here).
    int close() {
        const int r = ::close(fd_);
        fd_ = -1;
        return r;
    }
    void keep() { kept_ = true; }

private:
    QByteArray path_;
    int fd_ = -1;
    bool kept_ = false;
};

void writeAll(int fd, const char* data, size_t size, const QString& archive,
              const QString& member) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            failMember(archive, member, sysError(errno));
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
}

// Files written completely but not yet in place; those still here at the end are removed.
class Staged {
public:
    ~Staged() {
        for (size_t i = placed_; i < files_.size(); ++i)
            ::unlink(files_[i].first.constData());
    }
    void add(const QByteArray& temporary, const QByteArray& target) {
        files_.emplace_back(temporary, target);
    }
    std::vector<StagedMember> members() const {
        std::vector<StagedMember> out;
        for (const auto& [temporary, target] : files_)
            out.push_back(
                {QFileInfo(QFile::decodeName(target)).fileName(), QFile::decodeName(temporary)});
        return out;
    }
    // Makes the new contents durable, then renames each over its old file: a crash leaves
    // every file either old or new, and a failure before this point changes nothing.
    void place(const QString& archive, const QString& destination) {
        if (files_.empty())
            return;
        const int dir =
            ::open(QFile::encodeName(destination).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const int synced = dir >= 0 ? ::syncfs(dir) : -1;
        const int error = errno;
        if (dir >= 0)
            ::close(dir);
        if (synced != 0)
            fail(archive, sysError(error));
        platform::hook::pausePoint("extract-staged");
        for (; placed_ < files_.size(); ++placed_) {
            const auto& [temporary, target] = files_[placed_];
            if (::rename(temporary.constData(), target.constData()) != 0)
                failMember(archive, QFile::decodeName(target), sysError(errno));
            if (placed_ == 0)
                platform::hook::pausePoint("extract-renaming");
        }
    }

private:
    std::vector<std::pair<QByteArray, QByteArray>> files_;
    size_t placed_ = 0;
};

// Writes member m completely into a temporary file in destination.
void extract(zip_t* z, const Member& m, const QString& archive, const QString& destination,
             std::vector<char>& buffer, Staged& staged) {
    const QByteArray targetPath = QFile::encodeName(m.target);
    const QString name = QFileInfo(m.target).fileName();
    zip_file_t* f = zip_fopen_index(z, m.index, 0);
    if (!f)
        failMember(archive, name, QString::fromUtf8(zip_strerror(z)));
    std::unique_ptr<zip_file_t, int (*)(zip_file_t*)> file(f, zip_fclose);
    TempFile tmp(destination);
    if (tmp.fd() < 0)
        failMember(archive, name, sysError(errno));
    zip_uint64_t written = 0;
    for (;;) {
        const zip_int64_t n = zip_fread(f, buffer.data(), buffer.size());
        if (n < 0)
            failMember(archive, name, QString::fromUtf8(zip_file_strerror(f)));
        if (n == 0)
            break;
        written += static_cast<zip_uint64_t>(n);
        if (written > m.size)
            failMember(archive, name, "dados além do tamanho declarado");
        writeAll(tmp.fd(), buffer.data(), static_cast<size_t>(n), archive, name);
    }
    if (written != m.size)
        failMember(archive, name, "dados incompletos");
    // Start writing it out now, so that the sync before the renames finds little left to do.
    ::sync_file_range(tmp.fd(), 0, 0, SYNC_FILE_RANGE_WRITE);
    mode_t mode = m.mode >= 0 ? static_cast<mode_t>(m.mode) : defaultMode();
    struct stat old;
    // A replaced program stays startable: archives made elsewhere may lack the execute bits.
    if (::lstat(targetPath.constData(), &old) == 0 && S_ISREG(old.st_mode))
        mode = m.mode >= 0 ? mode | (old.st_mode & 0111) : old.st_mode & 07777;
    ::fchmod(tmp.fd(), mode);
    const struct timespec times[2] = {{0, UTIME_OMIT}, {m.mtime, 0}};
    ::futimens(tmp.fd(), times);
    if (tmp.close() != 0)
        failMember(archive, name, sysError(errno));
    staged.add(tmp.path(), targetPath);
    tmp.keep();
}

} // namespace

void IniciaZip() {}

void setFreeSpaceProbe(FreeSpaceProbe probe) {
    freeSpaceProbe() = probe ? std::move(probe) : statvfsFreeSpace;
}

void setBeforeReplacing(
    std::function<void(const QString& destination, const std::vector<StagedMember>&)> hook) {
    beforeReplacing() = std::move(hook);
}

std::optional<std::uint64_t> freeSpace(const QString& folder) {
    return freeSpaceProbe()(folder);
}

void Descompacta(const QString& archive, const QString& mask, const QString& destination,
                 int restoreStructure) {
    Descompacta(archive, mask, destination, restoreStructure, {});
}

void Descompacta(const QString& archive, const QString& mask, const QString& destination,
                 int /*restoreStructure*/, const StagedCheck& check) {
    const ZipArchive z = openArchive(archive);
    if (!QFileInfo(destination).isDir())
        fail(archive, "a pasta de destino " + destination + " não existe");
    const std::vector<Member> members = plan(z.get(), archive, mask, destination);
    std::vector<char> buffer(256 * 1024);
    Staged staged;
    for (const Member& m : members)
        extract(z.get(), m, archive, destination, buffer, staged);
    if (check)
        check(staged.members());
    if (beforeReplacing())
        beforeReplacing()(destination, staged.members());
    staged.place(archive, destination);
}

void placeRebuilt(const QString& label, const QString& destination,
                  const std::vector<StagedMember>& files, const StagedCheck& check) {
    Staged staged;
    for (const StagedMember& f : files)
        staged.add(QFile::encodeName(f.path), QFile::encodeName(targetOf(destination, f.name)));
    if (check)
        check(staged.members());
    if (beforeReplacing())
        beforeReplacing()(destination, staged.members());
    staged.place(label, destination);
}

} // namespace krv::runs
