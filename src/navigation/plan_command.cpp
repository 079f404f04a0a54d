#include "navigation/plan_command.h"

#include "common/updatekrv.h"
#include "database/abre_server.h"
#include "database/connection.h"
#include "database/schema_plan.h"
#include "navigation/command_line.h"
#include "platform/krv_error.h"
#include "platform/program.h"
#include "platform/settings.h"

#include <cstdio>

namespace krv::navigation {

namespace {

void print(FILE* to, const QString& text) {
    const QByteArray bytes = text.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), to);
}

} // namespace

int runPlanCommand(const QString& updateFile) {
    using namespace platform;
    updatekrv::DirSis = getSetting("DirSis", programFolder());
    updatekrv::DirSisExe = getSetting("DirSisExe", programFolder());
    if (database::AbreServer() == 1) {
        print(stderr, "Não foi possível estabelecer conexão com o servidor! (Config.BD em " +
                          updatekrv::DirSis + ")");
        return exitcode::failed;
    }
    try {
        const database::PlanResult plan = database::planUpdate(updateFile, database::Conexao());
        for (const QString& line : plan.output)
            print(stdout, line);
        print(stdout, QString("-- %1 comando(s); %2 alteração(ões) que podem perder dados")
                          .arg(plan.statements)
                          .arg(plan.lossWarnings));
        database::Conexao().close();
        if (!plan.refusals.isEmpty()) {
            print(stdout, QString("-- %1 recusa(s): o arquivo seria recusado inteiro e nada "
                                  "seria alterado")
                              .arg(plan.refusals.size()));
            return exitcode::failed;
        }
        return plan.statements == 0 ? 0 : exitcode::planHasWork;
    } catch (const KrvError& e) {
        print(stderr, e.description());
    } catch (const std::exception& e) {
        print(stderr, QString::fromLocal8Bit(e.what()));
    }
    database::Conexao().close();
    return exitcode::failed;
}

} // namespace krv::navigation
