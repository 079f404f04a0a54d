#pragma once
// The test hook: when ZELVOR_TEST_SCRIPT or ZELVOR_TEST_TRANSCRIPT is set, the answers to
// message and input boxes come from a script file, and every message box, input box, status
// text, window shown, process started and program end is written to a transcript file. Inert
// when neither variable is set. Format: docs/test-hook.md.
//
// This is the part the product calls: the transcript, the pause points and the answers to
// boxes. Reading the script and driving the windows is scripting/, which the programs install.
#include "platform/dialogs.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace krv::platform::hook {

// What the script side answers when a box comes. The programs install one (scripting/);
// without it boxes take their defaults and the script is not read.
class Script {
public:
    virtual ~Script() = default;
    // Reads the script file named by ZELVOR_TEST_SCRIPT.
    virtual void load(const QString& path) = 0;
    // Starts stepping through the script and watching the windows; timeoutSeconds > 0 ends
    // a run that takes longer.
    virtual void start(int timeoutSeconds) = 0;
    // The answer to a message box: a "msgbox" step taken off the script, else defaultAnswer.
    // holdMs: how long the box stays open first.
    virtual Answer answerMsgBox(Buttons buttons, Answer defaultAnswer, int& holdMs) = 0;
    // The text typed into an input box, when the next step is an "input" step.
    virtual std::optional<QString> answerInputBox() = 0;
};
void setScript(Script* script);

// Reads the environment and, when active, opens the transcript and starts the script.
// Called once by the application after the QApplication exists.
void install();
bool active();

// Makes the hook active even when no variable is set (an unattended run): sink sees every
// transcript line as it is written. True when it was not active before ("start" recorded).
using Sink = std::function<void(const QString& kind, const QStringList& fields)>;
bool attach(Sink sink);

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
