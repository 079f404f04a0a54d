#include "runs/mod_add_zip.h"

#include <QLineEdit>

#include "common/krv_error.h"
#include "runs/archive_names.h"
#include "runs/zip_raw_names.h"

#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <zip.h>

namespace krv::runs {

QLineEdit* criaTxtZip(QWidget* parent) {
    auto* box = new QLineEdit(
        "Esta TextBox é usado internamente pelo AddZip, podendo fica escondida do usuário.",
        parent);
    box->setObjectName("txtZip");
    box->hide();
    return box;
}

namespace {

constexpr zip_uint64_t kBombSize = 1024ull * 1024 * 1024;
constexpr zip_uint64_t kBombRatio = 1000;

struct Member {
    zip_uint64_t index;
    QString name;      // flat name in the destination
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

// The members to write, checked before anything is written: a refused archive changes nothing.
std::vector<Member> plan(zip_t* z, const QString& archive, const QString& mask) {
    const zip_int64_t count = zip_get_num_entries(z, 0);
    const auto withNul = storedNamesWithNul(archive);
    if (!withNul || withNul->size() != static_cast<size_t>(count))
        fail(archive, "diretório central ilegível");
    std::vector<Member> members;
    for (zip_int64_t i = 0; i < count; ++i) {
        if ((*withNul)[i])
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
        members.push_back({static_cast<zip_uint64_t>(i), name, st.size, mode, st.mtime});
    }
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
        : path_(QFile::encodeName(folder + "/.krv-extract-XXXXXX")) {
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
        for (; placed_ < files_.size(); ++placed_) {
            const auto& [temporary, target] = files_[placed_];
            if (::rename(temporary.constData(), target.constData()) != 0)
                failMember(archive, QFile::decodeName(target), sysError(errno));
        }
    }

private:
    std::vector<std::pair<QByteArray, QByteArray>> files_;
    size_t placed_ = 0;
};

// Writes member m completely into a temporary file in destination.
void extract(zip_t* z, const Member& m, const QString& archive, const QString& destination,
             std::vector<char>& buffer, Staged& staged) {
    const QString target = destination + (destination.endsWith('/') ? "" : "/") + m.name;
    const QByteArray targetPath = QFile::encodeName(target);
    zip_file_t* f = zip_fopen_index(z, m.index, 0);
    if (!f)
        failMember(archive, m.name, QString::fromUtf8(zip_strerror(z)));
    std::unique_ptr<zip_file_t, int (*)(zip_file_t*)> file(f, zip_fclose);
    TempFile tmp(destination);
    if (tmp.fd() < 0)
        failMember(archive, m.name, sysError(errno));
    zip_uint64_t written = 0;
    for (;;) {
        const zip_int64_t n = zip_fread(f, buffer.data(), buffer.size());
        if (n < 0)
            failMember(archive, m.name, QString::fromUtf8(zip_file_strerror(f)));
        if (n == 0)
            break;
        written += static_cast<zip_uint64_t>(n);
        if (written > m.size)
            failMember(archive, m.name, "dados além do tamanho declarado");
        writeAll(tmp.fd(), buffer.data(), static_cast<size_t>(n), archive, m.name);
    }
    if (written != m.size)
        failMember(archive, m.name, "dados incompletos");
    // Start writing it out now, so that the sync before the renames finds little left to do.
    ::sync_file_range(tmp.fd(), 0, 0, SYNC_FILE_RANGE_WRITE);
    mode_t mode = m.mode >= 0 ? static_cast<mode_t>(m.mode) : defaultMode();
    struct stat old;
    if (m.mode < 0 && ::lstat(targetPath.constData(), &old) == 0 && S_ISREG(old.st_mode))
        mode = old.st_mode & 07777;
    ::fchmod(tmp.fd(), mode);
    const struct timespec times[2] = {{0, UTIME_OMIT}, {m.mtime, 0}};
    ::futimens(tmp.fd(), times);
    if (tmp.close() != 0)
        failMember(archive, m.name, sysError(errno));
    staged.add(tmp.path(), targetPath);
    tmp.keep();
}

} // namespace

void IniciaZip() {}

void Descompacta(const QString& archive, const QString& mask, const QString& destination,
                 int /*restoreStructure*/) {
    const ZipArchive z = openArchive(archive);
    const std::vector<Member> members = plan(z.get(), archive, mask);
    if (!QFileInfo(destination).isDir())
        fail(archive, "a pasta de destino " + destination + " não existe");
    std::vector<char> buffer(256 * 1024);
    Staged staged;
    for (const Member& m : members)
        extract(z.get(), m, archive, destination, buffer, staged);
    staged.place(archive, destination);
}

} // namespace krv::runs
