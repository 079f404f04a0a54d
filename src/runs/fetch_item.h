#pragma once
// Fetching and verifying one file of a run: the one way every file of an update reaches the
// update folder, the work list's and the assistant's alike. Whatever else may bring a file
// later (a patch tried before the whole archive) goes through here as well.
#include "runs/fetch_update_file.h"
#include "runs/work_list.h"

#include <QString>

namespace krv::runs {

class ReleaseCheck;
class UpdateRecord;

// Fetches item's file from the update server into updatePath(item.file) through fetcher, with
// the heading of the progress window, and verifies it against the release: whole, as listed,
// and for the database update file and the assistant the version inside. Returns false when
// the person stopped it. Throws KrvError when it did not arrive whole (err::Download, naming
// the file) or the release refuses it (the refused file removed).
// The release's checks and the download's record go to release and record.
bool fetchVerified(ReleaseCheck& release, UpdateRecord& record, const Fetcher& fetcher,
                   const WorkItem& item, const QString& heading);

// Fetches the release's file name from the update server into path through fetcher (without a
// window when there is none), bounded by listed, and tells record what arrived whole; the
// caller verifies it.
FetchOutcome fetchFromServer(UpdateRecord& record, const Fetcher& fetcher, const QString& name,
                             const QString& path, qint64 listed, const QString& heading);

} // namespace krv::runs
