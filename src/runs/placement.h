#pragma once
// A release applied as one: the run's module archives, fetched and checked, are held back
// until the database step's proof has passed, then kept and renamed into the suite's folder
// together; when a live step fails after that, the files they replaced are put back, so the
// suite is never left with new modules on the old structure.
#include "runs/mod_add_zip.h"
#include "runs/rollback.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

namespace krv::runs {

class ReleaseCheck;
class UpdateRecord;

struct PendingArchive {
    QString path;   // the archive, in the update folder or on the medium
    QString name;   // its file name, as the work list and the manifest name it
    QString status; // told while it is placed; empty: nothing
    // Rebuilt from a delta: the files staged beside the suite's; nothing: unpack the archive.
    std::optional<std::vector<StagedMember>> rebuilt;
};

// The sentence that tells the person what happened to the files put back.
QString putBackText(const rollback::FileResult& result);

class Placement {
public:
    void add(PendingArchive archive) { pending_.push_back(std::move(archive)); }
    bool pending() const { return !pending_.empty(); }

    // Keeps what the archives replace in the suite's folder (told to record) and renames their
    // members into it, each archive checked against release as it is placed. Throws KrvError.
    void place(const UpdateRecord& record, const ReleaseCheck& release,
               const std::function<void(const QString&)>& status);

    // The archives were unpacked as they came: a later live step that fails puts back what
    // they replaced too.
    void placedAlready() { started_ = true; }

    // After a failure: the files this run replaced in the suite's folder put back from the
    // copies it kept (each noted in the record), and staged files never placed removed.
    // Nothing when no archive was placed.
    rollback::FileResult undo(UpdateRecord& record);

    void clear();

private:
    std::vector<PendingArchive> pending_;
    bool started_ = false; // a rename may have happened
};

} // namespace krv::runs
