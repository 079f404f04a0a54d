#pragma once
// The delta file of a module update: the members of the new archive, each as a zstd patch
// against the installed file of the same name, in full when the old archive lacked it, or
// marked unchanged. Patches of the zip archives themselves would save nothing (compression
// scrambles the bytes), so they are made per member. Layout (integers little-endian):
//
//   "KRVDELT1"                       magic, 8 bytes
//   u32 count                        members, in the new archive's order
//   count times:
//     u16 n, n bytes                 the member's plain file name, UTF-8
//     u8 how                         0 unchanged, 1 whole, 2 patch
//     u64 length, length bytes       one zstd frame (none for unchanged); a patch's frame
//                                    takes the installed file as its reference prefix
//
// Nothing may follow the last member. The maker lists the delta in the signed manifest, so
// the reader trusts no byte of it until its SHA-256 matched there.
#include <QList>
#include <QString>
#include <functional>
#include <optional>

namespace krv::delta {

// The manifest's word for this format.
inline const QString Algorithm = "zstd-patch";
inline constexpr char Magic[9] = "KRVDELT1";

enum class How { Unchanged = 0, Whole = 1, Patch = 2 };

// A member of the new archive: its name, its new bytes (a file) and the old archive's member of
// the same name (empty when there was none).
struct Source {
    QString name, newPath, oldPath;
};

struct Made {
    qint64 window = 0; // the largest window a frame asks for, bytes
    QList<How> hows;   // per member, in order
};

// Writes the delta of members into outPath; nullopt with why when a file cannot be read or
// written. Identical old and new bytes make an unchanged member.
std::optional<Made> make(const QList<Source>& members, const QString& outPath, QString* why);

// A member as the delta rebuilds it: its name and how.
struct Member {
    QString name;
    How how = How::Whole;
};

// Rebuilds every member of deltaPath: installed(name) is the file a patch or an unchanged
// member starts from, output(name) a fresh file to write the member into (empty: refused),
// expectedSize(name) the most bytes the member may have (-1: not in the release, refused).
// Frames may ask for a window of at most window bytes. false with why (Portuguese) on any
// fault; the members written so far are listed in done either way.
struct Rebuild {
    std::function<QString(const QString&)> installed, output;
    std::function<qint64(const QString&)> expectedSize;
    qint64 window = 0;
};
bool apply(const QString& deltaPath, const Rebuild& how, QList<Member>& done, QString* why);

} // namespace krv::delta
