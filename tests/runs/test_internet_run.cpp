// The Internet update end to end: the real zelvor, copied into a throwaway suite folder (the
// program folder is the suite's folder, as on an installed machine), the reference update
// server on loopback and the real MariaDB.
#include "common/release_manifest.h"
#include "common/text.h"
#include "end_to_end.h"
#include "make_zip.h"
#include "pe_builder.h"
#include "release_signer.h"
#include "runs/delta_update.h"
#include "served_folder.h"
#include "test_db.h"
#include "throwaway_ca.h"
#include "update_file_builder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

using namespace krv;
using namespace krv::test;

namespace {

const QString kDone = "Atualização concluída com sucesso!";

// One fixed-width record of the menu file.
QByteArray menuRecord(const QString& sistema, const QString& seq, const QString& menu,
                      const QString& nome, const QString& nivel, const QString& anterior,
                      const QString& programa) {
    return text::toCp1252(sistema.leftJustified(50) + seq.leftJustified(3) +
                          menu.leftJustified(30) + nome.leftJustified(20) + nivel.leftJustified(1) +
                          anterior.leftJustified(50) + programa.leftJustified(1)) +
           "\r\n";
}

class InternetRun : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(install_.db().ok());
        zelvor_ = install_.folder() + "/zelvor";
        ASSERT_TRUE(QFile::copy(zelvorBinary(), zelvor_));
        QFile::setPermissions(zelvor_, QFile::permissions(zelvorBinary()));
        // A suite module: any executable carrying our version record reads as 01.31.00.
        module_ = install_.folder() + "/krvsis";
        ASSERT_TRUE(QFile::copy(zelvorBinary(), module_));
        served_.write("usuarios.txt", "ana\tsegredo\n");
    }

    void versions(const QByteArray& lines) { served_.write("versoes.txt", lines); }
    void history(int code, const QByteArray& lines) {
        served_.write(QString("historico/%1.txt").arg(code), lines);
    }
    QString served(const QString& name) const { return served_.path() + "/atualsis/" + name; }

    // With pausePoint, the run is killed (signal 9) when it gets there.
    RunResult run(const QString& script, const char* pausePoint = nullptr) {
        RunOptions o = install_.options(script, 90);
        o.env["ZELVOR_BASE_URL"] = served_.baseUrl();
        if (pausePoint) {
            o.env["ZELVOR_TEST_PAUSE"] = pausePoint;
            o.killAtPause = true;
        }
        if (!caFile_.isEmpty())
            o.env["ZELVOR_CA_FILE"] = caFile_;
        return runProgram(zelvor_, o);
    }
    static QString login() {
        return "click frmSel.SSCommand1\ntype frmInicio.txtUsuario ana\n"
               "type frmInicio.txtSenha segredo\nclick frmInicio.cmdContinua\n";
    }
    static QString loginAndAccept() {
        return login() + "check frmHist.optTermos(1) 1\nclick frmHist.SSCommand1\n";
    }

    bool shown(const RunResult& r, const QString& window) const {
        for (const auto& l : r.of("show"))
            if (l.fields.value(0) == window)
                return true;
        return false;
    }
    int downloads(const QString& name) const {
        return served_.answered("GET /atualsis/" + name.toStdString() + " ");
    }

    SuiteInstall install_;
    ServedFolder served_;
    QString zelvor_, module_;
    QString caFile_; // ZELVOR_CA_FILE of the runs; empty: unset
};

std::string shownText(const RunResult& r) {
    return r.transcriptText().toStdString();
}

} // namespace

TEST_F(InternetRun, AWholeUpdateReplacesTheModuleAltersTheDatabaseAndReloadsTheMenu) {
    ScratchDatabase& suite = install_.db();
    suite.exec({"create table clientes (id int)",
                "create table menu (Sistema varchar(50), sequencia varchar(3), Menu varchar(30), "
                "NomeInter varchar(20), Nivel int, NivelAnterior varchar(50), Programa int)",
                "insert into menu values ('Antigo', '001', 'Velho', 'mnuVelho', 1, '', 0)"});
    ScratchDatabase reference;
    reference.exec(
        {"create table clientes (id int, nome varchar(40))", "create table produtos (codigo int)"});
    tools::BuildOptions options;
    options.codAtu = "000132";
    tools::buildUpdateFile(served("krv.mdb"), reference.db(), options);
    served_.write(
        "atualsis/mnusis_cs.krv",
        menuRecord("Financeiro", "010", "Contas a pagar", "mnuPagar", "1", "", "1") +
            menuRecord("Estoque", "020", "Entradas", "mnuEntradas", "2", "mnuPagar", "0"));
    makeZip(served("krvsis01.32.00.zip"),
            {{"krvsis", "krvsis 01.32.00"}, {"ajuda/krvsis.hlp", "ajuda nova"}});
    versions("1\tkrvdb\t000132\n"
             "x1\tlixo\t99.99.99\n" // a code that is no number is skipped
             "11\tmenu\t000011\n"
             "5\tkrvsis\t01.32.00\n"
             "0\tzelvor\t01.31.00\n"); // the assistant is current
    history(1, "000132\t2024-03-01\tNova tabela de produtos\n");
    history(11, "000011\t2024-03-01\tMenu de estoque\n");
    history(5, "01.31.00\t2024-01-01\tJá instalado\n01.32.00\t2024-03-01\tCorrige boletos\n");

    const RunResult r = run(loginAndAccept());
    expectCleanEnd(r, 0);
    EXPECT_TRUE(shown(r, "frmHist"));
    EXPECT_TRUE(shown(r, "frmProc"));
    ASSERT_FALSE(r.messages().isEmpty()) << shownText(r);
    EXPECT_EQ(r.messages().last(), kDone) << shownText(r);
    EXPECT_EQ(r.statuses().mid(0, 4),
              QStringList({"Criando pasta temporária", "Solicitando arquivo", "Solicitando arquivo",
                           "Solicitando arquivo"}))
        << shownText(r);
    EXPECT_TRUE(r.statuses().contains("Descompactando arquivo"));
    EXPECT_TRUE(r.statuses().contains("Atualizar banco de dados"));

    // Module replaced, flat, in the suite's folder.
    EXPECT_EQ(readFile(module_), "krvsis 01.32.00");
    EXPECT_EQ(readFile(install_.folder() + "/krvsis.hlp"), "ajuda nova");
    // Database altered, menu reloaded, both versions recorded.
    EXPECT_TRUE(suite.column("show columns from clientes").contains("nome"));
    EXPECT_EQ(suite.column("show tables like 'produtos'").size(), 1);
    EXPECT_EQ(suite.column("select trim(NomeInter) from menu"),
              QStringList({"mnuPagar", "mnuEntradas"}));
    EXPECT_EQ(suite.scalar("select ult_atualizacao from licensa"), "000132");
    EXPECT_EQ(suite.scalar("select atmenu from licensa"), "000011");
    EXPECT_FALSE(QFileInfo::exists(install_.updateFolder()));
    // One log line per file, in work-list order.
    const QStringList log =
        QString::fromUtf8(served_.read("logcliente.txt")).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(log.size(), 3) << served_.read("logcliente.txt").toStdString();
    QStringList logged;
    for (const QString& l : log) {
        EXPECT_EQ(l.section('\t', 1, 1), "ana");
        logged << l.section('\t', 2, 2);
    }
    EXPECT_EQ(logged, QStringList({"krv.mdb", "mnusis_cs.krv", "krvsis01.32.00.zip"}));

    // The record: before and after of modules, database and menu, each statement, each file.
    const auto recs = updateRecords(install_.folder());
    ASSERT_EQ(recs.size(), 1);
    const QJsonObject rec = recs.first();
    EXPECT_EQ(rec["outcome"].toString(), "updated");
    EXPECT_EQ(rec["reached"].toString(), "end");
    EXPECT_EQ(rec["user"].toString(), "ana");
    EXPECT_EQ(rec["message"].toString(), kDone);
    EXPECT_EQ(rec["modules"].toArray(),
              QJsonArray({QJsonObject{
                  {"name", "krvsis"}, {"before", "01.31.00"}, {"after", QJsonValue()}}}));
    const QJsonObject db = rec["database"].toObject();
    EXPECT_EQ(db["ult_atualizacao"].toObject(),
              (QJsonObject{{"before", "000131"}, {"after", "000132"}}));
    EXPECT_EQ(db["atmenu"].toObject(), (QJsonObject{{"before", "000010"}, {"after", "000011"}}));
    EXPECT_EQ(rec["menu_rows"].toObject(), (QJsonObject{{"before", "1"}, {"after", "2"}}));
    QStringList sql;
    for (const QJsonValue st : db["statements"].toArray()) {
        sql << st["sql"].toString();
        EXPECT_EQ(st["result"].toString(), "ok");
        EXPECT_GE(st["duration_ms"].toInteger(-1), 0);
    }
    ASSERT_EQ(sql.size(), 2) << sql.join('\n').toStdString();
    EXPECT_TRUE(sql[0].contains("clientes") && sql[0].contains("nome")) << sql[0].toStdString();
    EXPECT_TRUE(sql[1].startsWith("create table", Qt::CaseInsensitive) &&
                sql[1].contains("produtos"));
    // Only clientes was altered; its definition before the change.
    const QJsonObject before = db["tables_before"].toObject();
    EXPECT_EQ(before.keys(), QStringList({"clientes"}));
    EXPECT_FALSE(before["clientes"].toString().contains("nome"));
    QStringList files;
    for (const QJsonValue f : rec["files"].toArray()) {
        files << f["name"].toString();
        const QByteArray served = readFile(this->served(f["name"].toString()));
        EXPECT_EQ(f["size"].toInteger(), served.size());
        EXPECT_EQ(f["sha256"].toString(),
                  QString::fromLatin1(
                      QCryptographicHash::hash(served, QCryptographicHash::Sha256).toHex()));
        // Downloaded whole by this run; no key in the installation, so nothing was checked.
        EXPECT_EQ(f["download_bytes"].toInteger(), served.size());
        EXPECT_GE(f["download_ms"].toInteger(-1), 0);
        EXPECT_GT(f["rate_bytes_per_s"].toInteger(), 0);
        EXPECT_EQ(f["signature_verified"], false);
    }
    EXPECT_EQ(files, QStringList({"krv.mdb", "krvsis01.32.00.zip", "mnusis_cs.krv"}));
    const QStringList recordLog = updateLogLines(install_.folder());
    ASSERT_EQ(recordLog.size(), 1);
    EXPECT_EQ(recordLog.first().split('\t').mid(2, 3), QStringList({"updated", "end", "ana"}));
}

// A run killed as it begins to change the database leaves its record saying so; the next run
// marks it interrupted and does the update.
TEST_F(InternetRun, AKilledRunLeavesARecordTheNextRunMarksInterrupted) {
    ScratchDatabase reference;
    reference.exec("create table produtos (codigo int)");
    tools::BuildOptions options;
    options.codAtu = "000132";
    tools::buildUpdateFile(served("krv.mdb"), reference.db(), options);
    versions("1\tkrvdb\t000132\n");
    history(1, "000132\t2024-03-01\tNova tabela de produtos\n");

    const RunResult killed = run(loginAndAccept(), "statement-first");
    ASSERT_TRUE(killed.killed) << shownText(killed);
    auto recs = updateRecords(install_.folder());
    ASSERT_EQ(recs.size(), 1);
    QJsonObject cut = recs.first();
    EXPECT_EQ(cut["outcome"], "running");
    EXPECT_EQ(cut["reached"], "database");
    EXPECT_TRUE(cut["exit_code"].isNull());
    EXPECT_EQ(std::as_const(cut)["files"][0]["name"], "krv.mdb");
    const QJsonArray begun = std::as_const(cut)["database"]["statements"].toArray();
    ASSERT_EQ(begun.size(), 1);
    EXPECT_TRUE(begun[0]["sql"].toString().contains("produtos"));
    EXPECT_EQ(begun[0]["result"], "running");
    EXPECT_TRUE(begun[0]["duration_ms"].isNull());
    EXPECT_FALSE(QFileInfo::exists(install_.folder() + "/atualizacoes/atualizacoes.log"));
    EXPECT_TRUE(install_.db().column("show tables like 'produtos'").isEmpty());

    const RunResult again = run(loginAndAccept());
    expectCleanEnd(again, 0);
    EXPECT_EQ(install_.db().column("show tables like 'produtos'").size(), 1);
    recs = updateRecords(install_.folder());
    ASSERT_EQ(recs.size(), 2);
    QJsonObject database = cut["database"].toObject();
    QJsonArray statements = database["statements"].toArray();
    QJsonObject statement = statements[0].toObject();
    statement["result"] = "interrupted";
    statements[0] = statement;
    database["statements"] = statements;
    cut["database"] = database;
    cut["outcome"] = "interrupted";
    EXPECT_EQ(recs[0], cut);
    EXPECT_EQ(recs[1]["outcome"], "updated");
    const QStringList log = updateLogLines(install_.folder());
    ASSERT_EQ(log.size(), 2);
    EXPECT_EQ(log[0].split('\t').mid(2, 2), QStringList({"interrupted", "database"}));
    EXPECT_EQ(log[1].split('\t').mid(2, 2), QStringList({"updated", "end"}));
}

TEST_F(InternetRun, NothingToUpdateSaysSoAndEnds) {
    versions("1\tkrvdb\t000131\n11\tmenu\t000010\n5\tkrvsis\t01.31.00\n"
             "5\tkrvsis\t01.100.00\n" // sorts before the installed text
             "6\tausente\t09.00.00\n" // not installed here
             "0\tzelvor\t01.31.00\n");
    history(6, "09.00.00\t2024\tNunca pedido\n");
    const RunResult r = run(login());
    expectCleanEnd(r, 0);
    ASSERT_FALSE(r.messages().isEmpty());
    EXPECT_EQ(r.messages().last(), "Seu sistema não necessita de nenhuma atualização!");
    EXPECT_EQ(r.of("msgbox").last().fields.mid(0, 3), QStringList({"Aviso!", "information", "OK"}));
    EXPECT_FALSE(shown(r, "frmHist"));
    EXPECT_EQ(served_.answered("GET /atualsis/lerhistorico.php"), 0);
}

TEST_F(InternetRun, TermsNotAcceptedThenCancelChangesNothing) {
    makeZip(served("krvsis01.32.00.zip"), {{"krvsis", "nova"}});
    versions("5\tkrvsis\t01.32.00\n");
    history(5, "01.32.00\t2024-03-01\tCorrige boletos\n");
    const RunResult r = run(login() + "check frmHist.optTermos(1) 1\ncheck frmHist.optTermos(0) 1\n"
                                      "click frmHist.cmdCanc\n");
    expectCleanEnd(r, 0);
    EXPECT_TRUE(shown(r, "frmHist"));
    EXPECT_FALSE(shown(r, "frmProc"));
    EXPECT_EQ(downloads("krvsis01.32.00.zip"), 0);
    EXPECT_NE(readFile(module_), "nova");
    EXPECT_FALSE(QFileInfo::exists(install_.updateFolder()));
    EXPECT_FALSE(r.messages().contains(kDone));
    EXPECT_TRUE(updateRecords(install_.folder()).isEmpty());
}

TEST_F(InternetRun, ARefusedDownloadEndsInTheFatalReportAndIsNotApplied) {
    ASSERT_TRUE(QFile::copy(zelvorBinary(), install_.folder() + "/caixa"));
    makeZip(served("krvsis01.32.00.zip"), {{"krvsis", "nova"}});
    // caixa01.32.00.zip is not on the server: 404.
    versions("5\tkrvsis\t01.32.00\n6\tcaixa\t01.32.00\n");
    history(5, "01.32.00\t2024\tCorrige boletos\n");
    history(6, "01.32.00\t2024\tNovo caixa\n");
    const RunResult r = run(loginAndAccept());
    expectCleanEnd(r, 1);
    const auto boxes = r.of("msgbox");
    ASSERT_FALSE(boxes.isEmpty());
    const QString report = boxes.last().fields.value(3);
    EXPECT_EQ(boxes.last().fields.value(0), "Erro inesperado no sistema");
    EXPECT_TRUE(report.contains("Programa: frmProc\r\nRotina: Processa")) << report.toStdString();
    EXPECT_TRUE(report.contains("caixa01.32.00.zip")) << report.toStdString();
    EXPECT_FALSE(r.messages().contains(kDone));
    EXPECT_EQ(served_.answered("GET /atualsis/caixa01.32.00.zip 404"), 1);
    // A failed run's record says how far it got and why it stopped.
    const auto recs = updateRecords(install_.folder());
    ASSERT_EQ(recs.size(), 1);
    EXPECT_EQ(recs.first()["outcome"].toString(), "failed");
    EXPECT_EQ(recs.first()["exit_code"].toInt(), 1);
    EXPECT_TRUE(recs.first()["message"].toString().contains("caixa01.32.00.zip"));
    EXPECT_EQ(recs.first()["reached"], "files");
    const QJsonArray fetched = recs.first()["files"].toArray();
    ASSERT_EQ(fetched.size(), 1);
    EXPECT_EQ(fetched[0]["name"], "krvsis01.32.00.zip");
    EXPECT_EQ(fetched[0]["download_bytes"].toInteger(),
              readFile(served("krvsis01.32.00.zip")).size());
    // The first file went through; the refused one is neither logged nor left behind.
    EXPECT_EQ(readFile(module_), "nova");
    const QString log = QString::fromUtf8(served_.read("logcliente.txt"));
    EXPECT_TRUE(log.contains("krvsis01.32.00.zip"));
    EXPECT_FALSE(log.contains("caixa")) << log.toStdString();
    EXPECT_FALSE(QFileInfo::exists(install_.updateFolder() + "/caixa01.32.00.zip"));
}

TEST_F(InternetRun, ANewerAssistantIsDownloadedAndMovrinStarted) {
    makeZip(served("zelvor01.32.00.zip"), {{"zelvor", "assistente novo"}});
    versions("5\tkrvsis\t01.32.00\n0\tzelvor\t01.32.00\n11\tmenu\t000099\n");
    history(5, "01.32.00\t2024\tCorrige boletos\n");
    const RunResult r = run(login());
    EXPECT_FALSE(r.timedOut) << shownText(r);
    EXPECT_FALSE(r.crashed) << shownText(r);
    expectHandedOver(r, install_.folder(), "zelvor01.32.00.zip", served("zelvor01.32.00.zip"));
    EXPECT_EQ(readFile(install_.updateFolder() + "/zelvor01.32.00.zip"),
              readFile(served("zelvor01.32.00.zip")));
    // The record names the assistant's archive handed to Movrin.
    const auto recs = updateRecords(install_.folder());
    ASSERT_EQ(recs.size(), 1);
    ASSERT_EQ(recs.first()["files"].toArray().size(), 1);
    EXPECT_EQ(recs.first()["files"][0]["name"], "zelvor01.32.00.zip");
    // Earlier entries were examined, later ones never; no history window.
    EXPECT_EQ(served_.answered("GET /atualsis/lerhistorico.php"), 1);
    EXPECT_FALSE(shown(r, "frmHist"));
    EXPECT_EQ(r.exitCode, 0);
}

TEST_F(InternetRun, AFailedAssistantDownloadDoesNotStartMovrin) {
    versions("0\tzelvor\t01.32.00\n"); // its archive is missing
    const RunResult r = run(login());
    expectCleanEnd(r, 1);
    EXPECT_TRUE(r.of("run").isEmpty()) << shownText(r);
    ASSERT_FALSE(r.messages().isEmpty());
    EXPECT_TRUE(r.messages().last().contains("zelvor01.32.00.zip")) << shownText(r);
    EXPECT_FALSE(QFileInfo::exists(install_.updateFolder() + "/zelvor01.32.00.zip"));
}

TEST_F(InternetRun, AServerAnswerThatFailsEndsWithAClearMessageAndNothingChanged) {
    // A whole update is due; one request of it answers an error (a well-formed XML page).
    struct Case {
        const char* path;
        int status;
        QString said; // the message names what could not be read
    };
    const QList<Case> cases = {
        {"/atualsis/versao.php", 500, "lista de versões"},
        {"/atualsis/versao.php", 503, "lista de versões"},
        {"/atualsis/lerhistorico.php", 500, "histórico"},
        {"/atualsis/lerhistorico.php", 302, "histórico"},
        {"/atualsis/krv.mdb", 500, "krv.mdb"},
        {"/atualsis/krv.mdb", 302, "krv.mdb"},
        {"/atualsis/mnusis_cs.krv", 503, "mnusis_cs.krv"},
        {"/atualsis/krvsis01.32.00.zip", 500, "krvsis01.32.00.zip"},
        {"/atualsis/krvsis01.32.00.zip", 302, "krvsis01.32.00.zip"},
        {"/atualsis/zelvor01.32.00.zip", 503, "zelvor01.32.00.zip"},
    };
    served_.write("atualsis/krv.mdb", "never opened: every case fails before it is applied");
    served_.write("atualsis/mnusis_cs.krv",
                  menuRecord("Financeiro", "010", "Contas", "mnuPagar", "1", "", "1"));
    makeZip(served("krvsis01.32.00.zip"), {{"krvsis", "krvsis 01.32.00"}});
    makeZip(served("zelvor01.32.00.zip"), {{"zelvor", "assistente novo"}});
    history(1, "000132\t2024-03-01\tNova tabela\n");
    history(5, "01.32.00\t2024-03-01\tCorrige boletos\n");
    const QByteArray module = readFile(module_);
    for (const Case& c : cases) {
        const bool self = QString(c.path).contains("zelvor");
        // The archive comes last, so nothing is unpacked before a failing file.
        versions(self ? "0\tzelvor\t01.32.00\n"
                      : "1\tkrvdb\t000132\n11\tmenu\t000011\n5\tkrvsis\t01.32.00\n");
        served_.write("falhas.txt",
                      QString("%1\t%2\t/atualsis/outro\n").arg(c.path).arg(c.status).toUtf8());
        const RunResult r = run(loginAndAccept());
        const std::string what =
            std::string(c.path) + " " + std::to_string(c.status) + "\n" + shownText(r);
        expectCleanEnd(r, 1);
        ASSERT_FALSE(r.messages().isEmpty()) << what;
        const QString last = r.messages().last();
        EXPECT_TRUE(last.contains(c.said)) << what;
        EXPECT_TRUE(last.contains(QString("HTTP %1").arg(c.status))) << what;
        EXPECT_FALSE(r.messages().contains(kDone)) << what;
        EXPECT_FALSE(r.messages().contains("Seu sistema não necessita de nenhuma atualização!"))
            << what;
        EXPECT_TRUE(r.of("run").isEmpty()) << what; // Movrin never started
        EXPECT_EQ(readFile(module_), module) << what;
        EXPECT_EQ(install_.db().scalar("select ult_atualizacao from licensa"), "000131") << what;
        EXPECT_EQ(install_.db().scalar("select atmenu from licensa"), "000010") << what;
        EXPECT_FALSE(QFileInfo::exists(install_.updateFolder() + QString(c.path).mid(9))) << what;
        QDir(install_.updateFolder()).removeRecursively();
    }
}

// The same whole update unattended: the session's steps one after the other, no window, each
// status with the window that shows it interactively, the menu's box, the run's end.
TEST_F(InternetRun, AWholeUnattendedUpdateAltersTheDatabaseAndReloadsTheMenuWithoutAWindow) {
    ScratchDatabase& suite = install_.db();
    suite.exec({"create table clientes (id int)",
                "create table menu (Sistema varchar(50), sequencia varchar(3), Menu varchar(30), "
                "NomeInter varchar(20), Nivel int, NivelAnterior varchar(50), Programa int)"});
    ScratchDatabase reference;
    reference.exec(QStringList{"create table clientes (id int, nome varchar(40))"});
    tools::BuildOptions options;
    options.codAtu = "000132";
    tools::buildUpdateFile(served("krv.mdb"), reference.db(), options);
    served_.write("atualsis/mnusis_cs.krv",
                  menuRecord("Financeiro", "010", "Contas a pagar", "mnuPagar", "1", "", "1"));
    makeZip(served("krvsis01.32.00.zip"), {{"krvsis", "krvsis 01.32.00"}});
    versions("1\tkrvdb\t000132\n11\tmenu\t000011\n5\tkrvsis\t01.32.00\n");
    history(5, "01.32.00\t2024-03-01\tCorrige boletos\n");
    install_.setSetting("atuser", "ana");
    install_.setSetting("atpwd", "segredo");
    RunOptions o = install_.options({}, 90);
    o.env["ZELVOR_BASE_URL"] = served_.baseUrl();
    o.arguments = QStringList{"--unattended", "--accept-terms"};
    const RunResult r = runProgram(zelvor_, o);
    const std::string what = shownText(r) + r.output.toStdString();
    expectCleanEnd(r, 0);
    EXPECT_TRUE(r.of("show").isEmpty()) << what;
    for (const QString& said : QStringList{
             "\tfrmProc\tSolicitando arquivo\n", "\tfrmProc\tAtualizar banco de dados\n",
             "\tfrmAtualKRV\tVerificando ", "\tConcluído!\tArquivo atualizado com sucesso!\n",
             "\tAviso!\t" + kDone + "\n", "\tzelvor\tFim da execução sem assistência: código 0\n"})
        EXPECT_TRUE(r.output.contains(said)) << said.toStdString() << "\n" << what;
    EXPECT_EQ(readFile(module_), "krvsis 01.32.00");
    EXPECT_TRUE(suite.column("show columns from clientes").contains("nome"));
    EXPECT_EQ(suite.column("select trim(NomeInter) from menu"), QStringList({"mnuPagar"}));
    EXPECT_EQ(suite.scalar("select ult_atualizacao from licensa"), "000132");
    EXPECT_EQ(suite.scalar("select atmenu from licensa"), "000011");
    EXPECT_FALSE(QFileInfo::exists(install_.updateFolder()));
    const auto recs = updateRecords(install_.folder());
    ASSERT_EQ(recs.size(), 1);
    EXPECT_EQ(recs.first()["outcome"].toString(), "updated");
    EXPECT_EQ(recs.first()["message"].toString(), kDone);
    EXPECT_EQ(recs.first()["user"].toString(), "ana");
}

TEST_F(InternetRun, DueWorkWithAnEmptyHistoryStillShowsTheTermsAndShortRecordsAreSkipped) {
    // Records without a version queue nothing (and write no empty version into licensa); a
    // module without a heading and without history lines leaves the history empty.
    makeZip(served("krvsis01.32.00.zip"), {{"krvsis", "krvsis 01.32.00"}});
    versions("1\tkrvdb\n11\tmenu\n12\tkrvsis\t01.32.00\n");
    const RunResult r = run(loginAndAccept());
    expectCleanEnd(r, 0);
    EXPECT_TRUE(shown(r, "frmHist")) << shownText(r);
    EXPECT_FALSE(r.messages().contains("Seu sistema não necessita de nenhuma atualização!"));
    ASSERT_FALSE(r.messages().isEmpty());
    EXPECT_EQ(r.messages().last(), kDone) << shownText(r);
    EXPECT_EQ(readFile(module_), "krvsis 01.32.00");
    EXPECT_EQ(downloads("krv.mdb"), 0);
    EXPECT_EQ(downloads("mnusis_cs.krv"), 0);
    EXPECT_EQ(install_.db().scalar("select ult_atualizacao from licensa"), "000131");
    EXPECT_EQ(install_.db().scalar("select atmenu from licensa"), "000010");
}

// zelvor --unattended on the same installation: the stored login, no person, an exit status.
TEST_F(InternetRun, UnattendedRunsEndWithAStatusThatSaysHowTheyEnded) {
    struct Case {
        const char* name;
        QString user, password;
        QStringList args;
        bool serverHasArchive, due;
        int exitCode;
        QString lastLine; // the last box or message written on standard output
        bool moduleReplaced;
        QString offered = "01.32.00"; // the version the list offers for krvsis
    } cases[] = {
        {"due update",
         "ana",
         "segredo",
         {"--unattended", "--accept-terms"},
         true,
         true,
         0,
         "Aviso!\t" + kDone,
         true},
        {"nothing to do",
         "ana",
         "segredo",
         {"--unattended", "--accept-terms"},
         true,
         false,
         2,
         "Aviso!\tSeu sistema não necessita de nenhuma atualização!",
         false},
        {"wrong password",
         "ana",
         "errada",
         {"--unattended", "--accept-terms"},
         true,
         true,
         4,
         "Aviso!\tOcorreu um erro ao consultar o servidor, verifique se o usuário e a senha estão "
         "corretos e tente novamente!",
         false},
        {"no stored login",
         "",
         "",
         {"--unattended", "--accept-terms"},
         true,
         true,
         4,
         "zelvor\tNenhum usuário gravado",
         false},
        {"terms not accepted",
         "ana",
         "segredo",
         {"--unattended"},
         true,
         true,
         3,
         "zelvor\tTermos da atualização não aceitos",
         false},
        {"server error",
         "ana",
         "segredo",
         {"--unattended", "--accept-terms"},
         false,
         true,
         1,
         "Erro inesperado no sistema\t",
         false}, // A version text holding line and paragraph separators reaches the failure's
                 // report:
        // every reader still sees one line per box, and one per run in atualizacoes.log.
        {"a version text holding line separators",
         "ana",
         "segredo",
         {"--unattended", "--accept-terms"},
         true,
         true,
         1,
         "Erro inesperado no sistema\t",
         false,
         QString("01.32") + QChar(0x85) + QChar(0x2028) + QChar(0x2029) + ".00"},
    };
    history(5, "01.32.00\t2024-03-01\tCorrige boletos\n");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(module_);
        ASSERT_TRUE(QFile::copy(zelvorBinary(), module_));
        QFile::remove(served("krvsis01.32.00.zip"));
        if (c.serverHasArchive)
            makeZip(served("krvsis01.32.00.zip"), {{"krvsis", "nova"}});
        versions(c.due ? ("5\tkrvsis\t" + c.offered + "\n").toUtf8() : "5\tkrvsis\t01.31.00\n");
        install_.setSetting("atuser", c.user);
        install_.setSetting("atpwd", c.password);
        RunOptions o = install_.options({}, 90);
        o.env["ZELVOR_BASE_URL"] = served_.baseUrl();
        o.arguments = c.args;
        const RunResult r = runProgram(zelvor_, o);
        EXPECT_FALSE(r.timedOut) << shownText(r);
        EXPECT_FALSE(r.crashed) << shownText(r);
        EXPECT_EQ(r.exitCode, c.exitCode) << shownText(r);
        EXPECT_EQ(readFile(module_) == "nova", c.moduleReplaced) << shownText(r);
        EXPECT_TRUE(r.of("show").isEmpty()) << shownText(r); // no window, not even the download's
        if (c.exitCode != 1) {                               // a failed run leaves what it fetched
            EXPECT_FALSE(QFileInfo::exists(install_.updateFolder()));
        }
        // Every line: time, title or window, text; the box before the closing line.
        // Lines without a tab are Qt's own diagnostics on standard error.
        QStringList lines = r.output.split('\n', Qt::SkipEmptyParts).filter("\t");
        ASSERT_GE(lines.size(), 2) << r.output.toStdString();
        const QString closing = lines.takeLast();
        EXPECT_TRUE(closing.endsWith(QString("código %1").arg(c.exitCode)))
            << closing.toStdString();
        const QRegularExpression stamp(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\t)");
        for (const QString& l : lines)
            EXPECT_TRUE(stamp.match(l).hasMatch()) << l.toStdString();
        const QRegularExpression breaks("[\\x{85}\\x{2028}\\x{2029}\\x{1b}]");
        EXPECT_FALSE(r.output.contains(breaks)) << r.output.toStdString();
        for (const QString& l : updateLogLines(install_.folder())) {
            EXPECT_EQ(l.split('\t').size(), 8) << l.toStdString();
            EXPECT_FALSE(l.contains(breaks)) << l.toStdString();
        }
        EXPECT_TRUE(lines.last().mid(20).startsWith(c.lastLine)) << r.output.toStdString();
        if (c.exitCode == 0) {
            EXPECT_TRUE(r.output.contains("\tfrmProc\tDescompactando arquivo\n"))
                << r.output.toStdString();
        }
    }
}

// Signed releases: the maker's key as zelvor.pub in the program folder and the release's
// manifest published beside the files by krv-sign. A server (or a network in between) that
// replays, swaps, downgrades or spoils what the maker once signed gets the release refused
// with its reason, and nothing of the suite changes.
TEST_F(InternetRun, ASignedReleaseAppliesAndEveryReplayedOrSpoiledOneIsRefusedWithNothingChanged) {
    ASSERT_TRUE(QFile::copy(zelvorBinary(), install_.folder() + "/caixa"));
    install_.db().exec(
        {"create table menu (Sistema varchar(50), sequencia varchar(3), Menu "
         "varchar(30), NomeInter varchar(20), Nivel int, NivelAnterior "
         "varchar(50), Programa int)",
         "insert into menu values ('Antigo', '001', 'Velho', 'mnuVelho', 1, '', 0)"});
    const ReleaseSigner maker, newKey, stranger;
    QTemporaryDir scratch;
    PeBuilder pe(scratch.path());
    const QString current = pe.withVersion("pe-current", 1, 32, 0, 0);
    const QString older = pe.withVersion("pe-older", 1, 20, 0, 0);
    ASSERT_FALSE(current.isEmpty() || older.isEmpty()) << pe.error().toStdString();
    const QByteArray menu = menuRecord("Financeiro", "010", "Contas", "mnuPagar", "1", "", "1") +
                            menuRecord("Estoque", "020", "Entradas", "mnuEntradas", "2", "", "0");
    ScratchDatabase reference;
    reference.exec("create table produtos (codigo int)");
    const auto updateFile = [&](const QString& path, const QString& codAtu) {
        QFile::remove(path);
        tools::BuildOptions options;
        options.codAtu = codAtu;
        tools::buildUpdateFile(path, reference.db(), options);
    };
    const QString kept = scratch.path(); // what the maker released before
    updateFile(kept + "/krv.mdb", "000131");
    history(1, "000132\t2024-03-01\tNova tabela\n");
    history(5, "01.32.00\t2024-03-01\tCorrige boletos\n");
    const QString release = served_.path() + "/atualsis";
    const QString listOf = "11\tmenu\t000011\n5\tkrvsis\t01.32.00\n6\tcaixa\t01.32.00\n";
    const auto replace = [this](const QString& name, const QByteArray& bytes) {
        served_.write("atualsis/" + name, bytes);
    };
    struct Case {
        const char* name;
        QString versionList;
        std::function<void()> spoil; // after the release was published
        QString refused;             // part of the message; empty: the release applies
        bool key = true;
        QStringList refusedToo = {}; // further parts of the message
    };
    // An older module served in place of the new one, its manifest entry listing version (or
    // none, when empty).
    const auto olderModuleListedAs = [&](const QString& version) {
        makeZip(served("krvsis01.32.00.zip"), {{"krvsis", readFile(older)}});
        ASSERT_TRUE(maker.release(release, 5, {{"mnusis_cs.krv", "000011"}}));
        maker.resign(release, [version](manifest::Manifest& m) {
            for (manifest::Entry& e : m.files)
                if (e.name == "krvsis01.32.00.zip")
                    e.version = version;
        });
    };
    const QList<Case> cases = {
        {"a correct release applies", listOf, [] {}, ""},
        {"no key: an unsigned server works as before", listOf,
         [&] {
             QFile::remove(release + "/manifesto.json");
             QFile::remove(release + "/manifesto.json.sig");
         },
         "", false},
        {"signed with a new key, zelvor.pub holds the old and the new", listOf,
         [&] {
             ASSERT_TRUE(newKey.release(release, 3, {{"mnusis_cs.krv", "000011"}}));
             writeFile(install_.folder() + "/zelvor.pub",
                       stranger.publicLine() + newKey.publicLine());
         },
         ""},
        {"an older krv.mdb served as the current one",
         "1\tkrvdb\t000132\n" + listOf,
         [&] { replace("krv.mdb", readFile(kept + "/krv.mdb")); },
         "krv.mdb",
         true,
         {"manifesto"}},
        {"an older module archive served as the current one",
         listOf,
         [&] {
             makeZip(served("krvsis01.32.00.zip"), {{"krvsis", readFile(older)}});
         },
         "krvsis01.32.00.zip",
         true,
         {"manifesto"}},
        {"module caixa's archive served under krvsis's name",
         listOf,
         [&] { replace("krvsis01.32.00.zip", readFile(served("caixa01.32.00.zip"))); },
         "krvsis01.32.00.zip",
         true,
         {"manifesto"}},
        {"an older menu file",
         listOf,
         [&] { replace("mnusis_cs.krv", menu.left(menu.size() / 2)); },
         "mnusis_cs.krv",
         true,
         {"manifesto"}},
        {"a signed older assistant offered as zelvor 99.99.99",
         "0\tzelvor\t99.99.99\n",
         [&] { replace("zelvor99.99.99.zip", readFile(served("zelvor01.32.00.zip"))); },
         "zelvor99.99.99.zip",
         true,
         {"não consta do manifesto"}},
        {"a tampered assistant archive",
         "0\tzelvor\t01.32.00\n",
         [&] {
             QByteArray b = readFile(served("zelvor01.32.00.zip"));
             b[b.size() / 2] = char(b[b.size() / 2] ^ 0x20);
             replace("zelvor01.32.00.zip", b);
         },
         "zelvor01.32.00.zip",
         true,
         {"SHA-256"}},
        {"an expired manifest", listOf,
         [&] {
             maker.resign(release, [](manifest::Manifest& m) {
                 m.issued = QDateTime::currentDateTimeUtc().addDays(-40);
                 m.expires = QDateTime::currentDateTimeUtc().addSecs(-60);
             });
         },
         "expirou"},
        {"a serial lower than the last applied",
         listOf,
         [&] { writeFile(install_.folder() + "/atualizacoes/manifesto.serial", "9\n"); },
         "número de série 5",
         true,
         {"(9)"}},
        {"the manifest and the version list disagree",
         listOf,
         [&] {
             ASSERT_TRUE(maker.release(release, 5, {{"mnusis_cs.krv", "000012"}}));
         },
         "versão 000012",
         true,
         {"000011"}},
        {"no manifest, with a key",
         listOf,
         [&] {
             QFile::remove(release + "/manifesto.json");
             QFile::remove(release + "/manifesto.json.sig");
         },
         "manifesto.json",
         true,
         {"HTTP 404"}},
        {"a manifest another key signed",
         listOf,
         [&] {
             ASSERT_TRUE(stranger.release(release, 5, {{"mnusis_cs.krv", "000011"}}));
         },
         "assinatura",
         true,
         {"manifesto.json"}},
        {"a manifest signature of 100 KiB",
         listOf,
         [&] { replace("manifesto.json.sig", QByteArray(100 * 1024, 'A')); },
         "manifesto.json.sig",
         true,
         {"tamanho máximo"}},
        {"an older module in an archive listed without a version",
         listOf,
         [&] { olderModuleListedAs({}); },
         "01.20.00",
         true,
         {"mais antiga"}},
        {"a module that is not at the version listed for it",
         listOf,
         [&] { olderModuleListedAs("01.32.00"); },
         "tem a versão 01.20.00",
         true,
         {"lista a versão 01.32.00"}},
        {"a database update below the installed one",
         "1\tkrvdb\t000130\n",
         [&] {
             updateFile(served("krv.mdb"), "000130");
             ASSERT_TRUE(maker.release(release, 5, {{"mnusis_cs.krv", "000011"}}));
         },
         "000130",
         true,
         {"mais antiga"}},
    };
    const QByteArray module = readFile(module_), caixa = readFile(install_.folder() + "/caixa");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const QString& f : QDir(release).entryList(QDir::Files))
            QFile::remove(release + "/" + f);
        QFile::remove(install_.folder() + "/atualizacoes/manifesto.serial");
        replace("mnusis_cs.krv", menu);
        makeZip(served("krvsis01.32.00.zip"), {{"krvsis", readFile(current)}});
        makeZip(served("caixa01.32.00.zip"), {{"caixa", "caixa 01.32.00"}});
        makeZip(served("zelvor01.32.00.zip"), {{"zelvor", "assistente novo"}});
        updateFile(served("krv.mdb"), "000132");
        ASSERT_TRUE(maker.release(release, 5, {{"mnusis_cs.krv", "000011"}}));
        writeFile(install_.folder() + "/zelvor.pub", maker.publicLine());
        c.spoil();
        if (!c.key)
            QFile::remove(install_.folder() + "/zelvor.pub");
        versions(c.versionList.toUtf8());
        const RunResult r = run(loginAndAccept());
        const std::string what = shownText(r);
        ASSERT_FALSE(r.messages().isEmpty()) << what;
        if (c.refused.isEmpty()) {
            expectCleanEnd(r, 0);
            EXPECT_EQ(r.messages().last(), kDone) << what;
            EXPECT_EQ(readFile(module_), readFile(current));
            EXPECT_EQ(readFile(install_.folder() + "/caixa"), "caixa 01.32.00");
            EXPECT_EQ(install_.db().scalar("select atmenu from licensa"), "000011");
            // Each file checked against the manifest, no per-file signature fetched.
            const QJsonObject rec = updateRecords(install_.folder()).last();
            QMap<QString, QJsonValue> verified;
            for (const QJsonValue f : rec["files"].toArray())
                verified[f["name"].toString()] = f["signature_verified"];
            QMap<QString, QJsonValue> expected;
            for (const QString& f :
                 QStringList{"mnusis_cs.krv", "krvsis01.32.00.zip", "caixa01.32.00.zip"})
                expected[f] = c.key;
            if (c.key) {
                expected["manifesto.json"] = true;
                expected["manifesto.json.sig"] = QJsonValue();
            }
            EXPECT_EQ(verified, expected) << what;
            EXPECT_EQ(served_.answered("GET /atualsis/krvsis01.32.00.zip.sig"), 0);
            const auto published = manifest::parse(readFile(release + "/manifesto.json"));
            EXPECT_EQ(rec["manifest"]["serial"].toInteger(-1), c.key ? published->serial : -1)
                << what;
            const QString serialFile = install_.folder() + "/atualizacoes/manifesto.serial";
            EXPECT_EQ(QFileInfo::exists(serialFile), c.key);
            if (c.key) {
                EXPECT_EQ(readFile(serialFile).trimmed(),
                          QByteArray::number(rec["manifest"]["serial"].toInteger()));
            }
            writeFile(install_.folder() + "/caixa", caixa);
            writeFile(module_, module);
            install_.db().exec({"update licensa set atmenu = '000010'", "delete from menu",
                                "insert into menu values ('Antigo', '001', 'Velho', "
                                "'mnuVelho', 1, '', 0)"});
            continue;
        }
        expectCleanEnd(r, 1);
        const QString last = r.messages().last();
        EXPECT_TRUE(last.contains(c.refused)) << what;
        for (const QString& part : c.refusedToo)
            EXPECT_TRUE(last.contains(part)) << part.toStdString() << "\n" << what;
        EXPECT_FALSE(r.messages().contains(kDone)) << what;
        EXPECT_TRUE(r.of("run").isEmpty()) << what; // Movrin never started
        EXPECT_EQ(readFile(module_), module) << what;
        EXPECT_EQ(readFile(install_.folder() + "/caixa"), caixa) << what;
        EXPECT_EQ(install_.db().scalar("select atmenu from licensa"), "000010") << what;
        EXPECT_EQ(install_.db().scalar("select ult_atualizacao from licensa"), "000131") << what;
        EXPECT_TRUE(install_.db().column("show tables like 'produtos'").isEmpty()) << what;
        EXPECT_EQ(install_.db().column("select trim(NomeInter) from menu"),
                  QStringList({"mnuVelho"}));
        // Nothing left in the update folder: neither the refused file nor the manifest.
        EXPECT_TRUE(QDir(install_.updateFolder()).entryList(QDir::Files).isEmpty())
            << QDir(install_.updateFolder()).entryList(QDir::Files).join(' ').toStdString();
        QDir(install_.updateFolder()).removeRecursively();
    }
}

// HTTPS end to end: the reference server with a certificate of a throwaway authority, a
// signed update. Trusted through the CA-file setting it applies as over HTTP; a certificate
// the assistant cannot trust stops the run at the login, saying why, with nothing changed.
TEST_F(InternetRun, OverHttpsASignedUpdateAppliesOnlyWhenTheCertificateIsTrusted) {
    const ThrowawayCa authority, stranger;
    served_.serveOverTls(authority.certificate(), authority.key());
    install_.db().exec(QString(
        "create table menu (Sistema varchar(50), sequencia varchar(3), Menu "
        "varchar(30), NomeInter varchar(20), Nivel int, NivelAnterior varchar(50), Programa int)"));
    const ReleaseSigner maker;
    served_.write("atualsis/mnusis_cs.krv",
                  menuRecord("Financeiro", "010", "Contas", "mnuPagar", "1", "", "1"));
    makeZip(served("krvsis01.32.00.zip"), {{"krvsis", "krvsis 01.32.00"}});
    ASSERT_TRUE(maker.release(served_.path() + "/atualsis", 1, {{"mnusis_cs.krv", "000011"}}));
    writeFile(install_.folder() + "/zelvor.pub", maker.publicLine());
    versions("11\tmenu\t000011\n5\tkrvsis\t01.32.00\n");
    history(5, "01.32.00\t2024-03-01\tCorrige boletos\n");
    install_.setSetting("atuser", "ana");
    install_.setSetting("atpwd", "segredo");

    struct Case {
        const char* name;
        QString caFile; // empty: the system's store only
        bool unattended;
        bool trusted;
    };
    const QList<Case> cases = {
        {"the system's store", "", false, false},
        {"another authority", stranger.caFile(), false, false},
        {"another authority, unattended", stranger.caFile(), true, false},
        {"the server's authority", authority.caFile(), false, true},
    };
    const QByteArray module = readFile(module_);
    // The suite folder's entries but the run lock, which every run leaves.
    const auto suiteFiles = [this] {
        QStringList names =
            QDir(install_.folder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        names.removeAll("zelvor.lock");
        return names;
    };
    const QStringList before = suiteFiles();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        caFile_ = c.caFile;
        RunResult r;
        if (c.unattended) {
            RunOptions o = install_.options({}, 90);
            o.env["ZELVOR_BASE_URL"] = served_.baseUrl();
            o.env["ZELVOR_CA_FILE"] = c.caFile;
            o.arguments = QStringList{"--unattended", "--accept-terms"};
            r = runProgram(zelvor_, o);
        } else {
            r = run(c.trusted ? loginAndAccept() : login() + "close frmInicio\n");
        }
        const std::string what = shownText(r) + r.output.toStdString();
        if (c.trusted) {
            expectCleanEnd(r, 0);
            ASSERT_FALSE(r.messages().isEmpty()) << what;
            EXPECT_EQ(r.messages().last(), kDone) << what;
            EXPECT_EQ(readFile(module_), "krvsis 01.32.00");
            EXPECT_EQ(install_.db().scalar("select atmenu from licensa"), "000011");
            // The release's manifest and its signature were fetched over HTTPS as well.
            EXPECT_EQ(served_.answered("GET /atualsis/manifesto.json 200"), 1) << what;
            EXPECT_EQ(served_.answered("GET /atualsis/manifesto.json.sig 200"), 1) << what;
            continue;
        }
        expectCleanEnd(r, c.unattended ? 1 : 0);
        const QString said =
            "Não foi possível conectar com segurança ao servidor de atualização: o certificado "
            "do servidor não é confiável (";
        if (c.unattended)
            EXPECT_TRUE(r.output.contains(said)) << what;
        else
            EXPECT_TRUE(r.messages().value(r.messages().size() - 1).startsWith(said)) << what;
        // No request was answered: the connection ends in the handshake.
        EXPECT_TRUE(served_.server().requests().empty()) << what;
        EXPECT_EQ(readFile(module_), module) << what;
        EXPECT_EQ(install_.db().scalar("select atmenu from licensa"), "000010") << what;
        EXPECT_EQ(suiteFiles(), before) << what;
    }
}

// Delta updates end to end: a release of krvsis 01.32.00 with deltas from 01.31.00 and
// 01.30.00 made by krv-sign, real PE modules in real zips. A delta that can serve is fetched
// instead of the archive and gives the same files; every doubt ends in the full archive in the
// same run; a medium carries deltas the same way; the rollback undoes a delta update.
TEST_F(InternetRun, AModuleComesAsADeltaWhenOneServesAndWholeInTheSameRunWhenNot) {
    const ReleaseSigner maker;
    QTemporaryDir scratch;
    PeBuilder pe(scratch.path());
    // The new file is larger than the download's write buffer, so that half of the delta is on disk
    // when a run is cut off there.
    QByteArray body(1024 * 1024, '\0'), added(640 * 1024, '\0');
    QRandomGenerator(5).fillRange(reinterpret_cast<quint32*>(body.data()), body.size() / 4);
    QRandomGenerator(6).fillRange(reinterpret_cast<quint32*>(added.data()), added.size() / 4);
    QMap<int, QByteArray> module; // by minor version: a build that differs in a few KiB
    for (int minor : {30, 31, 32}) {
        const QString exe = pe.withVersion(QString("krvsis%1").arg(minor), 1, minor, 0, 0);
        ASSERT_FALSE(exe.isEmpty()) << pe.error().toStdString();
        module[minor] = readFile(exe) +
                        QByteArray(body).replace(4096 * minor, 2048, QByteArray(2048, char(minor)));
    }
    const auto publish = [&](int minor, qint64 serial, const QStringList& extra) {
        const QString folder = scratch.path() + QString("/r%1").arg(minor);
        QDir().mkpath(folder);
        std::vector<ZipEntry> members{{"krvsis", module[minor]}, {"leiame.txt", "notas"}};
        if (minor == 32)
            members.push_back({"novo.dll", added});
        makeZip(folder + QString("/krvsis01.%1.00.zip").arg(minor), members);
        QString said;
        EXPECT_TRUE(maker.release(folder, serial, {}, &said, extra)) << said.toStdString();
        return folder;
    };
    const QString r30 = publish(30, 1, {}), r31 = publish(31, 2, {});
    const QString r32 = publish(32, 5, {"--delta-from", r31, "--delta-from", r30});
    const QString from31 = "krvsis01.31.00-01.32.00.delta",
                  from30 = "krvsis01.30.00-01.32.00.delta";
    const QString archive = "krvsis01.32.00.zip", release = served_.path() + "/atualsis";
    ASSERT_TRUE(QFileInfo::exists(r32 + "/" + from31) && QFileInfo::exists(r32 + "/" + from30));
    versions("5\tkrvsis\t01.32.00\n");
    history(5, "01.32.00\t2024-03-01\tCorrige boletos\n");
    install_.setSetting("atuser", "ana");
    install_.setSetting("atpwd", "segredo");
    const QString suite = install_.folder(), medium = scratch.path() + "/midia";
    const auto zelvor = [&](const QStringList& args, const char* pausePoint = nullptr) {
        RunOptions o = install_.options({}, 90);
        o.env["ZELVOR_BASE_URL"] = served_.baseUrl();
        o.arguments = args;
        if (pausePoint) {
            o.env["ZELVOR_TEST_PAUSE"] = pausePoint;
            o.killAtPause = true;
        }
        return runProgram(zelvor_, o);
    };
    const auto spoilServed = [&](const QString& name) {
        QByteArray b = readFile(release + "/" + name);
        b[b.size() / 2] = char(b[b.size() / 2] ^ 0x40);
        served_.write("atualsis/" + name, b);
    };
    struct Case {
        const char* name;
        int installed;               // krvsis's minor version before the run
        std::function<void()> spoil; // after the release and the suite are in place
        QString delta;               // the delta that serves; empty: the full archive
        QString fullBecause;         // part of the record's reason for the full archive
        int deltaGets;               // requests for a delta
        const char* cutAt = nullptr; // a first run killed there, the next resumes
        bool onMedium = false;       // a directory run of a medium holding deltas, no archive
        bool rollback = false;       // undone afterwards
        int exitCode = 0;
        std::function<void(manifest::Manifest&)> resign = {}; // the served manifest, re-signed
        bool refusedUnfetched = false; // judged and remembered without being fetched
    };
    const QList<Case> cases = {
        {"a delta from the version before serves", 31, [] {}, from31, {}, 1},
        {"a delta from two versions back, used directly", 30, [] {}, from30, {}, 1},
        {"an installed file changed since",
         31,
         [&] { writeFile(suite + "/leiame.txt", "notas minhas"); },
         {},
         "não correspondem",
         0},
        {"a corrupt delta on the server", 31, [&] { spoilServed(from31); }, {}, "não confere", 1},
        {"the delta answers 404",
         31,
         [&] { QFile::remove(release + "/" + from31); },
         {},
         "HTTP 404",
         1},
        // The cut run's request; the resume's: the size check, the engine's own, the range.
        {"cut off half-way, resumed by the next run", 31, [] {}, from31, {}, 4, "download-halfway"},
        {"a medium with a delta and no archive", 31, [] {}, from31, {}, 0, nullptr, true},
        {"a medium whose only delta cannot serve",
         31,
         [&] { writeFile(suite + "/leiame.txt", "notas minhas"); },
         {},
         "não correspondem",
         0,
         nullptr,
         true,
         false,
         1},
        {"a delta update undone by the rollback", 31, [] {}, from31, {}, 1, nullptr, false, true},
        {"a window over the cap, refused before fetching",
         31,
         [] {},
         {},
         "acima do limite",
         0,
         nullptr,
         false,
         false,
         0,
         [&](manifest::Manifest& m) {
             for (manifest::Delta& d : m.deltas)
                 if (d.name == from31)
                     d.window = qint64(512) << 20;
         },
         true},
        {"a rebuilt file that differs from the archive's members",
         31,
         [] {},
         {},
         "reconstruído pelo delta",
         1,
         nullptr,
         false,
         false,
         0,
         [](manifest::Manifest& m) {
             for (manifest::Entry& e : m.files)
                 for (manifest::Member& member : e.members)
                     if (member.name == "krvsis")
                         member.sha256 = QString(64, 'a');
         }},
        // What an earlier run of the same serial wrote: not fetched again, no status line.
        {"a delta that failed before for this serial",
         31,
         [&] { runs::delta::rememberFailed(suite, 5, from31); },
         {},
         "já falhou",
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const QString& f : QDir(release).entryList(QDir::Files))
            QFile::remove(release + "/" + f);
        for (const QString& f : QDir(r32).entryList(QDir::Files))
            QFile::copy(r32 + "/" + f, release + "/" + f);
        QDir(medium).removeRecursively();
        QDir().mkpath(medium);
        for (const QString& f :
             {from31, from30, QString("manifesto.json"), QString("manifesto.json.sig")})
            QFile::copy(r32 + "/" + f, medium + "/" + f);
        QDir(suite + "/atualizacoes").removeRecursively();
        QDir(install_.updateFolder()).removeRecursively();
        writeFile(module_, module[c.installed]);
        writeFile(suite + "/leiame.txt", "notas");
        QFile::remove(suite + "/novo.dll");
        writeFile(suite + "/zelvor.pub", maker.publicLine());
        if (c.resign)
            maker.resign(release, c.resign);
        c.spoil();
        const QByteArray leiame = readFile(suite + "/leiame.txt");
        const auto deltaGets = [&] { return downloads(from31) + downloads(from30); };
        const int before = deltaGets();
        const int archiveBefore = downloads(archive);
        const QStringList args = c.onMedium ? QStringList{"--unattended", "--directory", medium}
                                            : QStringList{"--unattended", "--accept-terms"};
        if (c.cutAt) {
            const RunResult cut = zelvor(args, c.cutAt);
            ASSERT_TRUE(cut.killed) << shownText(cut);
            EXPECT_GT(QFileInfo(install_.updateFolder() + "/" + c.delta + ".part").size(), 0);
            EXPECT_EQ(readFile(module_), module[c.installed]);
        }
        const RunResult r = zelvor(args);
        const std::string what = shownText(r) + r.output.toStdString();
        expectCleanEnd(r, c.exitCode);
        EXPECT_EQ(deltaGets() - before, c.deltaGets) << what;
        const QJsonObject rec = updateRecords(suite).last();
        const QJsonObject judged = rec["delta_updates"]["modules"][0].toObject();
        EXPECT_EQ(judged["archive"].toString(), archive) << what;
        if (c.exitCode != 0) {
            EXPECT_TRUE(r.output.contains(archive)) << what;
            EXPECT_EQ(readFile(module_), module[c.installed]);
            EXPECT_EQ(readFile(suite + "/leiame.txt"), leiame);
            EXPECT_FALSE(QFileInfo::exists(suite + "/novo.dll"));
            continue;
        }
        // Whichever way they came, the files the full archive holds.
        EXPECT_EQ(readFile(module_), module[32]);
        EXPECT_EQ(readFile(suite + "/leiame.txt"), "notas");
        EXPECT_EQ(readFile(suite + "/novo.dll"), added);
        EXPECT_FALSE(QFileInfo::exists(install_.updateFolder())) << what;
        EXPECT_EQ(downloads(archive) - archiveBefore, c.delta.isEmpty() && !c.onMedium ? 1 : 0);
        const QJsonObject bytes = rec["delta_updates"].toObject();
        // The status line says why a delta that was fetched did not serve.
        const bool failedHere = c.delta.isEmpty() && (c.deltaGets > 0 || c.refusedUnfetched);
        EXPECT_EQ(r.output.contains("Baixando o arquivo completo de " + archive), failedHere)
            << what;
        if (c.delta.isEmpty()) {
            EXPECT_TRUE(judged["full_because"].toString().contains(c.fullBecause)) << what;
            EXPECT_EQ(bytes["bytes_fetched"], bytes["full_archives_bytes"]);
        } else {
            EXPECT_EQ(judged["delta"].toString(), c.delta) << what;
            if (!c.onMedium) {
                const qint64 deltaSize = QFileInfo(release + "/" + c.delta).size();
                const qint64 got = judged["delta_bytes"].toInteger();
                // A resume fetches only the rest.
                EXPECT_TRUE(c.cutAt ? got > 0 && got < deltaSize : got == deltaSize) << got;
                EXPECT_EQ(
                    bytes["full_archives_bytes"].toInteger() - bytes["bytes_fetched"].toInteger(),
                    QFileInfo(release + "/" + archive).size() - judged["delta_bytes"].toInteger());
            }
        }
        // A delta that failed is remembered for the serial, and nothing of it stays.
        EXPECT_EQ(readFile(suite + "/atualizacoes/deltas-recusados.txt").contains(from31.toUtf8()),
                  failedHere || c.fullBecause == "já falhou"); // that row remembered it itself
        if (c.cutAt) {
            EXPECT_EQ(served_.answered("GET /atualsis/" + c.delta.toStdString() + " 206"), 1);
        }
        if (c.rollback) {
            const RunResult undo = zelvor({"--unattended", "--rollback"});
            expectCleanEnd(undo, 0);
            EXPECT_EQ(readFile(module_), module[31]) << shownText(undo);
            EXPECT_EQ(readFile(suite + "/leiame.txt"), "notas");
            EXPECT_FALSE(QFileInfo::exists(suite + "/novo.dll"));
        }
    }
}
