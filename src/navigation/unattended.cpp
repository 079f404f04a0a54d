#include "navigation/unattended.h"

#include "common/erro_fatal.h"
#include "database/safe_update.h"
#include "download/protocol.h"
#include "navigation/modulos.h"
#include "platform/program.h"
#include "platform/settings.h"
#include "platform/test_hook.h"
#include "platform/unattended_output.h"
#include "runs/run_end.h"
#include "runs/run_session.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <cstdio>
#include <unistd.h>

namespace krv::navigation {

namespace {

const QString kNoStoredLogin = "Nenhum usuário gravado para o servidor de atualização. Entre uma "
                               "vez pelo assistente com \"Gravar\" marcado.";
const QString kTermsRefused = "Termos da atualização não aceitos: use --accept-terms para "
                              "aceitá-los.";

void closingLine(int status) {
    platform::printUnattendedNote(
        "zelvor", QString("Fim da execução sem assistência: código %1").arg(status));
}

// Ends before the run starts: says why, then the closing line.
[[noreturn]] void endBeforeStart(int status, const QString& why) {
    platform::printUnattendedNote("zelvor", why);
    closingLine(status);
    std::fflush(nullptr);
    ::_exit(status);
}

// A box as the person would have seen it: printed, and in the test hook's transcript.
void showBox(const QString& title, const QString& text, platform::Buttons buttons,
             platform::Icon icon, platform::Answer answer) {
    const QString shownTitle = title.isEmpty() ? QCoreApplication::applicationName() : title;
    platform::printUnattendedNote(shownTitle, text);
    platform::hook::record("msgbox",
                           {shownTitle, platform::toString(icon), platform::toString(buttons), text,
                            platform::toString(answer)});
}

// The observer of this process's run: alive until the process ends (the end handler reads it).
UnattendedOutcome& observer() {
    static UnattendedOutcome instance;
    return instance;
}

// The program ends as the interactive one would at this point of the run; the end handler
// turns the run's end into the exit status.
[[noreturn]] void over() {
    const auto& end = observer().end();
    platform::endProgram(end ? end->programCode : 1);
}

} // namespace

int exitStatus(runs::Outcome outcome) {
    switch (outcome) {
    case runs::Outcome::Updated:
        return exitcode::updated;
    case runs::Outcome::NothingToDo:
        return exitcode::nothingToDo;
    case runs::Outcome::TermsRefused:
        return exitcode::termsNotAccepted;
    case runs::Outcome::LoginRefused:
        return exitcode::loginRefused;
    case runs::Outcome::Locked:
        return exitcode::anotherRun;
    case runs::Outcome::Failed:
        return exitcode::failed;
    }
    return exitcode::failed;
}

void UnattendedOutcome::status(const QString& window, const QString& text) {
    platform::printUnattendedNote(window, text);
    platform::hook::status(window, text);
}

platform::Answer UnattendedOutcome::message(const runs::Message& m) {
    showBox(m.title, m.text, m.buttons, m.icon, m.defaultAnswer);
    return m.defaultAnswer;
}

void UnattendedOutcome::ended(const runs::RunEnd& end) {
    end_ = end;
    if (const std::optional<runs::Message> report = runs::reportBox(end)) {
        showBox(report->title, report->text, report->buttons, report->icon, report->defaultAnswer);
        if (end.report == runs::RunEnd::Report::Fatal)
            OpenFile::closeAll();
    }
}

void UnattendedOutcome::waitsForPerson(const runs::RunEnd& end) {
    end_ = end;
}

int UnattendedOutcome::status(int endCode) const {
    // A program end that says something went wrong (the fatal report, a timeout) keeps its
    // own code; an ordinary end is read from how the run ended.
    if (endCode != 0)
        return endCode;
    return end_ ? exitStatus(end_->outcome) : exitcode::failed;
}

namespace {

// Each step's result mapped to the call that carries it out, as a person's clicks would, up
// to the run's end; the order of the steps is the session's.
void runSteps(runs::RunSession& run, const CommandLine& options) {
    using runs::StepResult;
    protocol::Inet inet;
    StepResult next = run.start();
    for (;;) {
        switch (next) {
        case StepResult::ChooseSource:
            if (!options.directory.isEmpty()) {
                next = run.chooseFolder(options.directory);
            } else {
                run.readPort();
                next = run.logIn(inet, platform::getSetting("atuser"),
                                 platform::getSetting("atpwd"), true);
            }
            break;
        case StepResult::Check:
            next = run.check(inet);
            break;
        case StepResult::Terms:
            next = options.acceptTerms ? run.fetch() : run.refuseTerms();
            break;
        case StepResult::ReplaceAssistant:
            next = run.replaceAssistant();
            break;
        case StepResult::HandOver:
            handOver(run);
        case StepResult::ApplyFolder:
            next = run.applyFolder();
            break;
        case StepResult::UpdateDatabase:
            next = run.updateDatabase();
            break;
        case StepResult::ReloadMenu:
            next = run.reloadMenu();
            break;
        case StepResult::Finish:
            next = run.finish();
            break;
        case StepResult::Ended:
        case StepResult::WaitsForPerson:
            return;
        }
    }
}

} // namespace

void runUnattended(const CommandLine& options) {
    const bool directory = !options.directory.isEmpty();
    if (directory && !QFileInfo(options.directory).isDir())
        endBeforeStart(exitcode::failed,
                       "Pasta de atualização não encontrada: " + options.directory);
    const QString user = platform::getSetting("atuser");
    if (!directory && user.isEmpty())
        endBeforeStart(exitcode::loginRefused, kNoStoredLogin);
    // Nobody can be asked: a change of stored values is refused unless allowed beforehand.
    runs::RunSession& run = runs::session();
    run.dataChange = options.allowDataChange ? database::DataChangePolicy::Allow
                                             : database::DataChangePolicy::Refuse;
    run.unattended = true;
    run.observe(&observer());
    platform::setEndHandler([](int code) {
        const int status = observer().status(code);
        if (status == exitcode::termsNotAccepted)
            platform::printUnattendedNote("zelvor", kTermsRefused);
        closingLine(status);
        std::fflush(nullptr);
        ::_exit(status);
    });
    try {
        runSteps(run, options);
    } catch (const std::exception& e) {
        // What escaped every step ends the run as the runtime's report would have.
        run.failWith(e, runs::RunEnd::Report::Runtime);
    }
    over();
}

} // namespace krv::navigation
