#pragma once
// Program-wide services: yielding to the event loop, the program folder, and ending the
// program the way the original's End did (every window gone, process ended at once).
#include <QString>
#include <QStringList>
#include <functional>

namespace krv::platform {

// One pass of the event loop, so that captions repaint and clicks are seen.
void yield();

// Folder of the running executable, without a trailing separator.
QString programFolder();

// Closes every window and ends the process with the given code; never returns.
[[noreturn]] void endProgram(int code = 0);

// Ends the program as endProgram(0) does, except that the process goes on as program with
// arguments (exec): its exit status becomes this run's. For unattended runs, whose caller
// waits for one process to tell how the whole run ended. A program that cannot be run ends
// the process with status 1 and says so on standard error.
[[noreturn]] void endProgramAs(const QString& program, const QStringList& arguments);

// Runs fn with the exit code when the program ends, before the ending itself (the update
// record is written from here).
void atProgramEnd(std::function<void(int)> fn);

// Tests replace the ending with their own (typically throwing ProgramEnded) so that a flow
// that ends the program can run inside the test runner. An empty handler restores the default.
void setEndHandler(std::function<void(int)> handler);

// Hides every window as the program ends; set by the windows' side (platform/windowed).
std::function<void()>& windowsAtEnd();

struct ProgramEnded {
    int code;
};

} // namespace krv::platform
