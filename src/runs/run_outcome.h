#pragma once
// How a run ended, and what a run tells whoever observes it: its status texts, its messages and
// questions, its progress and its end. The windows show what they are told as before; the
// unattended mode prints it and maps the end to its exit status. Nobody reads box texts.
#include "platform/dialogs.h"

#include <QString>

namespace krv::runs {

enum class Outcome {
    Updated,      // the run applied something
    NothingToDo,  // nothing was due, or the run applied nothing
    TermsRefused, // the terms of the update were not accepted
    LoginRefused, // the server refused the user name and password, or none is stored
    Locked,       // another run holds the suite
    Failed,       // the run cannot go on: an error, a bad setting, no update files
};

// How a run ended. A failure carries its error (number, description, line) and how it is
// reported: by a message told before (Report::Message), by the fatal error report of
// common/erro_fatal.h (Report::Fatal, with the caller text "Programa: ...\r\nRotina: ..."),
// or by the runtime's standard report of platform/application.h (Report::Runtime).
struct RunEnd {
    enum class Report { Message, Fatal, Runtime };
    Outcome outcome = Outcome::Failed;
    int errorNumber = 0;
    QString errorText;
    int errorLine = 0;
    Report report = Report::Message;
    QString caller;      // Report::Fatal: who failed
    int programCode = 0; // the exit code an interactive program ends with
};

// A message box or question, as the run asks it.
struct Message {
    QString title, text;
    platform::Buttons buttons = platform::Buttons::OK;
    platform::Icon icon = platform::Icon::None;
    platform::Answer defaultAnswer = platform::Answer::OK; // the safe answer
};

// Progress of a long step (the structure read, the menu reload). Listing: the structure is
// read and the database update's list of changes begins.
struct Progress {
    enum class Phase { Start, Step, Finish, Listing };
    Phase phase = Phase::Step;
    int value = 0, maximum = 0;
    QString label;
};

class SessionObserver {
public:
    virtual ~SessionObserver() = default;
    // A status text, with the window that shows it ("frmProc").
    virtual void status(const QString& window, const QString& text) = 0;
    // A message or question; returns the answer.
    virtual platform::Answer message(const Message& message) = 0;
    virtual void progress(const Progress& progress) { (void)progress; }
    // A line of the database update's list.
    virtual void line(const QString& text) { (void)text; }
    // The run ended. A window observer ends the program here.
    virtual void ended(const RunEnd& end) = 0;
    // The run stopped where a person must act (another login, another folder): a person
    // tries again, an observer without one ends the run with end.
    virtual void waitsForPerson(const RunEnd& end) = 0;
};

} // namespace krv::runs
