#include "common/text.h"
#include "common/updatekrv.h"
#include "database/connection.h"
#include "hook_tap.h"
#include "menu_records.h"
#include "platform/program.h"
#include "runs/frm_atual_menu.h"
#include "runs/run_session.h"
#include "test_db.h"

#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace krv;
using namespace krv::test;

namespace {
// A row as the test reads it back: the fields joined by "|".
QString row(const QString& sistema, const QString& seq, const QString& menu, const QString& nome,
            int nivel, const QString& anterior, int programa) {
    return QStringList({sistema, seq, menu, nome, QString::number(nivel), anterior,
                        QString::number(programa)})
        .join('|');
}

const char* kMenuTable =
    "create table menu (Sistema varchar(50), sequencia varchar(3), Menu varchar(30), "
    "NomeInter varchar(20), Nivel int, NivelAnterior varchar(50), Programa int)";
} // namespace

// A suite database with an old menu and version, an update folder holding the menu file,
// and the reload run in-process with the program end turned into an exception.
class MenuReload : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(db_.ok());
        db_.exec(
            {kMenuTable, "insert into menu values ('Antigo', '001', 'Velho', 'mnuVelho', 1, '', 0)",
             "insert into menu values ('Antigo', '002', 'Outro', 'mnuOutro', 2, 'mnuVelho', 1)",
             "create table licensa (ult_atualizacao varchar(10), atmenu varchar(10))",
             "insert into licensa values ('000131', '000010')"});
        database::Conexao().Open(1, db_.connectionString());
        runs::session().reset();
        updatekrv::DirSis = root_.path();
        runs::session().values.VersaoMenu = "000042";
        runs::session().values.Atualizou = true;
        QDir().mkpath(updateFolder());
        platform::setEndHandler([](int code) { throw platform::ProgramEnded{code}; });
    }
    void TearDown() override {
        platform::setEndHandler({});
        database::Conexao().close();
        runs::session().reset();
    }
    QString updateFolder() const { return root_.path() + "/update"; }
    void writeMenu(const QByteArray& bytes) {
        QFile f(updateFolder() + "/mnusis_cs.krv");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    // Runs the reload; returns the program's end code.
    int run() {
        try {
            window_.Processa();
        } catch (const platform::ProgramEnded& e) {
            return e.code;
        }
        return -1;
    }
    // Every row, fields joined by "|", in file order.
    QStringList rows() const {
        return db_.column("select concat_ws('|', Sistema, sequencia, Menu, NomeInter, Nivel, "
                          "NivelAnterior, Programa) from menu");
    }
    QString atmenu() const { return db_.scalar("select atmenu from licensa"); }

    ScratchDatabase db_;
    QTemporaryDir root_;
    runs::frmAtualMenu window_;
};

TEST_F(MenuReload, ReplacesTheMenuFieldByFieldAndRecordsTheVersion) {
    const QString full =
        menuRecord("Financeiro", "010", "Contas a pagar", "mnuPagar", "2", "mnuFinanceiro", "1");
    QStringList lines = {
        full,
        full.left(103),
        menuRecord("Estoque", "020", "Entradas", "mnuEntradas", "A", "mnuEstoque", " ") +
            "extra 99",
        menuRecord("Cadastros", "030", "Usuários e permissões", "mnuUsuários", "1", "Preço €", "1"),
        menuRecord("O'Brien \\ filial", "040", "Menu 'citado'", "mnu\\x", "3", "", "2"),
    };
    QByteArray bytes;
    for (const QString& l : lines)
        bytes += text::toCp1252(l) + "\r\n";
    // The last record comes without its line end.
    bytes +=
        text::toCp1252(menuRecord("Final", "050", "Sem fim de linha", "mnuFim", "4", "x", "1"));
    writeMenu(bytes);
    HookTap tap;

    EXPECT_EQ(run(), 0);

    const auto w = [](const QString& t, int n) { return t.leftJustified(n); };
    EXPECT_EQ(rows(), QStringList({
                          row(w("Financeiro", 50), "010", w("Contas a pagar", 30),
                              w("mnuPagar", 20), 2, w("mnuFinanceiro", 50), 1),
                          row(w("Financeiro", 50), "010", w("Contas a pagar", 30),
                              w("mnuPagar", 20), 0, "", 0),
                          row(w("Estoque", 50), "020", w("Entradas", 30), w("mnuEntradas", 20), 0,
                              w("mnuEstoque", 50), 0),
                          row(w("Cadastros", 50), "030", w("Usuários e permissões", 30),
                              w("mnuUsuários", 20), 1, w("Preço €", 50), 1),
                          row(w("O'Brien \\ filial", 50), "040", w("Menu 'citado'", 30),
                              w("mnu\\x", 20), 3, w("", 50), 2),
                          row(w("Final", 50), "050", w("Sem fim de linha", 30), w("mnuFim", 20), 4,
                              w("x", 50), 1),
                      }));
    // The padding of Sistema reaches the database.
    EXPECT_EQ(db_.scalar("select length(Sistema) from menu where sequencia = '020'"), "50");
    EXPECT_EQ(atmenu(), "000042");
    EXPECT_EQ(db_.scalar("select ult_atualizacao from licensa"), "000131");

    // The bar's maximum is the file's length; the last line's missing end does not stop it.
    EXPECT_EQ(window_.Percent->maximum(), bytes.size());
    EXPECT_EQ(window_.Percent->value(), window_.Percent->maximum());

    const auto boxes = tap.lines();
    QList<TranscriptLine> msgs;
    for (const auto& l : boxes)
        if (l.kind == "msgbox")
            msgs << l;
    ASSERT_EQ(msgs.size(), 2);
    EXPECT_EQ(msgs[0].fields.mid(0, 4),
              QStringList({"Concluído!", "information", "OK", "Arquivo atualizado com sucesso!"}));
    EXPECT_EQ(msgs[1].fields.value(3), "Atualização concluída com sucesso!");
    // The run end removed the update folder.
    EXPECT_FALSE(QFileInfo::exists(updateFolder()));
}

TEST_F(MenuReload, ProgressCountsBytesAndEveryCrLfBringsTheBarExactlyToItsMaximum) {
    QByteArray bytes;
    for (int i = 0; i < 40; ++i)
        bytes += text::toCp1252(menuRecord("Sistema", QString::number(i).rightJustified(3, '0'),
                                           i % 2 ? "Relatórios" : "Menu", "mnu", "1", "", "0")
                                    .left(100 + i)) +
                 "\r\n";
    writeMenu(bytes);
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(window_.Percent->maximum(), bytes.size());
    EXPECT_EQ(window_.Percent->value(), bytes.size());
    EXPECT_EQ(db_.scalar("select count(*) from menu"), "40");
}

TEST_F(MenuReload, AnEmptyFileEmptiesTheMenuAndStillRecordsTheVersion) {
    writeMenu("");
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(db_.scalar("select count(*) from menu"), "0");
    EXPECT_EQ(atmenu(), "000042");
}

TEST_F(MenuReload, OnlyTheFirstActivationReloads) {
    writeMenu(text::toCp1252(menuRecord("S", "001", "M", "N", "1", "", "0")) + "\r\n");
    EXPECT_TRUE(window_.tag().isEmpty());
    try {
        window_.Form_Activate();
        FAIL() << "the reload did not end the run";
    } catch (const platform::ProgramEnded& e) {
        EXPECT_EQ(e.code, 0);
    }
    EXPECT_EQ(window_.tag(), ".");
    // A later activation, with the menu changed meanwhile, leaves everything alone.
    db_.exec("insert into menu (Sistema) values ('outro')");
    HookTap tap;
    window_.Form_Activate();
    EXPECT_EQ(db_.scalar("select count(*) from menu"), "2");
    EXPECT_TRUE(tap.lines().isEmpty());
}

// Whatever fails, the previous menu and version stay and the fatal report ends the run.
class MenuReloadFailure : public MenuReload {
protected:
    void expectOldMenuAndReport(const QString& reportPart) {
        const QStringList before = rows();
        ASSERT_EQ(before.size(), 2);
        HookTap tap;
        EXPECT_EQ(run(), 1);
        EXPECT_EQ(rows(), before);
        EXPECT_EQ(atmenu(), "000010");
        const auto lines = tap.lines();
        ASSERT_FALSE(lines.isEmpty());
        EXPECT_EQ(lines.first().kind, "msgbox");
        EXPECT_EQ(lines.first().fields.mid(0, 3),
                  QStringList({"Erro inesperado no sistema", "critical", "OK"}));
        const QString text = lines.first().fields.value(3);
        EXPECT_TRUE(text.contains("Programa: frmAtualMenu\r\nRotina: Processa"))
            << text.toStdString();
        EXPECT_TRUE(text.contains(reportPart)) << text.toStdString();
        EXPECT_FALSE(tap.messages().contains("Arquivo atualizado com sucesso!"));
        // Nothing of the run was cleaned up: a later run can repeat it.
        EXPECT_TRUE(QFileInfo::exists(updateFolder()));
    }
    QByteArray manyLines(int count) {
        QByteArray bytes;
        for (int i = 0; i < count; ++i)
            bytes += text::toCp1252(
                         menuRecord("S" + QString::number(i), "001", "M", "N", "1", "", "0")) +
                     "\r\n";
        return bytes;
    }
};

TEST_F(MenuReloadFailure, AnInsertFailingAfterEarlierBatchesLeavesTheOldMenu) {
    db_.exec("create unique index ux_menu on menu (Sistema, sequencia)");
    // Several statements' worth of rows; the duplicate comes last.
    QByteArray bytes = manyLines(2500);
    bytes += text::toCp1252(menuRecord("S7", "001", "M", "N", "1", "", "0"));
    writeMenu(bytes);
    expectOldMenuAndReport("Duplicate");
}

TEST_F(MenuReloadFailure, AFailingVersionUpdateTakesBackTheNewMenu) {
    db_.exec("drop table licensa");
    db_.exec("create table licensa (ult_atualizacao varchar(10), atmenu varchar(10) "
             "check (atmenu <> '000042'))");
    db_.exec("insert into licensa values ('000131', '000010')");
    writeMenu(manyLines(10));
    expectOldMenuAndReport("Número do Erro: 4025");
}

TEST_F(MenuReloadFailure, AMissingMenuFileTouchesNothing) {
    expectOldMenuAndReport("Número do Erro: 53");
}
