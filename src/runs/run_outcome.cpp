#include "runs/run_outcome.h"

namespace krv::runs {

namespace {
RunObserver* observer_ = nullptr;
} // namespace

void observeRun(RunObserver* observer) {
    observer_ = observer;
}

void reportOutcome(Outcome outcome) {
    if (observer_)
        observer_->ended(outcome);
}

void reportWaiting(Outcome outcome) {
    if (observer_)
        observer_->waitsForPerson(outcome);
}

} // namespace krv::runs
