#pragma once
// The test hook: when ZELVOR_TEST_SCRIPT or ZELVOR_TEST_TRANSCRIPT is set, the user's
// actions and the answers to message and input boxes come from a script file, and every
// message box, input box, status text, window shown, process started and program end is
// written to a transcript file. Inert when neither variable is set. Format: docs/test-hook.md.
#include "platform/dialogs.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace krv::platform::hook {

// Reads the environment and, when active, starts replaying the script's actions.
// Called once by the application after the QApplication exists.
void install();
bool active();

// Makes the hook drive the program from scriptText (appended to any test script) even when
// no variable is set: an unattended run. sink sees every transcript line as it is written;
// no run time limit unless ZELVOR_TEST_TIMEOUT asks for one.
using Sink = std::function<void(const QString& kind, const QStringList& fields)>;
void drive(const QString& scriptText, Sink sink);

// Appends script lines to the steps still to come (tests that drive windows in-process).
void queueSteps(const QString& scriptText);

// Answers a message box from the script (the next step when it is a "msgbox" step,
// otherwise the box's default button) and records it. Empty when the hook is inert.
std::optional<Answer> answerMsgBox(const QString& text, Buttons buttons, Icon icon,
                                   const QString& title, Answer defaultAnswer);
// The same for an input box; an "input" step gives the text, otherwise the default.
std::optional<QString> answerInputBox(const QString& prompt, const QString& title,
                                      const QString& defaultText);

// A named point of a long job (the steps of replacing files): when ZELVOR_TEST_PAUSE names
// it, records "pause" and stops there for good, so a test can kill the process at that point.
void pausePoint(const char* name);

// A status caption shown to the user in a window.
void status(const QString& window, const QString& text);
// Any other line of the transcript: the kind, then its fields.
void record(const QString& kind, const QStringList& fields);

// Escapes a transcript field (backslash, tab, CR, LF, and as \uXXXX every other control
// character and the Unicode line and paragraph separators U+0085, U+2028, U+2029) and undoes it.
QString escape(const QString& s);
QString unescape(const QString& s);

// A character that some reader takes for the end of a line or that a terminal acts on: the
// C0 and C1 controls, DEL, and U+2028 and U+2029.
bool breaksLines(QChar c);
// Every such character but tab, CR and LF written as \uXXXX, so a text stays on its line.
QString escapeControls(const QString& s);

} // namespace krv::platform::hook
