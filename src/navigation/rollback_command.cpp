#include "navigation/rollback_command.h"

#include "common/updatekrv.h"
#include "database/abre_server.h"
#include "database/connection.h"
#include "navigation/command_line.h"
#include "navigation/frm_sel.h"
#include "platform/dialogs.h"
#include "platform/program.h"
#include "platform/run_lock.h"
#include "platform/settings.h"
#include "platform/unattended_output.h"
#include "runs/holds.h"
#include "runs/rollback.h"

#include <cstdio>

namespace krv::navigation {

namespace {

void print(const QString& text) {
    const QByteArray bytes = text.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
}

void readSuiteFolder() {
    updatekrv::DirSis = platform::getSetting("DirSis", platform::programFolder());
    updatekrv::DirSisExe = platform::getSetting("DirSisExe", platform::programFolder());
}

class Teller {
public:
    explicit Teller(bool unattended) : unattended_(unattended) {}
    void say(const QString& text, platform::Icon icon) const {
        if (unattended_)
            platform::printUnattendedNote("zelvor", text);
        else
            platform::msgBox(text, platform::Buttons::OK, icon, "Aviso!");
    }
    int end(int status) const {
        if (unattended_)
            platform::printUnattendedNote(
                "zelvor", QString("Fim da execução sem assistência: código %1").arg(status));
        return status;
    }

private:
    bool unattended_;
};

} // namespace

int runRollbackCommand(const QString& record, bool unattended) {
    using platform::Icon;
    const Teller tell(unattended);
    readSuiteFolder();
    if (platform::takeRunLock(updatekrv::DirSis) == platform::RunLock::Busy) {
        tell.say(frmSel::anotherRunText(updatekrv::DirSis), Icon::Exclamation);
        return tell.end(exitcode::anotherRun);
    }
    const runs::rollback::Plan plan = runs::rollback::plan(updatekrv::DirSis, record);
    if (!plan.refusal.isEmpty()) {
        tell.say(plan.refusal, Icon::Critical);
        return tell.end(exitcode::failed);
    }
    const QStringList lines = runs::rollback::describe(plan);
    if (unattended) {
        for (const QString& line : lines)
            tell.say(line, Icon::None);
    } else if (platform::msgBox(lines.join("\r\n") + "\r\n\r\nDesfazer esta atualização?",
                                platform::Buttons::YesNo, Icon::Question, "Desfazer atualização",
                                platform::Answer::No) != platform::Answer::Yes) {
        return exitcode::failed;
    }
    if (plan.menu && database::AbreServer() == 1) {
        tell.say("Não foi possível estabelecer conexão com o servidor! Nada foi alterado.",
                 Icon::Critical);
        return tell.end(exitcode::failed);
    }
    int status = exitcode::updated;
    try {
        const QJsonObject done = runs::rollback::apply(updatekrv::DirSis, plan,
                                                       plan.menu ? &database::Conexao() : nullptr);
        tell.say(done["message"].toString(), Icon::Information);
    } catch (const KrvError& e) {
        tell.say(e.description() + "\r\nExecute zelvor --rollback de novo para concluir.",
                 Icon::Critical);
        status = exitcode::failed;
    }
    database::Conexao().close();
    return tell.end(status);
}

int runReleaseHoldCommand(const QString& name) {
    readSuiteFolder();
    const int released = runs::holds::release(updatekrv::DirSis, name);
    if (released == 0) {
        print(name.isEmpty() ? QString("Nenhuma versão retida.")
                             : "Nenhuma versão retida de " + name + ".");
        return exitcode::failed;
    }
    print(QString("%1 retenção(ões) encerrada(s).").arg(released));
    return 0;
}

int runListUpdatesCommand() {
    readSuiteFolder();
    const QStringList lines = runs::rollback::listing(updatekrv::DirSis);
    for (const QString& line : lines)
        print(line);
    return 0;
}

} // namespace krv::navigation
