#pragma once
// How a run ended, told to whoever observes the run. The windows still show their boxes; an
// observer (the unattended mode) learns the outcome as a value instead of reading box texts.
namespace krv::runs {

enum class Outcome {
    Updated,     // the run applied something
    NothingToDo, // nothing was due, or the run applied nothing
};

class RunObserver {
public:
    virtual ~RunObserver() = default;
    // Told once the outcome is known, before the window shows it.
    virtual void ended(Outcome outcome) = 0;
};

// The observer of this process's run; nullptr (the default) for none. Not owned.
void observeRun(RunObserver* observer);
// Tells the observer, if any, how the run ended.
void reportOutcome(Outcome outcome);

} // namespace krv::runs
