#pragma once
// The installation's trust in the maker: its keys, and whether the release's files must be
// checked against the maker's signed manifest (runs/release_check.h). With no key in the
// installation nothing is checked, as before signatures existed.
#include "common/update_signature.h"

#include <QString>
#include <QStringList>

namespace krv::runs {

// The installation's keys, read once per run of the program.
const signature::TrustedKey& updateKey();
// True when a release must come with a manifest signed by one of them.
bool signaturesRequired();

// With a key set, removes a menu file an earlier run left in updateFolder when this run does
// not fetch one: the database window would load it unchecked.
void dropUncheckedMenuFile(const QString& updateFolder, const QStringList& entries);

} // namespace krv::runs
