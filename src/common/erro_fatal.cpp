#include "common/erro_fatal.h"

#include "platform/dialogs.h"
#include "platform/program.h"

#include <algorithm>
#include <vector>

namespace krv {

namespace {
std::vector<OpenFile*>& openFiles() {
    static std::vector<OpenFile*> files;
    return files;
}
} // namespace

OpenFile::OpenFile(const QString& path) : file_(path) {
    openFiles().push_back(this);
}

OpenFile::~OpenFile() {
    auto& v = openFiles();
    v.erase(std::remove(v.begin(), v.end(), this), v.end());
}

void OpenFile::closeAll() {
    for (OpenFile* f : openFiles())
        f->file_.close();
}

QString fatalReportText(const QString& caller, const KrvError& error) {
    const QString crlf = "\r\n";
    return "ATENÇÃO!" + crlf +
           "Por favor, tenha estes dados a mão ao falar com o suporte técnico!" + crlf + crlf +
           caller + crlf + "Descrição do Erro: " + error.description() + crlf +
           "Linha do Erro: " + QString::number(error.line()) + crlf +
           "Número do Erro: " + QString::number(error.number()) + crlf + crlf +
           "*O sistema será finalizado*";
}

void ErroFatal(QString& caller, const KrvError& error) {
    if (caller.isEmpty())
        caller = "Programa e rotina não especificados!";
    platform::msgBox(fatalReportText(caller, error), platform::Buttons::OK,
                     platform::Icon::Critical, "Erro inesperado no sistema");
    OpenFile::closeAll();
    platform::endProgram(1);
}

} // namespace krv
