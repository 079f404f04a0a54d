#pragma once
// How this run of the program was started: its command line.

#include <QStringList>

namespace krv::runmode {

// The program's own command-line arguments, without the program's name: an unattended
// assistant that replaces itself starts its successor with them.
inline QStringList arguments;

} // namespace krv::runmode
