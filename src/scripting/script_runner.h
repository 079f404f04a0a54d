#pragma once
// The script side of the test hook: reads the steps of a script (docs/test-hook.md), carries
// them out on the windows between events, answers boxes from them and saves pictures of the
// windows. Only the programs' entries and the tests use it; the product talks to the
// transcript part in platform/test_hook.h.
#include "platform/test_hook.h"

#include <QString>

namespace krv::scripting {

// Hands the script side to the test hook. Called by a program before its application exists,
// so the hook reads ZELVOR_TEST_SCRIPT as it starts.
void install();

// Makes the hook drive the program from scriptText (appended to any test script) even when
// no variable is set: an unattended run. sink sees every transcript line as it is written;
// no run time limit unless ZELVOR_TEST_TIMEOUT asks for one.
void drive(const QString& scriptText, platform::hook::Sink sink);

// Appends script lines to the steps still to come (tests that drive windows in-process).
void queueSteps(const QString& scriptText);

} // namespace krv::scripting
