#include "navigation/unattended.h"

#include "database/safe_update.h"

#include "platform/program.h"
#include "platform/settings.h"
#include "platform/test_hook.h"
#include "platform/unattended_output.h"
#include "scripting/script_runner.h"

#include <QFileInfo>
#include <QTimer>
#include <memory>
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

// Ends before the first window: says why, then the closing line.
[[noreturn]] void endBeforeStart(int status, const QString& why) {
    platform::printUnattendedNote("zelvor", why);
    closingLine(status);
    ::_exit(status);
}

} // namespace

void UnattendedOutcome::see(const QString& kind, const QStringList& fields) {
    if (kind == "show" && fields.value(0) == "frmHist" && !acceptTerms_)
        outcome_ = exitcode::termsNotAccepted;
}

void UnattendedOutcome::ended(runs::Outcome outcome) {
    switch (outcome) {
    case runs::Outcome::Updated:
        outcome_ = exitcode::updated;
        return;
    case runs::Outcome::NothingToDo:
        outcome_ = exitcode::nothingToDo;
        return;
    case runs::Outcome::LoginRefused:
        outcome_ = exitcode::loginRefused;
        return;
    case runs::Outcome::Failed:
        outcome_ = exitcode::failed;
        return;
    }
}

void UnattendedOutcome::waitsForPerson(runs::Outcome outcome) {
    ended(outcome);
    // After the handler that showed the box returns: nobody will make another try.
    QTimer::singleShot(0, [] { platform::endProgram(0); });
}

int UnattendedOutcome::status(int endCode) const {
    // A program end that says something went wrong (the fatal report, a timeout, another
    // run) keeps its own code; an ordinary end is read from what the run showed.
    if (endCode != 0)
        return endCode;
    return outcome_.value_or(exitcode::failed);
}

QString unattendedScript(const CommandLine& options) {
    if (!options.directory.isEmpty())
        return "click frmSel.SSCommand2\ntype frmDir.txtDir " +
               platform::hook::escape(options.directory) + "\nclick frmDir.cmdOK\n";
    QString script = "click frmSel.SSCommand1\nclick frmInicio.cmdContinua\n";
    if (options.acceptTerms)
        script += "check frmHist.optTermos(1) 1\nclick frmHist.SSCommand1\n";
    else
        script += "click frmHist.cmdCanc\n";
    return script;
}

void startUnattended(const CommandLine& options) {
    if (!options.directory.isEmpty() && !QFileInfo(options.directory).isDir()) {
        endBeforeStart(exitcode::failed,
                       "Pasta de atualização não encontrada: " + options.directory);
    }
    if (options.directory.isEmpty() && platform::getSetting("atuser").isEmpty()) {
        endBeforeStart(exitcode::loginRefused, kNoStoredLogin);
    }
    // Nobody can be asked: a change of stored values is refused unless allowed beforehand.
    database::dataChangePolicy() = options.allowDataChange ? database::DataChangePolicy::Allow
                                                           : database::DataChangePolicy::Refuse;
    auto outcome = std::make_shared<UnattendedOutcome>(options.acceptTerms);
    runs::observeRun(outcome.get()); // kept alive by the end handler below
    platform::setEndHandler([outcome](int code) {
        const int status = outcome->status(code);
        if (status == exitcode::termsNotAccepted)
            platform::printUnattendedNote("zelvor", kTermsRefused);
        closingLine(status);
        std::fflush(nullptr);
        ::_exit(status);
    });
    scripting::drive(unattendedScript(options),
                     [outcome](const QString& kind, const QStringList& fields) {
                         platform::printUnattended(kind, fields);
                         outcome->see(kind, fields);
                     });
}

} // namespace krv::navigation
