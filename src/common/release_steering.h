#pragma once
// How the maker steers a release after publishing its files: a staged rollout (a share of
// installations first, growing by date), a halt, versions withdrawn and minimum versions.
// All of it is optional in the signed manifest; an installation that does not know these
// fields ignores them, and a manifest without them is taken by everyone, as before.
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <optional>

namespace krv::manifest {

struct Stage {
    double percent = 0; // 0 to 100
    QDateTime from;     // UTC
};

// A version named as the version list names it: kind "module", "menu" or "assistant" and the
// module's base name ("control", not the archive or the executable).
struct VersionRef {
    QString kind, name, version;
};

struct Steering {
    bool staged = false; // the manifest carries "rollout"
    QList<Stage> stages;
    bool halted = false;
    QList<VersionRef> withdrawn, minimum;
};

// Reads the steering fields of a manifest's root object; false (with why, Portuguese) when
// one is present but malformed.
bool parseSteering(const QJsonObject& root, Steering& into, QString* why);
// Adds the fields that carry something to root.
void writeSteering(const Steering& steering, QJsonObject& root);

// This installation's bucket for a release: the first four bytes, big-endian, of SHA-256 of
// "<id>:<serial>", modulo 10000. The serial in the text sends another share first each release.
int bucket(const QString& installationId, qint64 serial);

struct StageDecision {
    bool take = true;
    bool halted = false;
    // Outside its stage: the first stage that takes this bucket; invalid when none does.
    QDateTime from;
};

// The latest stage whose from has passed takes the buckets below 100 x its percent; none
// passed yet takes none; a halt takes none; no rollout, or one without stages, takes all.
StageDecision decideStage(const Steering& steering, int bucket, const QDateTime& now);

// The entry that names kind and name (case ignored; the menu is one, so its name is not
// compared) in list; null when none does.
const VersionRef* findVersion(const QList<VersionRef>& list, const QString& kind,
                              const QString& name);
// Whether that exact version is withdrawn.
bool isWithdrawn(const Steering& steering, const QString& kind, const QString& name,
                 const QString& version);
// The minimum installed is below (empty when none applies): module and assistant versions
// compare as text, as the version check does; the menu's as numbers.
QString minimumAbove(const Steering& steering, const QString& kind, const QString& name,
                     const QString& installed);

} // namespace krv::manifest
