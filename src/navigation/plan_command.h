#pragma once
// zelvor --plan FILE: the database update's plan for the suite's database, printed.
#include <QString>

namespace krv::navigation {

// Prints the plan on standard output (errors on standard error) and returns the exit
// status: 0 nothing to do, 10 work to do, 1 an error or a file the checks refuse.
int runPlanCommand(const QString& updateFile);

} // namespace krv::navigation
