#pragma once
// How this run of the program was started: by a person, or unattended from the command line.

#include <QStringList>

namespace krv::runmode {

// Set once by the program's entry before the first window loads.
inline bool unattended = false;
// --now: a release being rolled out in stages is taken outside this installation's stage.
inline bool now = false;
// The program's own command-line arguments, without the program's name: an unattended
// assistant that replaces itself starts its successor with them.
inline QStringList arguments;

} // namespace krv::runmode
