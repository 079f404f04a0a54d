#pragma once
// How this run of the program was started: by a person, or unattended from the command line.

namespace krv::runmode {

// Set once by the program's entry before the first window loads.
inline bool unattended = false;

} // namespace krv::runmode
