#pragma once
// The signed list of a release: manifesto.json beside the update files, signed as any file
// (manifesto.json.sig). One signature binds every file's name, size, SHA-256 and version to
// the release's serial and validity, so that a file the maker once signed cannot be replayed
// under another name, in another release or after the release expired.
#include "common/release_deltas.h"
#include "common/release_steering.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

namespace krv::manifest {

inline const QString FileName = "manifesto.json";
// A manifest is small; a longer answer is not one and is not read to its end.
inline constexpr qint64 MaxBytes = 1024 * 1024;

enum class Kind { Module, Database, Menu, Assistant, Other };

// What a file of a release is, told by its name: krv.mdb, *.krv, zelvor*.zip, other *.zip.
Kind kindOf(const QString& name);
QString kindText(Kind kind);

struct Entry {
    QString name;
    qint64 size = 0;
    QString sha256; // 64 lower-case hex digits
    Kind kind = Kind::Other;
    QString version; // empty when the file carries none the maker knows of
    // A module archive's files (release_deltas.h); may be empty.
    QList<Member> members;
};

struct Manifest {
    qint64 serial = 0;
    QDateTime issued, expires; // UTC
    QList<Entry> files;
    QList<Delta> deltas; // release_deltas.h

    // The deltas that stand for archive, in the manifest's order.
    QList<const Delta*> deltasFor(const QString& archive) const;
    Steering steering; // rollout, halt, withdrawn and minimum versions

    // The entry of a file, its name compared without regard to case (media come from systems
    // that ignore it); null when it is not listed.
    const Entry* find(const QString& name) const;
};

// Reads a manifest; nullopt (with why, Portuguese) for anything but a well-formed one: every
// field present and of its type, names plain file names listed once, sizes not negative,
// hashes of 64 hex digits, expires after issued.
std::optional<Manifest> parse(const QByteArray& json, QString* why = nullptr);

// The manifest as its JSON text (indented, one file a line group, ending in a line end).
QByteArray serialize(const Manifest& manifest);

// ISO 8601 UTC with seconds, as the manifest writes times: 2026-12-08T02:30:14Z.
QString isoUtc(const QDateTime& time);

// The SHA-256 of a file's bytes as the manifest writes it (lower-case hex); empty when the
// file cannot be read.
QString fileSha256(const QString& path);

} // namespace krv::manifest
