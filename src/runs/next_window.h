#pragma once
// The run's windows: each step's result mapped to the window that carries out the next one.
#include "runs/step_result.h"

class QWidget;

namespace krv::runs {

// Shows the window of next from the window from: the database update owned by from, the menu
// reload without an owner; Finish ends the run (in the status line of the step before); any
// other result needs no run window (an end was told, a person acts in from).
void showNext(StepResult next, QWidget* from);

} // namespace krv::runs
