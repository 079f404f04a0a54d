#pragma once
// zelvor --unattended: the run session (runs/run_session.h) driven directly, without a window.
// Every status text and message the session reports is written to standard output (the
// message answered with its default button), the failure's report too, and the typed outcome
// the session ends with gives the exit status.
#include "navigation/command_line.h"
#include "runs/run_outcome.h"

#include <optional>

namespace krv::navigation {

// Observes an unattended run: prints what the run reports and works out its exit status.
class UnattendedOutcome : public runs::SessionObserver {
public:
    void status(const QString& window, const QString& text) override;
    // Answered with the message's default answer.
    platform::Answer message(const runs::Message& message) override;
    void ended(const runs::RunEnd& end) override;
    // Nobody will make another try: the run ends with end.
    void waitsForPerson(const runs::RunEnd& end) override;

    // How the run ended; nothing while it goes on.
    const std::optional<runs::RunEnd>& end() const { return end_; }
    // The exit status for a program end with the given code.
    int status(int endCode) const;

private:
    std::optional<runs::RunEnd> end_;
};

// The exit status of an unattended run that ended with outcome (docs/operations.md).
int exitStatus(runs::Outcome outcome);

// Runs the update unattended and ends the program with its exit status; call once the
// application exists. Ends at once (status 4) when no login is stored for the Internet path,
// and (status 1) when the folder of the directory path does not exist.
[[noreturn]] void runUnattended(const CommandLine& options);

} // namespace krv::navigation
