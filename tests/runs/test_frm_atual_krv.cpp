#include "common/updatekrv.h"
#include "database/connection.h"
#include "database/rehearsal.h"
#include "database/safe_update.h"
#include "database/update_file.h"
#include "hook_tap.h"
#include "platform/forms.h"
#include "platform/program.h"
#include "runs/frm_atual_krv.h"
#include "runs/frm_atual_menu.h"
#include "runs/run_session.h"
#include "session_recorder.h"
#include "suite_install.h"
#include "update_file_builder.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QScreen>
#include <QSqlQuery>
#include <QSqlRecord>
#include <gtest/gtest.h>
#include <thread>

using namespace krv;
using namespace krv::database;
using namespace krv::runs;

class AtualKRVWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(suite.db().ok() && reference.ok());
        runs::session().reset();
        updatekrv::DirSis = suite.folder();
        runs::session().values.VersaoBD = "000150";
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
    // The next run: fresh windows, and the update file fetched again (a failed run keeps none).
    void nextRun() {
        fresh();
        QDir().mkpath(suite.updateFolder());
        buildUpdateFile();
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
    // Refused in the rehearsal: not even the table before it was created.
    EXPECT_TRUE(suite.db().column("show tables like 'a1'").isEmpty());

    nextRun();
    updateFile().execute("update campos set type = 'int(11)' where [table] = 'b2'");
    test::HookTap rerun;
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(ultAtualizacao(), "000150");
    EXPECT_EQ(platform::form<frmAtualKRV>().Lista->count(), 3); // a1, b2, then the end
}

TEST_F(AtualKRVWindow, MenuFileHandsOverToTheMenuReload) {
    buildUpdateFile();
    QFile menu(suite.updateFolder() + "/mnusis_cs.krv");
    ASSERT_TRUE(menu.open(QIODevice::WriteOnly));
    menu.close();
    // The work list decides, not a menu file an earlier run left in the folder.
    test::HookTap stale;
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(stale.messages(), QStringList({"Nenhuma atualização realizada!"}));
    nextRun();
    ASSERT_TRUE(menu.open(QIODevice::WriteOnly));
    menu.close();
    runs::session().work.items << test::workItem("mnusis_cs.krv");
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
                  "update tabelas set [table] = 't1` (a int); drop table menu; create table t2' "
                  "where [table] = 'clientes'\n"
                  "update campos set [table] = 't1` (a int); drop table menu; create table t2' "
                  "where [table] = 'clientes'",
                  "t1` (a int)"},
        Injection{"FieldName",
                  "update campos set field = 'email` varchar(1)); drop table menu; --' "
                  "where field = 'email'",
                  "email` varchar(1)"},
        Injection{"IndexName",
                  "update indices set key_name = 'ix_nome`(nome)); drop table menu; --' "
                  "where key_name = 'ix_nome'",
                  "ix_nome`(nome)"},
        Injection{"Engine",
                  "update tabelas set engine = 'InnoDB; drop table menu' where [table] = "
                  "'aaa_nova'",
                  "InnoDB; drop table menu"},
        Injection{"Collation",
                  "update campos set collation = 'utf8mb4_bin, drop column nome' where field = "
                  "'email'",
                  "utf8mb4_bin, drop column nome"},
        Injection{"IndexKind",
                  "update indices set index_type = 'BTREE, drop column nome' where key_name = "
                  "'ix_nome'",
                  "BTREE, drop column nome"},
        Injection{"PrefixLength",
                  "update indices set sub_part = '10), drop column nome, add index z (nome' "
                  "where key_name = 'ix_nome'",
                  "10), drop column nome"},
        Injection{"Auto", "update campos set auto = ', drop column nome' where field = 'email'",
                  "drop column nome"}),
    [](const ::testing::TestParamInfo<Injection>& info) { return std::string(info.param.name); });

// Column and index changes against the values already stored, under a strict and a lenient
// server mode. A change that would alter a value refuses the update whole, with everything as
// it was; taken knowingly it applies after a CSV copy of the old values; a change that keeps
// every value applies and keeps them.
struct StoredValues {
    const char* name;
    const char* live;            // create statements and inserts on the suite, one a line
    const char* reference;       // the reference's create statements, one a line
    int lost;                    // values that would change; -1: refused whatever is allowed
    const char* says = "";       // what a refusal names
    const char* fileChange = ""; // applied to the built update file
};

class StoredValuesRun : public AtualKRVWindow,
                        public ::testing::WithParamInterface<std::tuple<StoredValues, bool>> {
protected:
    // Every table's definition and rows, as text; licensa is read on its own.
    QStringList everything() {
        QStringList all;
        for (const QString& t : suite.db().column("show tables")) {
            if (t == "licensa")
                continue;
            all << t;
            QSqlQuery q(suite.db().db());
            EXPECT_TRUE(q.exec("show create table `" + t + "`") && q.next());
            all << q.value(1).toString();
            all << suite.db().rows("select * from `" + t + "`");
        }
        return all;
    }
    // The update file as shipped: every run fetches it again (a failed run keeps none).
    void ship() {
        QFile f(suite.updateFolder() + "/krv.mdb");
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        shipped_ = f.readAll();
    }
    int runIn(bool lenient, DataChangePolicy policy) {
        fresh();
        QDir().mkpath(suite.updateFolder());
        QFile f(suite.updateFolder() + "/krv.mdb");
        if (f.open(QIODevice::WriteOnly))
            f.write(shipped_);
        f.close();
        Conexao().Open(1, suite.db().connectionString());
        if (lenient)
            Conexao().Execute("set session sql_mode = ''");
        session().dataChange = policy;
        const int code = run();
        session().dataChange = DataChangePolicy::Ask;
        return code;
    }
    QStringList copies() {
        return QDir(suite.folder() + "/atualizacoes").entryList({"dados-*.csv"}, QDir::Files);
    }
    QByteArray shipped_;
};

TEST_P(StoredValuesRun, AreKeptOrTheUpdateIsRefusedWhole) {
    const auto& [c, lenient] = GetParam();
    suite.db().exec(QString::fromUtf8(c.live).split('\n'));
    reference.exec(QString::fromUtf8(c.reference).split('\n'));
    buildUpdateFile();
    for (const QString& change : QString::fromUtf8(c.fileChange).split('\n', Qt::SkipEmptyParts))
        updateFile().execute(change);
    ship();
    const QStringList before = everything();

    test::HookTap tap;
    const int refused = runIn(lenient, DataChangePolicy::Refuse);
    if (c.lost == 0) {
        ASSERT_EQ(refused, 0) << tap.messages().join("\n").toStdString();
        EXPECT_EQ(ultAtualizacao(), "000150");
        // The data rows are as they were; only the definitions moved.
        QStringList rowsBefore = before, rowsAfter = everything();
        rowsBefore.removeIf([](const QString& l) { return l.startsWith("CREATE TABLE"); });
        rowsAfter.removeIf([](const QString& l) { return l.startsWith("CREATE TABLE"); });
        EXPECT_EQ(rowsAfter, rowsBefore);
        EXPECT_NE(everything(), before);
        EXPECT_TRUE(copies().isEmpty());
        return;
    }
    ASSERT_EQ(refused, 1);
    ASSERT_EQ(tap.messages().size(), 1);
    const QString message = tap.messages()[0];
    EXPECT_TRUE(message.contains("Arquivo de atualização recusado")) << message.toStdString();
    EXPECT_TRUE(message.contains(QString::fromUtf8(c.says))) << message.toStdString();
    if (c.lost > 0) {
        EXPECT_TRUE(message.contains(QString("mudaria ou perderia %1 valor(es)").arg(c.lost)))
            << message.toStdString();
    }
    EXPECT_EQ(everything(), before);
    EXPECT_EQ(ultAtualizacao(), "000131");
    EXPECT_TRUE(suite.db().column("show tables like 'zv\\_%'").isEmpty());

    // Allowed beforehand: what must be refused still is; a lossy change applies after the
    // old values went into a copy, one line a changed row.
    const int allowed = runIn(lenient, DataChangePolicy::Allow);
    if (c.lost < 0) {
        EXPECT_EQ(allowed, 1);
        EXPECT_EQ(everything(), before);
        return;
    }
    ASSERT_EQ(allowed, 0) << test::HookTap().messages().join("\n").toStdString();
    EXPECT_EQ(ultAtualizacao(), "000150");
    const QStringList files = copies();
    ASSERT_EQ(files.size(), 1);
    QFile csv(suite.folder() + "/atualizacoes/" + files[0]);
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(csv.readAll()).split("\r\n", Qt::SkipEmptyParts);
    EXPECT_EQ(lines.size(), c.lost + 1) << lines.join("\n").toStdString(); // the header first
}

// The same cases asked in a dialog: No, the default, refuses; Yes takes the change.
TEST_F(AtualKRVWindow, AChangeOfStoredValuesIsAskedAndNoIsTheDefault) {
    suite.db().exec({"create table t (id int primary key, c varchar(10))",
                     "insert into t values (1, 'abcdefghij'), (2, 'ok')"});
    reference.exec("create table t (id int primary key, c varchar(4))");
    buildUpdateFile();
    test::HookTap tap;
    EXPECT_EQ(run(), 1);
    QStringList question;
    for (const auto& line : tap.lines())
        if (line.kind == "msgbox" && question.isEmpty())
            question = line.fields;
    ASSERT_FALSE(question.isEmpty());
    EXPECT_EQ(question.value(2), "YesNo");
    EXPECT_EQ(question.value(4), "No");
    EXPECT_TRUE(question.value(3).contains("<t.c> de varchar(10)"))
        << question.join('|').toStdString();
    EXPECT_EQ(suite.db().scalar("select c from t where id = 1"), "abcdefghij");

    nextRun();
    krv::test::queue("msgbox Yes\n");
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(suite.db().scalar("select c from t where id = 1"), "abcd");
    EXPECT_EQ(QDir(suite.folder() + "/atualizacoes").entryList({"dados-*-t-c.csv"}).size(), 1);
}

// The same question asked of the session's observer, no window: the default (No) refuses the
// update with nothing changed; Yes takes it, and the run goes on to its end.
TEST_F(AtualKRVWindow, TheSessionAsksItsObserverAboutAChangeOfStoredValues) {
    suite.db().exec({"create table t (id int primary key, c varchar(10))",
                     "insert into t values (1, 'abcdefghij'), (2, 'ok')"});
    reference.exec("create table t (id int primary key, c varchar(4))");
    buildUpdateFile();
    struct Saying : test::SessionRecorder {
        platform::Answer answer = platform::Answer::No;
        platform::Answer message(const runs::Message& m) override {
            SessionRecorder::message(m);
            return m.buttons == platform::Buttons::YesNo ? answer : m.defaultAnswer;
        }
    };
    for (const platform::Answer answer : {platform::Answer::No, platform::Answer::Yes}) {
        SCOPED_TRACE(platform::toString(answer).toStdString());
        if (answer == platform::Answer::Yes)
            nextRun();
        Saying seen;
        seen.answer = answer;
        RunSession& run = session();
        run.observe(&seen);
        test::HookTap tap;
        const auto next = run.updateDatabase();
        run.observe(nullptr);
        ASSERT_FALSE(seen.messages.isEmpty());
        EXPECT_TRUE(seen.messages.first().startsWith("Atenção!: "))
            << seen.messages.first().toStdString();
        EXPECT_TRUE(seen.messages.first().contains("<t.c> de varchar(10)"));
        EXPECT_TRUE(tap.messages().isEmpty()); // no box: the observer was asked
        for (const auto& l : tap.lines())
            EXPECT_NE(l.kind, "show");
        if (answer == platform::Answer::No) {
            EXPECT_EQ(next, runs::StepResult::Ended);
            ASSERT_TRUE(seen.end.has_value());
            EXPECT_EQ(seen.end->outcome, Outcome::Failed);
            EXPECT_EQ(seen.end->report, RunEnd::Report::Runtime);
            EXPECT_EQ(seen.end->programCode, 1);
            EXPECT_EQ(suite.db().scalar("select c from t where id = 1"), "abcdefghij");
            EXPECT_EQ(ultAtualizacao(), "000131");
        } else {
            EXPECT_EQ(next, runs::StepResult::Finish);
            EXPECT_FALSE(seen.end.has_value());
            EXPECT_EQ(seen.lines.value(seen.lines.size() - 1), "Análise concluída!");
            EXPECT_EQ(suite.db().scalar("select c from t where id = 1"), "abcd");
            EXPECT_EQ(ultAtualizacao(), "000150");
        }
    }
}

// Another connection with a transaction open on the table: the run ends within the wait,
// changes nothing, names the holder, and a reader meanwhile waits one short try at most.
TEST_F(AtualKRVWindow, ATableHeldElsewhereEndsTheRunWithinTheWaitAndHoldsNobodyLong) {
    suite.db().exec(
        {"create table t (id int primary key, c varchar(10))", "insert into t values (1, 'a')"});
    reference.exec("create table t (id int primary key, c varchar(20))");
    buildUpdateFile();
    QSqlDatabase holder = QSqlDatabase::cloneDatabase(suite.db().db(), "holder");
    ASSERT_TRUE(holder.open());
    QSqlQuery hold(holder);
    ASSERT_TRUE(hold.exec("begin") && hold.exec("select * from t"));
    QSqlQuery id(holder);
    ASSERT_TRUE(id.exec("select connection_id()") && id.next());
    const QString holderId = id.value(0).toString();
    qputenv("ZELVOR_LOCK_WAIT", "8");

    qint64 readerMs = -1;
    const QSqlDatabase like = suite.db().db();
    std::thread reader([&, host = like.hostName(), port = like.port(), name = like.databaseName()] {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QMYSQL", "reader");
            db.setHostName(host);
            db.setPort(port);
            db.setDatabaseName(name);
            db.setUserName(test::DbServer::user());
            db.setPassword(test::DbServer::password());
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
            QElapsedTimer t;
            t.start();
            if (db.open() && QSqlQuery(db).exec("select count(*) from t"))
                readerMs = t.elapsed();
        }
        QSqlDatabase::removeDatabase("reader");
    });
    test::HookTap tap;
    const int code = run();
    reader.join();
    qunsetenv("ZELVOR_LOCK_WAIT");
    EXPECT_EQ(code, 1);
    ASSERT_EQ(tap.messages().size(), 1);
    EXPECT_TRUE(
        tap.messages()[0].contains("A tabela <t> está em uso por outra conexão (id " + holderId))
        << tap.messages()[0].toStdString();
    EXPECT_GE(readerMs, 0);
    EXPECT_LT(readerMs, 5000); // one try (2 s), not the whole wait
    EXPECT_EQ(suite.db().scalar("select column_type from information_schema.columns where "
                                "table_schema = database() and table_name = 't' and "
                                "column_name = 'c'"),
              "varchar(10)");
    EXPECT_EQ(ultAtualizacao(), "000131");

    // Once the other connection is done, the next run goes through.
    hold.exec("commit");
    nextRun();
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(ultAtualizacao(), "000150");
    hold = QSqlQuery();
    id = QSqlQuery();
    holder.close();
    holder = QSqlDatabase();
    QSqlDatabase::removeDatabase("holder");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StoredValuesRun,
    ::testing::Combine(
        ::testing::Values(
            StoredValues{"VarcharNarrowed",
                         "create table t (id int primary key, c varchar(60))\n"
                         "insert into t values (1, repeat('x', 50)), (2, 'curto')",
                         "create table t (id int primary key, c varchar(40))", 1, "<t.c>"},
            StoredValues{"IntToSmallint",
                         "create table t (id int primary key, c int)\n"
                         "insert into t values (1, 40000), (2, 5)",
                         "create table t (id int primary key, c smallint)", 1, "id=<1>"},
            StoredValues{"IntToTinyint",
                         "create table t (id int primary key, c int)\n"
                         "insert into t values (1, 200), (2, -5), (3, -300)",
                         "create table t (id int primary key, c tinyint)", 2},
            StoredValues{"BigintToInt",
                         "create table t (id int primary key, c bigint)\n"
                         "insert into t values (1, 3000000000), (2, 7)",
                         "create table t (id int primary key, c int)", 1},
            StoredValues{"IntToUnsigned",
                         "create table t (id int primary key, c int)\n"
                         "insert into t values (1, -1), (2, 3)",
                         "create table t (id int primary key, c int unsigned)", 1},
            StoredValues{"DecimalPrecision",
                         "create table t (id int primary key, c decimal(12,2))\n"
                         "insert into t values (1, 123456.78), (2, 1.5)",
                         "create table t (id int primary key, c decimal(6,2))", 1},
            StoredValues{"DecimalScale",
                         "create table t (id int primary key, c decimal(10,2))\n"
                         "insert into t values (1, 3.75), (2, 1.5), (3, 2.25), (4, 4.00)",
                         "create table t (id int primary key, c decimal(10,0))", 3},
            StoredValues{"TextToVarchar",
                         "create table t (id int primary key, c text)\n"
                         "insert into t values (1, 'abcdefghijkl'), (2, 'ok')",
                         "create table t (id int primary key, c varchar(10))", 1},
            StoredValues{"EnumShrunk",
                         "create table t (id int primary key, c enum('a','b','c'))\n"
                         "insert into t values (1, 'c'), (2, 'a'), (3, null)",
                         "create table t (id int primary key, c enum('a','b'))", 1},
            StoredValues{"VarcharToInt",
                         "create table t (id int primary key, c varchar(20))\n"
                         "insert into t values (1, 'abc'), (2, '3.7'), (3, ''), (4, '42')",
                         "create table t (id int primary key, c int)", 3},
            StoredValues{"NullIntoNotNull",
                         "create table t (id int primary key, c varchar(10))\n"
                         "insert into t values (1, null), (2, 'x')",
                         "create table t (id int primary key, c varchar(20) not null)", 1},
            StoredValues{"DatetimeToDate",
                         "create table t (id int primary key, c datetime)\n"
                         "insert into t values (1, '2024-01-01 10:00:00'), "
                         "(2, '2024-01-02 00:00:00')",
                         "create table t (id int primary key, c date)", 1},
            StoredValues{"VarbinaryNarrowed",
                         "create table t (id int primary key, c varbinary(16))\n"
                         "insert into t values (1, 'abcdefghijkl'), (2, 'ab')",
                         "create table t (id int primary key, c varbinary(8))", 1},
            StoredValues{"CharsetNamedInTheType",
                         "create table t (id int primary key, c varchar(20) character set "
                         "utf8mb4) default charset=latin1\n"
                         "insert into t values (1, '✓ 日本 €'), (2, 'ok')",
                         "create table t (id int primary key, c varchar(20))", 1, "",
                         "update campos set type = 'varchar(20) character set latin1' "
                         "where field = 'c'"},
            StoredValues{"NoKeyCopiesWholeRows",
                         "create table t (a int, c varchar(10))\n"
                         "insert into t values (1, 'abcdefghij'), (1, 'abcdefghij'), (2, 'x')",
                         "create table t (a int, c varchar(3))", 2, "a=<1>"},
            StoredValues{"KeyNamedWithABackquote",
                         "create table t (`i``d` int primary key, c varchar(10))\n"
                         "insert into t values (1, 'abcdefghij'), (2, 'ok')",
                         "create table t (c varchar(4))", 1, "i`d=<1>"},
            StoredValues{"UniqueAfterCollation",
                         "create table t (id int primary key, c varchar(10) collate "
                         "utf8mb4_bin, unique key u (c))\n"
                         "insert into t values (1, 'A'), (2, 'a')",
                         "create table t (id int primary key, c varchar(10), unique key u (c))", -1,
                         "valores repetidos",
                         "update campos set type = 'varchar(12) collate utf8mb4_general_ci' "
                         "where field = 'c'"},
            StoredValues{"PrimaryKeyOverNulls",
                         "create table t (c int, d int)\ninsert into t values (null, 1), (2, 2)",
                         "create table t (c int not null, d int, primary key (c))", -1,
                         "valor nulo"},
            StoredValues{"InvalidDefaultFailsTheRehearsal",
                         "create table t (id int primary key, c int)\n"
                         "insert into t values (1, 1)",
                         "create table aaa_nova (x int)\n"
                         "create table t (id int primary key, c int, d int)",
                         -1, "ensaio", "update campos set [default] = 'abc' where field = 'd'"},
            StoredValues{"Widened",
                         "create table t (id int primary key, c varchar(40), n smallint, "
                         "b int, i int)\n"
                         "insert into t values (1, 'Ana', -32768, -2147483648, 42)",
                         "create table t (id int primary key, c varchar(100), n int, "
                         "b bigint, i varchar(20))",
                         0},
            // A file without column character sets: the live column keeps its own.
            StoredValues{"CharsetKeptWhenWidened",
                         "create table t (id int primary key, c varchar(20) character set "
                         "utf8mb4) default charset=latin1\n"
                         "insert into t values (1, '✓ 日本 €')",
                         "create table t (id int primary key, c varchar(30)) default "
                         "charset=latin1",
                         0, "",
                         "alter table campos drop column charset\n"
                         "alter table campos drop column collation"},
            // A file that carries them: the reference's character set, proved on the values.
            StoredValues{"ReferenceCharsetProvedOnTheValues",
                         "create table t (id int primary key, c varchar(20) character set "
                         "utf8mb4) default charset=latin1\n"
                         "insert into t values (1, '✓ 日本 €')",
                         "create table t (id int primary key, c varchar(30)) default "
                         "charset=latin1",
                         1, "latin1"},
            StoredValues{"IndexOnly",
                         "create table t (id int primary key, c varchar(10))\n"
                         "insert into t values (1, 'a'), (2, 'a')",
                         "create table t (id int primary key, c varchar(10), key k (c))", 0}),
        ::testing::Bool()),
    [](const ::testing::TestParamInfo<std::tuple<StoredValues, bool>>& info) {
        return std::string(std::get<0>(info.param).name) +
               (std::get<1>(info.param) ? "_Lenient" : "_Strict");
    });
