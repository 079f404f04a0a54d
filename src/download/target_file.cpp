#include "download/target_file.h"

#include "platform/dialogs.h"
#include "platform/krv_error.h"
#include "platform/paths.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace krv::download {

using platform::Answer;
using platform::Buttons;
using platform::Icon;

namespace {

// The runtime's InStr(start, text, "."), counting from 1; start below 1 is an error.
int dotFrom(const QString& text) {
    const qsizetype start = text.size() - 5;
    if (start < 1)
        throw KrvError(5, "Invalid procedure call or argument");
    return int(text.indexOf('.', start - 1) + 1);
}

} // namespace

QString KeepTypeName(const QString& address, const QString& path) {
    const int a = dotFrom(address);
    const QString type = address.right(address.size() - a);
    const int b = dotFrom(path);
    return path.left(b) + type;
}

QString OverwriteDialogue(const QString& target) {
    if (!platform::ordinaryFileExists(target))
        return target;
    if (platform::msgBox("Would you like to overwrite the file at: " + target + " ?",
                         Buttons::YesNo, Icon::Information, "Overwrite?") == Answer::Yes) {
        deleteTarget(target);
        return target;
    }
    for (;;) {
        const QString answer =
            platform::inputBox("Please type in a new file path and name.\r\nExample: C:\\File2.txt",
                               "New File...", target);
        if (answer <= QStringLiteral(" ")) {
            platform::msgBox("You didn't specify a file!", Buttons::OK, Icon::Exclamation,
                             "Error!");
            continue;
        }
        if (answer == target) {
            if (platform::msgBox(
                    "You typed in the same file! Would you like type in a different file?",
                    Buttons::YesNo, Icon::Critical, "Try Again?") == Answer::Yes)
                continue;
            return target;
        }
        return answer;
    }
}

void deleteTarget(const QString& path) {
    if (platform::ordinaryFileExists(path) && !QFile::remove(path))
        throw KrvError(err::FileAccess, "Path/File access error: " + path);
}

TargetFile::~TargetFile() {
    if (file_)
        std::fclose(file_);
}

namespace {
// The runtime's "Disk full" for a full disk or an exhausted quota, so that the cause reaches
// the user; any other failure is a file access error.
[[noreturn]] void raise(int error, const QString& text) {
    const bool full = error == ENOSPC || error == EDQUOT;
    throw KrvError(full ? 61 : err::FileAccess,
                   text + ": " + QString::fromLocal8Bit(std::strerror(error)));
}
} // namespace

void TargetFile::fail(const char* what) {
    const int error = errno;
    if (file_)
        std::fclose(file_);
    file_ = nullptr;
    raise(error, QString("%1 %2").arg(what, path_));
}

void TargetFile::open(const QString& path) {
    close();
    path_ = path;
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        fail("Cannot open");
    file_ = ::fdopen(fd, "wb");
    if (!file_) {
        ::close(fd);
        fail("Cannot open");
    }
    // Chunks are small; the stream gathers them into large writes.
    buffer_.resize(256 * 1024);
    std::setvbuf(file_, buffer_.data(), _IOFBF, buffer_.size());
}

void TargetFile::seek(std::int64_t offset) {
    if (!file_ || ::fseeko(file_, off_t(offset), SEEK_SET) != 0)
        fail("Cannot seek in");
}

void TargetFile::write(const QByteArray& bytes) {
    if (bytes.isEmpty())
        return;
    if (!file_ ||
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), file_) != size_t(bytes.size()))
        fail("Cannot write");
}

void TargetFile::truncateHere() {
    if (!file_ || std::fflush(file_) != 0)
        fail("Cannot write");
    if (::ftruncate(::fileno(file_), ::ftello(file_)) != 0)
        fail("Cannot write");
}

void TargetFile::close() {
    if (!file_)
        return;
    std::FILE* f = file_;
    file_ = nullptr;
    if (std::fclose(f) != 0)
        raise(errno, "Cannot write " + path_);
}

void TargetFile::closeQuietly() noexcept {
    if (file_)
        std::fclose(file_);
    file_ = nullptr;
}

} // namespace krv::download
