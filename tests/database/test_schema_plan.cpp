// The dry run of the database update: which column changes can lose data, and zelvor --plan
// against the real program, compared with the statements a real update then executes.
#include "database/safe_update.h"
#include "database/schema_plan.h"
#include "end_to_end.h"
#include "run_program.h"
#include "test_schema_fixture.h"

#include <gtest/gtest.h>

using namespace krv;
using namespace krv::database;
using namespace krv::test;

namespace {

// The statements of a printed plan, without their ";".
QStringList planStatements(const QString& output) {
    QStringList out;
    for (const QString& line : output.split('\n', Qt::SkipEmptyParts))
        if (!line.startsWith("-- ") && line.endsWith(';'))
            out << line.chopped(1);
    return out;
}

class PlanCommand : public EndToEnd {
protected:
    void SetUp() override {
        EndToEnd::SetUp();
        if (HasFatalFailure())
            return;
        ASSERT_TRUE(reference.ok());
        // Three names longer than the narrowed column, two that fit.
        suite.db().exec(
            {"create table clientes (id int primary key, nome varchar(40), "
             "cidade varchar(30)) engine=InnoDB",
             "insert into clientes values (1,'Ana',null),(2,'Bartolomeu Dias',null),"
             "(3,'Catarina Eufemia',null),(4,'Duarte',null),(5,'Eduarda Pimentel',null)"});
        reference.exec({"create table clientes (id int primary key, nome varchar(10), "
                        "cidade varchar(60), email varchar(120), key idx_nome (nome)) "
                        "engine=InnoDB",
                        "create table produtos (codigo varchar(20) not null primary key, "
                        "preco decimal(10,2)) engine=InnoDB"});
        path = dir.filePath("krv.mdb");
        tools::BuildOptions o;
        o.codAtu = "000132";
        tools::buildUpdateFile(path, reference.db(), o);
    }

    RunResult plan(const QString& file) { return run({}, nullptr, {"--plan", file}); }

    QStringList liveStructure() {
        QStringList out;
        for (const QString& t : suite.db().column("show tables")) {
            QSqlQuery q(suite.db().db());
            q.exec("show create table " + t);
            out << (q.next() ? q.value(1).toString() : "? " + t);
        }
        return out;
    }

    ScratchDatabase reference;
    QTemporaryDir dir;
    QString path;
};

TEST_F(PlanCommand, PrintsWhatARealRunThenExecutesFlagsTheNarrowingAndChangesNothing) {
    const QStringList before = liveStructure();
    const RunResult r = plan(path);
    ASSERT_EQ(r.exitCode, 10) << r.output.toStdString();
    EXPECT_EQ(liveStructure(), before);
    const QStringList planned = planStatements(r.output);
    EXPECT_TRUE(r.output.contains("-- Criando Tabela <produtos>")) << r.output.toStdString();
    EXPECT_TRUE(r.output.contains("-- Alterando Campo: <clientes-nome>"));
    EXPECT_TRUE(r.output.contains("-- ATENÇÃO: clientes.nome passa de varchar(40) para "
                                  "varchar(10) character set utf8mb4 collate utf8mb4_general_ci "
                                  "e mudaria dados: 3 linha(s) não cabem (por exemplo id=<2>: "
                                  "nome <Bartolomeu Dias>)"))
        << r.output.toStdString();
    EXPECT_TRUE(r.output.contains("-- algoritmo COPY; tabela <clientes>: 5 linha(s)"));
    // Lengthening cidade loses nothing and is not flagged.
    EXPECT_EQ(r.output.count("ATENÇÃO"), 1) << r.output.toStdString();
    EXPECT_TRUE(suite.db().column("show tables like 'zv\\_%'").isEmpty());
    // The user's file is left as it was: the snapshot went into a copy.
    EXPECT_TRUE(openUpdateFile(path).query("select * from d_tabelas").empty());

    // With the long names shortened the real update goes through; it executes the plan.
    suite.db().exec("update clientes set nome = left(nome, 10)");
    Conexao().Open(1, suite.db().connectionString());
    QStringList executed;
    SyncView view;
    view.executed = [&](const QString& s) { executed << s; };
    const UpdateFile file = openUpdateFile(path);
    LerEstrutura(file, Conexao());
    prepareLookups(file);
    updateStructure(file, Conexao(), view, SafeUpdateOptions{});
    Conexao().close();
    EXPECT_EQ(planned, executed) << r.output.toStdString();
    EXPECT_GE(executed.size(), 4);

    // Now nothing is left to do.
    const RunResult again = plan(path);
    EXPECT_EQ(again.exitCode, 0) << again.output.toStdString();
    EXPECT_TRUE(planStatements(again.output).isEmpty()) << again.output.toStdString();
}

TEST_F(PlanCommand, RefusedOrMissingFilesAndAnUnreachableDatabaseEndInError) {
    // Types that would carry a second statement are refused; each refusal is listed and the
    // pieces with none are still planned.
    {
        const UpdateFile f = openUpdateFile(path);
        f.execute("update campos set type = 'int; drop table clientes' where field = 'preco'");
        f.execute("update campos set type = 'varchar(9)) engine=x' where field = 'email'");
    }
    struct Case {
        QString file;
        QStringList output;
    } cases[] = {
        {path,
         {"-- RECUSADO: Arquivo de atualização recusado: tabela <produtos>",
          "-- RECUSADO: Arquivo de atualização recusado: tabela <clientes>, campo <email>",
          "-- Alterando Campo: <clientes-cidade>", "-- 2 recusa(s)"}},
        {dir.filePath("nenhum.mdb"), {"Arquivo de atualização não encontrado"}},
    };
    for (const auto& c : cases) {
        const RunResult r = plan(c.file);
        EXPECT_EQ(r.exitCode, 1) << r.output.toStdString();
        for (const QString& expected : c.output)
            EXPECT_TRUE(r.output.contains(expected)) << r.output.toStdString();
    }
    writeConfigBD(suite.folder(), {"1", "Driver={X};Server=127.0.0.1:1;Database=x;Uid=u;Pwd=p;", "",
                                   "", "", "", "X"});
    const RunResult r = plan(path);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.output.contains("Não foi possível estabelecer conexão"))
        << r.output.toStdString();
}

} // namespace
