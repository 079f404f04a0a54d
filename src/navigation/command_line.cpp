#include "navigation/command_line.h"

#include "build_info.h"

namespace krv::navigation {

CommandLine parseCommandLine(const QStringList& args) {
    CommandLine c;
    for (qsizetype i = 0; i < args.size() && c.error.isEmpty(); ++i) {
        const QString& a = args[i];
        auto value = [&](QString& into) {
            if (i + 1 >= args.size() || args[i + 1].isEmpty())
                c.error = "A opção " + a + " precisa de um valor.";
            else
                into = args[++i];
        };
        if (a == "--help" || a == "-h")
            c.help = true;
        else if (a == "--version")
            c.version = true;
        else if (a == "--unattended")
            c.unattended = true;
        else if (a == "--accept-terms")
            c.acceptTerms = true;
        else if (a == "--allow-data-change")
            c.allowDataChange = true;
        else if (a == "--now")
            c.now = true;
        else if (a == "--directory")
            value(c.directory);
        else if (a == "--plan")
            value(c.plan);
        else if (a == "--rollback" || a == "--release-hold") {
            (a == "--rollback" ? c.rollback : c.releaseHold) = true;
            // The value is optional: the next argument unless it is another option.
            if (i + 1 < args.size() && !args[i + 1].startsWith('-'))
                (a == "--rollback" ? c.rollbackRecord : c.holdName) = args[++i];
        } else if (a == "--list-updates")
            c.listUpdates = true;
        else
            c.error = "Opção desconhecida: " + a;
    }
    if (!c.error.isEmpty())
        return c;
    if (!c.unattended && (c.acceptTerms || c.allowDataChange || c.now || !c.directory.isEmpty()))
        c.error = "As opções --accept-terms, --allow-data-change, --now e --directory só valem "
                  "com --unattended.";
    else if (c.unattended && !c.plan.isEmpty())
        c.error = "As opções --plan e --unattended não podem ser usadas juntas.";
    else if (int(c.rollback) + int(c.releaseHold) + int(c.listUpdates) + int(!c.plan.isEmpty()) >
                 1 ||
             ((c.releaseHold || c.listUpdates) && c.unattended) ||
             (c.rollback &&
              (c.acceptTerms || c.allowDataChange || c.now || !c.directory.isEmpty())))
        c.error = "As opções --rollback, --release-hold, --list-updates e --plan não podem ser "
                  "usadas juntas nem com as de uma atualização; --rollback aceita "
                  "--unattended.";
    return c;
}

QString helpText() {
    return "Uso: zelvor [opções]\n"
           "Assistente de atualização do sistema KRV. Sem opções, abre o assistente.\n"
           "\n"
           "  --unattended         atualiza pela Internet sem ninguém na tela, com o usuário\n"
           "                       e a senha gravados no login (\"Gravar\")\n"
           "  --accept-terms       aceita os termos da atualização (com --unattended)\n"
           "  --directory PASTA    atualiza a partir de PASTA em vez da Internet\n"
           "                       (com --unattended)\n"
           "  --allow-data-change  aplica também alterações do banco de dados que mudam\n"
           "                       valores guardados, depois de copiá-los para\n"
           "                       atualizacoes (com --unattended)\n"
           "  --now                recebe agora uma versão distribuída em etapas, antes da\n"
           "                       etapa desta instalação (com --unattended)\n"
           "  --plan ARQUIVO       mostra o que a atualização do banco de dados faria com\n"
           "                       ARQUIVO, sem alterar nada\n"
           "  --rollback [REGISTRO] desfaz a atualização de REGISTRO (sem ele, a última que\n"
           "                       guardou arquivos ou o menu); com --unattended, sem\n"
           "                       perguntar\n"
           "  --release-hold [NOME] volta a oferecer a versão retida de NOME (sem ele, todas)\n"
           "  --list-updates       lista as atualizações registradas, a mais recente primeiro\n"
           "  --version            mostra a versão e termina\n"
           "  --help               mostra esta ajuda e termina\n"
           "\n"
           "Códigos de saída de --unattended: 0 atualizado, 1 falha, 2 nada a atualizar,\n"
           "3 termos não aceitos, 4 login recusado ou sem usuário gravado, 5 outra\n"
           "atualização em andamento.\n"
           "Códigos de saída de --plan: 0 nada a fazer, 10 há alterações, 1 erro.\n"
           "Códigos de saída de --rollback: 0 desfeita, 1 recusada ou nada a desfazer, 5 outra\n"
           "atualização em andamento.\n";
}

QString versionText() {
    return QString("zelvor %1.%2.%3\n").arg(build::major).arg(build::minor).arg(build::revision);
}

} // namespace krv::navigation
