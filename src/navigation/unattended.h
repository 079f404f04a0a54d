#pragma once
// zelvor --unattended: the interactive program driven without a person. The windows exist
// (offscreen) and the same handlers run; the buttons a person would press are pressed by the
// test hook's driver, every message box is answered with its default button, and every box
// and status text is written to standard output. The exit status tells how the run ended,
// from the outcome the run reports (runs/run_outcome.h); no box text is read.
#include "navigation/command_line.h"
#include "runs/run_outcome.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace krv::navigation {

// Observes an unattended run (its reported outcome and its transcript) and works out its exit
// status.
class UnattendedOutcome : public runs::RunObserver {
public:
    explicit UnattendedOutcome(bool acceptTerms) : acceptTerms_(acceptTerms) {}

    // The run's end as it reported it.
    void ended(runs::Outcome outcome) override;
    // The run stopped where a person must act: it ends, with outcome, once the box is answered.
    void waitsForPerson(runs::Outcome outcome) override;

    // One transcript line: the terms window shown to a run that may not accept them.
    void see(const QString& kind, const QStringList& fields);
    // The exit status for a program end with the given code.
    int status(int endCode) const;

private:
    bool acceptTerms_;
    std::optional<int> outcome_;
};

// The steps a person would take: the Internet path with the stored login, or the folder.
QString unattendedScript(const CommandLine& options);

// Makes this run unattended; call after the application exists and before the start window
// loads. Ends the program (status 4) when no login is stored for the Internet path.
void startUnattended(const CommandLine& options);

} // namespace krv::navigation
