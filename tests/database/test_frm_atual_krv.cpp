#include "common/updatekrv.h"
#include "database/connection.h"
#include "database/frm_atual_krv.h"
#include "database/frm_atual_menu.h"
#include "hook_tap.h"
#include "platform/forms.h"
#include "platform/program.h"
#include "suite_install.h"
#include "update_file_builder.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QScreen>
#include <QSqlQuery>
#include <gtest/gtest.h>

using namespace krv;
using namespace krv::database;

class AtualKRVWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(suite.db().ok() && reference.ok());
        updatekrv::reset();
        updatekrv::DirSis = suite.folder();
        updatekrv::VersaoBD = "000150";
        Conexao().Open(1, suite.db().connectionString());
        ASSERT_TRUE(QDir().mkpath(suite.updateFolder()));
        platform::setEndHandler([](int code) { throw platform::ProgramEnded{code}; });
    }
    void TearDown() override {
        platform::setEndHandler({});
        fresh();
    }

    // Writes the update folder's krv.mdb from the reference database.
    void buildUpdateFile() {
        tools::BuildOptions options;
        options.codAtu = "000150";
        tools::buildUpdateFile(suite.updateFolder() + "/krv.mdb", reference.db(), options);
    }
    UpdateFile updateFile() { return openUpdateFile(suite.updateFolder() + "/krv.mdb"); }

    // Shows the window and activates it; the exit code, or -1 when the program did not end.
    int run() {
        frmAtualKRV& w = platform::form<frmAtualKRV>();
        w.show();
        try {
            w.Form_Activate();
        } catch (const platform::ProgramEnded& e) {
            return e.code;
        }
        return -1;
    }
    // The next form<frmAtualKRV>() is a new window.
    static void fresh() {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (qobject_cast<frmAtualKRV*>(w) || qobject_cast<frmAtualMenu*>(w))
                delete w;
    }
    QString ultAtualizacao() { return suite.db().scalar("select ult_atualizacao from licensa"); }

    test::SuiteInstall suite{"000131"};
    test::ScratchDatabase reference;
};

TEST_F(AtualKRVWindow, IdenticalStructuresOnlyRecordTheVersionAndEndTheRun) {
    suite.db().exec("create table clientes (id int NOT NULL, primary key (id))");
    reference.exec("create table clientes (id int NOT NULL, primary key (id))");
    buildUpdateFile();
    test::HookTap tap;
    EXPECT_EQ(run(), 0);

    frmAtualKRV& w = platform::form<frmAtualKRV>();
    EXPECT_EQ(w.tag(), ".");
    ASSERT_EQ(w.Lista->count(), 1);
    EXPECT_EQ(w.Lista->item(0)->text(), "Análise concluída!");
    EXPECT_EQ(ultAtualizacao(), "000150");
    EXPECT_FALSE(QFileInfo::exists(suite.updateFolder()));
    EXPECT_EQ(tap.messages(), QStringList{"Nenhuma atualização realizada!"});
    const QStringList statuses = tap.statuses();
    EXPECT_TRUE(statuses.contains("Verificando clientes"));
    EXPECT_FALSE(statuses.contains("Verificando licensa")); // only reference tables
    EXPECT_EQ(statuses.first(), "");                        // cleared while the snapshot runs

    // Full height, centred vertically, snapshot display gone.
    EXPECT_EQ(w.height(), (frmAtualKRV::kFullHeight - 450) / 15);
    const int screenHeight = QGuiApplication::primaryScreen()->geometry().height();
    EXPECT_EQ(w.frameGeometry().top(), screenHeight / 2 - w.frameGeometry().height() / 2);
    EXPECT_FALSE(w.Gauge->isVisible());
    EXPECT_GT(w.Gauge->maximum(), 0);
    EXPECT_EQ(w.Gauge->value(), w.Gauge->maximum()); // the snapshot's bar went all the way
    EXPECT_FALSE(w.lblLer->isVisible());
    EXPECT_EQ(w.Lista->palette().color(QPalette::Text), QColor(0, 0xc0, 0));
    EXPECT_EQ(w.Lista->palette().color(QPalette::Base), QColor(Qt::black));
    EXPECT_EQ(w.Lista->font().family(), "Verdana");

    // A later activation does not start the run again.
    suite.db().exec("update licensa set ult_atualizacao = '000131'");
    EXPECT_EQ(run(), -1);
    EXPECT_EQ(ultAtualizacao(), "000131");
}

TEST_F(AtualKRVWindow, UpdateFileWithoutNumeroEndsWithNothingAltered) {
    reference.exec("create table nova (a int)");
    buildUpdateFile();
    updateFile().execute("delete from numero");
    test::HookTap tap;
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(tap.messages(), QStringList{"Arquivo <krv.mdb> inválido!"});
    for (const auto& line : tap.lines()) {
        if (line.kind != "msgbox")
            continue;
        EXPECT_EQ(line.fields.value(0), "Aviso!");
    }
    EXPECT_TRUE(suite.db().column("show tables like 'nova'").isEmpty());
    EXPECT_EQ(ultAtualizacao(), "000131");
    EXPECT_TRUE(QFileInfo::exists(suite.updateFolder() + "/krv.mdb"));
}

TEST_F(AtualKRVWindow, FailureIsReportedAndLeavesTheVersionForARerun) {
    reference.exec({"create table a1 (x int)", "create table b2 (y int)"});
    buildUpdateFile();
    updateFile().execute("update campos set type = 'tipo_que_nao_existe' where [table] = 'b2'");
    test::HookTap tap;
    EXPECT_EQ(run(), 1);
    ASSERT_EQ(tap.messages().size(), 1);
    // The server's own error number and description.
    EXPECT_TRUE(QRegularExpression("^Erro em tempo de execução '[1-9][0-9]*':\r\n\r\n")
                    .match(tap.messages()[0])
                    .hasMatch())
        << tap.messages()[0].toStdString();
    EXPECT_TRUE(tap.messages()[0].contains("tipo_que_nao_existe"));
    EXPECT_EQ(ultAtualizacao(), "000131");
    EXPECT_EQ(suite.db().column("show tables like 'a1'"), QStringList{"a1"});

    fresh();
    updateFile().execute("update campos set type = 'int(11)' where [table] = 'b2'");
    test::HookTap rerun;
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(ultAtualizacao(), "000150");
    EXPECT_EQ(platform::form<frmAtualKRV>().Lista->count(), 2); // b2 created, then the end
}

TEST_F(AtualKRVWindow, MenuFileHandsOverToTheMenuReload) {
    buildUpdateFile();
    QFile menu(suite.updateFolder() + "/mnusis_cs.krv");
    ASSERT_TRUE(menu.open(QIODevice::WriteOnly));
    menu.close();
    test::HookTap tap;
    EXPECT_EQ(run(), -1); // the menu reload ends the run, not this window
    EXPECT_EQ(ultAtualizacao(), "000150");
    EXPECT_TRUE(platform::form<frmAtualMenu>().isVisible());
    EXPECT_TRUE(tap.messages().isEmpty());
    EXPECT_TRUE(QFileInfo::exists(suite.updateFolder() + "/krv.mdb"));
}

// Hand-made update files whose pieces carry SQL of their own: the run refuses the whole file
// before its first change, through the usual report, and every table stays as it was.
struct Injection {
    const char* name;
    const char* change; // applied to the built update file, one statement a line
    const char* named;  // what the message must name
};

class InjectedUpdateFile : public AtualKRVWindow, public ::testing::WithParamInterface<Injection> {
protected:
    QStringList structure() {
        QStringList all;
        for (const QString& t : suite.db().column("show tables")) {
            QSqlQuery q(suite.db().db());
            EXPECT_TRUE(q.exec("show create table `" + t + "`") && q.next());
            all << q.value(1).toString();
        }
        return all;
    }
};

TEST_P(InjectedUpdateFile, IsRefusedBeforeTheFirstChange) {
    const QString base = "create table clientes (id int NOT NULL, nome varchar(40), "
                         "primary key (id))";
    suite.db().exec({base, "create table menu (Sistema varchar(10))"});
    // The reference differs early on (a new table first, a longer column), so a run that
    // applied as it went would have changed something before meeting the injected piece.
    reference.exec({"create table aaa_nova (x int)",
                    "create table clientes (id int NOT NULL, nome varchar(60), email "
                    "varchar(120), primary key (id), key ix_nome (nome))",
                    "create table menu (Sistema varchar(10))"});
    buildUpdateFile();
    const UpdateFile file = updateFile();
    for (const QString& change : QString::fromUtf8(GetParam().change).split('\n'))
        file.execute(change);
    const QStringList before = structure();

    test::HookTap tap;
    EXPECT_EQ(run(), 1);
    ASSERT_EQ(tap.messages().size(), 1) << tap.messages().join("\n").toStdString();
    const QString message = tap.messages()[0];
    EXPECT_TRUE(message.contains("Arquivo de atualização recusado")) << message.toStdString();
    EXPECT_TRUE(message.contains(QString::fromUtf8(GetParam().named))) << message.toStdString();
    EXPECT_EQ(structure(), before);
    EXPECT_EQ(ultAtualizacao(), "000131");
    EXPECT_EQ(platform::form<frmAtualKRV>().Lista->count(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Families, InjectedUpdateFile,
    ::testing::Values(
        Injection{"Extra", "update campos set extra = '; drop table menu' where field = 'email'",
                  "; drop table menu"},
        Injection{"Type",
                  "update campos set type = 'varchar(120)), drop column nome, add column (zz "
                  "int' where field = 'email'",
                  "drop column nome"},
        Injection{"TableName",
                  "update tabelas set [table] = 't1 (a int); drop table menu; create table t2' "
                  "where [table] = 'clientes'\n"
                  "update campos set [table] = 't1 (a int); drop table menu; create table t2' "
                  "where [table] = 'clientes'",
                  "t1 (a int)"},
        Injection{"FieldName",
                  "update campos set field = 'email varchar(1)); drop table menu; --' "
                  "where field = 'email'",
                  "email varchar(1)"},
        Injection{"IndexName",
                  "update indices set key_name = 'ix_nome(nome)); drop table menu; --' "
                  "where key_name = 'ix_nome'",
                  "ix_nome(nome)"},
        Injection{"Auto", "update campos set auto = ', drop column nome' where field = 'email'",
                  "drop column nome"}),
    [](const ::testing::TestParamInfo<Injection>& info) { return std::string(info.param.name); });
