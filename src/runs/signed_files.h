#pragma once
// The update's files checked against the maker's signatures before anything is applied. With
// no key in the installation every check passes, as before signatures existed.
#include "common/update_signature.h"

#include <QString>

class QWidget;

namespace krv::runs {

// The error number of a refused file, beside those of krv_error.h.
inline constexpr int SignatureRefused = 35770;

// The installation's key, read once per run of the program.
const signature::TrustedKey& updateKey();
// True when files must carry a valid signature.
bool signaturesRequired();

// Raises KrvError err::Signature naming shownName when file does not verify against
// signatureFile. removeRefused: the file and its signature are ours (a download), so a refused
// one is removed; a medium's files are never touched.
void requireSignature(const QString& shownName, const QString& file, const QString& signatureFile,
                      bool removeRefused);

// For a file just downloaded from url into path: downloads url + ".sig" beside it and checks
// the pair as above (both removed when refused). Nothing is fetched when no key is set.
void requireFetchedSignature(QWidget* owner, const QString& shownName, const QString& url,
                             const QString& path);

// With a key set, removes a menu file an earlier run left in updateFolder when this run does
// not fetch one: the database window would load it unchecked.
void dropUncheckedMenuFile(const QString& updateFolder, const QStringList& entries);

} // namespace krv::runs
