#pragma once
// A failure's end, made from its error in one place, and the one presentation of a failure's
// report that the windows, the unattended run and the update record share.
#include "runs/run_outcome.h"

#include <exception>
#include <optional>

namespace krv::runs {

// The end of a run that failed on error, reported as report says; caller: who failed, for
// Report::Fatal ("Programa: ...\r\nRotina: ..."; empty: "Programa e rotina não
// especificados!"); number: the error number of an error that carries none.
RunEnd failureEnd(const std::exception& error, RunEnd::Report report, const QString& caller = {},
                  int number = 0);

// The box that presents end's report: the fatal error report or the runtime's report;
// nothing when the failure was told by a message before (Report::Message).
std::optional<Message> reportBox(const RunEnd& end);

} // namespace krv::runs
