#include "common/erro_fatal.h"
#include "hook_tap.h"
#include "platform/program.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace krv;

namespace {
// Runs ErroFatal with the program end turned into an exception; returns the end code.
int runReport(QString& caller, const KrvError& e) {
    platform::setEndHandler([](int code) { throw platform::ProgramEnded{code}; });
    int code = -1;
    try {
        ErroFatal(caller, e);
    } catch (const platform::ProgramEnded& ended) {
        code = ended.code;
    }
    platform::setEndHandler({});
    return code;
}
} // namespace

TEST(FatalReport, ShowsEveryLineExactlyAndEndsTheProgram) {
    test::HookTap tap;
    QString caller = "Programa: frmProc\r\nRotina: Processa";
    EXPECT_EQ(runReport(caller, KrvError(-2147467259, "Falha no download", 40)), 1);
    const auto lines = tap.lines();
    ASSERT_FALSE(lines.isEmpty());
    const auto& box = lines.first();
    EXPECT_EQ(box.kind, "msgbox");
    EXPECT_EQ(box.fields.value(0), "Erro inesperado no sistema");
    EXPECT_EQ(box.fields.value(1), "critical");
    EXPECT_EQ(box.fields.value(2), "OK");
    EXPECT_EQ(
        box.fields.value(3),
        QString("ATENÇÃO!\r\nPor favor, tenha estes dados a mão ao falar com o suporte técnico!\r\n"
                "\r\nPrograma: frmProc\r\nRotina: Processa\r\nDescrição do Erro: Falha no download"
                "\r\nLinha do Erro: 40\r\nNúmero do Erro: -2147467259\r\n\r\n"
                "*O sistema será finalizado*"));
}

TEST(FatalReport, AnEmptyCallerTextIsReplacedInTheCallersVariable) {
    QString caller;
    runReport(caller, KrvError(5, ""));
    EXPECT_EQ(caller, "Programa e rotina não especificados!");
    EXPECT_TRUE(fatalReportText(caller, KrvError(5, ""))
                    .contains("não especificados!\r\nDescrição do Erro: \r\nLinha do Erro: 0"));
}

TEST(FatalReport, ClosesTheFilesThatAreStillOpen) {
    QTemporaryDir d;
    OpenFile log(d.filePath("log.txt"));
    ASSERT_TRUE(log.file().open(QIODevice::WriteOnly));
    log.file().write("linha");
    QString caller = "x";
    runReport(caller, KrvError(1, "e"));
    EXPECT_FALSE(log.file().isOpen());
    QFile check(d.filePath("log.txt"));
    ASSERT_TRUE(check.open(QIODevice::ReadOnly));
    EXPECT_EQ(check.readAll(), "linha");
}
