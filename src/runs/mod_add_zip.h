#pragma once
// Archive extraction (libzip): flat, every member matching the mask lands directly in the
// destination, files of the same names replaced without asking.
#include <QString>

class QLineEdit;
class QWidget;

namespace krv::runs {

// libzip needs no preparation; kept so that the unpacking windows load as they always did.
// The hidden text box the run windows carry for the archive library, with its text.
QLineEdit* criaTxtZip(QWidget* parent);

void IniciaZip();

// Extracts every member of archive whose name matches mask (a Windows-style mask, "*.*"
// for all) into destination, under its last path element only. Members that are folders,
// symbolic links, "." or "..", or whose stored name holds a NUL are skipped. Every member is
// first written to a temporary file in destination; only when all are complete and on disk
// are they renamed over the old files, so a failure leaves the old files in place and a
// crash leaves each file either old or new. The folder structure is never restored,
// whatever restoreStructure says: every caller wants the files flat, and paths from an
// archive are not trusted.
// Throws KrvError (err::Archive) naming the archive and the reason when the archive cannot
// be opened, a member cannot be read or written, or a member's size is absurd for its
// compressed size (over 1 GiB and over 1000 times larger).
void Descompacta(const QString& archive, const QString& mask, const QString& destination,
                 int restoreStructure);

} // namespace krv::runs
