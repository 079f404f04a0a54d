#pragma once
// Update files as the maker ships them: tells an SQLite update file from an Access (Jet/ACE)
// one by its content, and copies every table of an Access file into a working SQLite
// database through libmdb, so the rest of the program only ever queries SQLite.
#include "platform/krv_error.h"

#include <QString>

namespace krv::database {

enum class UpdateFileFormat { SQLite, Jet, Unknown };

// Looks at the first bytes only: "SQLite format 3" at the start, or "Standard Jet DB" /
// "Standard ACE DB" at byte 4. A missing or unreadable file is Unknown.
UpdateFileFormat updateFileFormat(const QString& path);

// Where the working copy of the Access file at jetPath lies. In the run's update folder it
// lies next to the file (same name with ".sqlite" appended), so the run end removes it with
// the folder. Anywhere else (the source medium of a directory run, which may be read-only
// and is the user's) it lies in the system's temporary folder under a name of this process.
QString jetWorkingCopyPath(const QString& jetPath);

// Copies every user table of the Access file at jetPath, with its columns in their order and
// its rows in stored order, into a new SQLite database at sqlitePath (an existing file there
// is replaced only once the copy is complete). Text arrives as UTF-8; whole numbers, real
// numbers and yes/no values keep their numeric kind; a text of length zero (libmdb gives an
// empty text and a null alike) becomes the empty text, an absent number null.
// Throws KrvError naming the file when it is not an Access file, when its pages are
// encrypted, when it is damaged, or when the copy cannot be written.
void importJet(const QString& jetPath, const QString& sqlitePath);

// The SQLite database to run on for the update file at path: path itself for an SQLite file;
// for an Access file its working copy, imported afresh. Anything else throws KrvError
// ("not an update file", naming the file).
QString sqliteUpdateFile(const QString& path);

// Error numbers raised here.
namespace jet_err {
inline constexpr int NotUpdateFile = err::BadFileFormat; // neither SQLite nor Access
inline constexpr int Unreadable = err::BadFileFormat;    // damaged Access file
inline constexpr int Encrypted = 3031;                   // pages encrypted: cannot be read
} // namespace jet_err

} // namespace krv::database
