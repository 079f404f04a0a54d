#pragma once
// A look at an archive's central directory and local headers as stored. libzip turns a NUL
// inside a member name into a blank, which would hide a name crafted to read differently to
// other tools, and it trusts each entry's offset, so entries can share one compressed stream.
#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

class QIODevice;

namespace krv::runs {

struct CentralEntry {
    QByteArray name; // as stored
    bool nameHasNul = false;
    quint64 localOffset = 0; // where its local header starts in the file
    quint64 compressedSize = 0;
};

struct CentralDirectory {
    std::vector<CentralEntry> entries; // in stored order
    quint64 start = 0;                 // where the directory begins in the file
};

// The central directory of the zip archive in file; empty when it cannot be read (the
// caller's zip reader reports that).
std::optional<CentralDirectory> readCentralDirectory(QIODevice& file);

// The first fault in where the members' data lies: two members sharing bytes of the file, a
// member running into the next local header or the directory, or a local header that is not
// one. Empty when each member has its own stretch of the file before the directory.
std::optional<QString> layoutFault(QIODevice& file, const CentralDirectory& directory);

} // namespace krv::runs
