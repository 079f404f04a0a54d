#pragma once
// The target of a download: its name (the URL's file type kept, the overwrite dialogue) and
// the file itself, written through a buffer and never truncated on opening.
#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <vector>

namespace krv::download {

// path with its file type replaced by the one of address: ".../pacote.zip" and
// "C:\File1.tmp" give "C:\File1.zip". Only the last six characters of each are searched
// for the dot; a text of five characters or fewer is an error (KrvError).
QString KeepTypeName(const QString& address, const QString& path);

// Asks before an existing target is replaced: Yes deletes it; No asks for another name
// until one is given, or until the user agrees to write over the same file.
QString OverwriteDialogue(const QString& target);

// Deletes an existing ordinary file; KrvError when it stays.
void deleteTarget(const QString& path);

class TargetFile {
public:
    TargetFile() = default;
    ~TargetFile();
    TargetFile(const TargetFile&) = delete;
    TargetFile& operator=(const TargetFile&) = delete;

    // Opens for writing at the first byte, creating the file when missing; KrvError on failure.
    void open(const QString& path);
    void seek(std::int64_t offset);
    void write(const QByteArray& bytes);
    // Cuts off whatever lies beyond the current position.
    void truncateHere();
    // Flushes and closes; KrvError when the last bytes cannot be written.
    void close();
    // Closes after a failure, whatever happens to the last bytes.
    void closeQuietly() noexcept;
    bool isOpen() const { return file_ != nullptr; }

private:
    [[noreturn]] void fail(const char* what);
    std::FILE* file_ = nullptr;
    QString path_;
    std::vector<char> buffer_;
};

} // namespace krv::download
