#pragma once
// The fatal error report: shows what support staff need to identify an unexpected error,
// closes the program's open files and ends the program.
#include "platform/krv_error.h"

#include <QFile>
#include <QString>

namespace krv {

// The report's text for caller (normally "Programa: ...\r\nRotina: ...") and error.
QString fatalReportText(const QString& caller, const KrvError& error);

// Shows the report (critical icon, title "Erro inesperado no sistema"), closes every open
// file and ends the program. An empty caller text is replaced, in the caller's variable
// too, by "Programa e rotina não especificados!".
[[noreturn]] void ErroFatal(QString& caller, const KrvError& error);

// Files a routine has open while it works: the report closes (and so flushes) them all.
// A routine keeps its file in an OpenFile for as long as it is open.
class OpenFile {
public:
    explicit OpenFile(const QString& path);
    ~OpenFile();
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    QFile& file() { return file_; }

    static void closeAll();

private:
    QFile file_;
};

} // namespace krv
