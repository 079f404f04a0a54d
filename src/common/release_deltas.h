#pragma once
// The release manifest's fields for delta updates: each module archive's members, so that a
// file rebuilt from a delta is checked without the archive, and the deltas themselves. An
// installation that does not know them reads the manifest as before and fetches archives.
#include <QJsonObject>
#include <QList>
#include <QString>

namespace krv::manifest {

struct Entry;
struct Manifest;

// A file by its size and SHA-256: an archive's member, or an installed file a delta expects.
struct Member {
    QString name;
    qint64 size = 0;
    QString sha256;
};

// A delta: rebuilds archive's members from the installed files of version fromVersion.
struct Delta {
    QString name;    // "control01.31.00-01.32.00.delta"
    QString archive; // the module archive it stands for
    qint64 size = 0;
    QString sha256;
    QString algorithm;     // delta::Algorithm, or one this installation does not know
    qint64 window = 0;     // the memory its decoding needs, bytes
    QString fromVersion;   // the installed module's version it starts from
    QList<Member> sources; // every installed file a member is rebuilt from, as it must be
};

// Reads o's "members" into e; false when present and not a list of plain names with sizes and
// hashes.
bool readMembers(const QJsonObject& o, Entry& e);
// Reads the manifest's "deltas" (absent: none); false when malformed or naming an archive the
// manifest does not list.
bool readDeltas(const QJsonObject& root, Manifest& m);
void writeMembers(const Entry& e, QJsonObject& o);
void writeDeltas(const Manifest& m, QJsonObject& root);

} // namespace krv::manifest
