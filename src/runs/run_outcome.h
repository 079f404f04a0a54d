#pragma once
// How a run ended, or why it stopped where a person must act, told to whoever observes the
// run. The windows still show their boxes; an observer (the unattended mode) learns the
// outcome as a value instead of reading box texts.
namespace krv::runs {

enum class Outcome {
    Updated,      // the run applied something
    NothingToDo,  // nothing was due, or the run applied nothing
    LoginRefused, // the server refused the user name and password
    Failed,       // the run cannot go on: a bad setting, no secure connection, no update files
};

class RunObserver {
public:
    virtual ~RunObserver() = default;
    // Told once the outcome is known, before the window shows it.
    virtual void ended(Outcome outcome) = 0;
    // Told after the box that says why the run stopped where a person must act (another
    // login, another folder): an observer without a person ends the run with outcome.
    virtual void waitsForPerson(Outcome outcome) = 0;
};

// The observer of this process's run; nullptr (the default) for none. Not owned.
void observeRun(RunObserver* observer);
// Tells the observer, if any, how the run ended.
void reportOutcome(Outcome outcome);
// Tells the observer, if any, that the run waits for a person, and why.
void reportWaiting(Outcome outcome);

} // namespace krv::runs
