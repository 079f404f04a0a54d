// The maker steering a release: the decisions on their own (bucket, stage, withdrawn and
// minimum versions, the manifest's fields), then end to end the real zelvor with the maker's
// key, the reference update server on loopback and the real MariaDB: staged, halted,
// withdrawn and minimum releases signed by the real krv-sign.
#include "common/release_manifest.h"
#include "end_to_end.h"
#include "make_zip.h"
#include "pe_builder.h"
#include "release_signer.h"
#include "runs/holds.h"
#include "runs/rollback.h"
#include "served_folder.h"
#include "test_db.h"
#include "update_file_builder.h"

#include <QDir>
#include <QJsonArray>
#include <QRegularExpression>
#include <QSqlQuery>
#include <functional>
#include <gtest/gtest.h>

using namespace krv;
using namespace krv::test;

namespace {

QDateTime at(const char* iso) {
    return QDateTime::fromString(iso, Qt::ISODate).toUTC();
}

} // namespace

// Buckets as Python's hashlib gives them: int.from_bytes(sha256(b"<id>:<serial>")[:4]) % 10000.
TEST(SteeringDecision, BucketsStagesWithdrawnAndMinimumVersions) {
    EXPECT_EQ(manifest::bucket(QString(32, '0'), 1), 6048);
    EXPECT_EQ(manifest::bucket("0123456789abcdef0123456789abcdef", 7), 6984);
    EXPECT_EQ(manifest::bucket(QString(32, '1'), 5), 657);

    manifest::Steering s;
    s.staged = true;
    s.stages = {{10, at("2026-12-01T00:00:00Z")},
                {1.1, at("2026-11-01T00:00:00Z")},
                {100, at("2026-12-20T00:00:00Z")}};
    struct Row {
        const char* name;
        int bucket;
        const char* now;
        bool take;
        QDateTime from;
    } rows[] = {
        {"before any stage", 0, "2026-10-01T00:00:00Z", false, at("2026-11-01T00:00:00Z")},
        {"1.1 % takes bucket 109", 109, "2026-11-15T00:00:00Z", true, {}},
        {"1.1 % leaves bucket 110", 110, "2026-11-15T00:00:00Z", false, at("2026-12-01T00:00:00Z")},
        {"the latest stage passed, not the first listed", 999, "2026-12-02T00:00:00Z", true, {}},
        {"outside every stage but the last", 9999, "2026-12-02T00:00:00Z", false,
         at("2026-12-20T00:00:00Z")},
        {"the last stage takes all", 9999, "2026-12-21T00:00:00Z", true, {}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const manifest::StageDecision d = manifest::decideStage(s, r.bucket, at(r.now));
        EXPECT_EQ(d.take, r.take);
        EXPECT_EQ(d.from, r.from);
        EXPECT_FALSE(d.halted);
    }
    s.halted = true;
    EXPECT_FALSE(manifest::decideStage(s, 0, at("2026-12-21T00:00:00Z")).take);
    EXPECT_TRUE(manifest::decideStage(manifest::Steering{}, 9999, at("2026-12-21T00:00:00Z")).take);

    s.withdrawn = {{"module", "Control", "01.32.00"}, {"menu", "menu", "000011"}};
    s.minimum = {{"module", "control", "01.30.00"}, {"menu", "x", "000011"}};
    EXPECT_TRUE(manifest::isWithdrawn(s, "module", "control", "01.32.00"));
    EXPECT_FALSE(manifest::isWithdrawn(s, "assistant", "control", "01.32.00"));
    EXPECT_FALSE(manifest::isWithdrawn(s, "module", "control", "01.33.00"));
    EXPECT_TRUE(manifest::isWithdrawn(s, "menu", "mnusis_cs.krv", "000011"));
    EXPECT_EQ(manifest::minimumAbove(s, "module", "control", "01.29.09"), "01.30.00");
    EXPECT_EQ(manifest::minimumAbove(s, "module", "control", "01.30.00"), "");
    EXPECT_EQ(manifest::minimumAbove(s, "menu", "mnusis_cs.krv", "10"), "000011");
    EXPECT_EQ(manifest::minimumAbove(s, "menu", "mnusis_cs.krv", "000012"), "");

    // The fields survive the manifest's text; malformed ones refuse it.
    manifest::Manifest m;
    m.serial = 3;
    m.issued = at("2026-12-01T00:00:00Z");
    m.expires = at("2027-01-01T00:00:00Z");
    m.steering = s;
    const auto back = manifest::parse(manifest::serialize(m));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->steering.stages.size(), 3);
    EXPECT_EQ(back->steering.stages[1].percent, 1.1);
    EXPECT_TRUE(back->steering.halted);
    EXPECT_EQ(back->steering.withdrawn.size(), 2);
    EXPECT_EQ(back->steering.minimum[0].version, "01.30.00");
    const QByteArray base =
        manifest::serialize(manifest::Manifest{3, m.issued, m.expires, {}, {}, {}});
    for (const char* field :
         {R"("rollout": {"stages": [{"percent": 101, "from": "2026-12-01T00:00:00Z"}]})",
          R"("rollout": {"stages": [{"percent": 5}]})", R"("rollout": {"halted": "sim"})",
          R"("withdrawn": [{"kind": "database", "name": "krv", "version": "1"}])",
          R"("minimum": [{"kind": "module", "name": "", "version": "1"}])"}) {
        SCOPED_TRACE(field);
        QByteArray text = base;
        text.insert(text.indexOf('{') + 1, QByteArray(field) + ",");
        QString why;
        EXPECT_FALSE(manifest::parse(text, &why));
        EXPECT_FALSE(why.isEmpty());
    }
}

namespace {

// A suite with module krvsis 01.31.00 and the maker's key; the server offers krvsis 01.32.00.
class ReleaseSteering : public EndToEnd {
protected:
    void SetUp() override {
        EndToEnd::SetUp();
        PeBuilder pe(scratch_.path());
        old_ = readFile(pe.withVersion("old", 1, 31, 0, 0));
        new_ = readFile(pe.withVersion("new", 1, 32, 0, 0));
        ASSERT_FALSE(old_.isEmpty() || new_.isEmpty()) << pe.error().toStdString();
        zelvor_ = suite.folder() + "/zelvor";
        ASSERT_TRUE(QFile::copy(zelvorBinary(), zelvor_));
        QFile::setPermissions(zelvor_, QFile::permissions(zelvorBinary()));
        writeFile(suite.folder() + "/krvsis", old_);
        writeFile(suite.folder() + "/zelvor.pub", maker_.publicLine());
        served_.write("usuarios.txt", "ana\tsegredo\n");
        served_.write("versoes.txt", "5\tkrvsis\t01.32.00\n");
        served_.write("historico/5.txt", "01.32.00\t2026-12-01\tNovo\n");
        makeZip(served_.path() + "/atualsis/krvsis01.32.00.zip", {{"krvsis", new_}});
        suite.setSetting("atuser", "ana");
        suite.setSetting("atpwd", "segredo");
    }

    void publish(qint64 serial, const QStringList& options = {}) {
        QString out;
        ASSERT_TRUE(maker_.release(served_.path() + "/atualsis", serial, {}, &out, options))
            << out.toStdString();
    }
    // Unattended with extra, or, with script, through the windows.
    RunResult update(const QStringList& extra = {}, const QString& script = {}) const {
        RunOptions o = suite.options(script, 60);
        if (script.isEmpty())
            o.arguments = QStringList{"--unattended", "--accept-terms"} + extra;
        o.env["ZELVOR_BASE_URL"] = served_.baseUrl();
        return runProgram(zelvor_, o);
    }
    QString records() const { return suite.folder() + "/atualizacoes"; }

    QTemporaryDir scratch_;
    ServedFolder served_;
    ReleaseSigner maker_;
    QString zelvor_;
    QByteArray old_, new_;
};

QString isoIn(qint64 days) {
    return manifest::isoUtc(QDateTime::currentDateTimeUtc().addDays(days));
}

// A person logging in who answers the stage question, then accepts the terms.
QString person(const QString& answer) {
    return "click frmSel.SSCommand1\ntype frmInicio.txtUsuario ana\n"
           "type frmInicio.txtSenha segredo\nclick frmInicio.cmdContinua\nmsgbox " +
           answer + "\ncheck frmHist.optTermos(1) 1\nclick frmHist.SSCommand1\n";
}

} // namespace

TEST_F(ReleaseSteering, StagesHaltsWithdrawalsAndMinimumsDecideWhatTheSiteTakes) {
    const QString in = QString(32, '1'), out = QString(32, '2'); // buckets 657 and 8115
    const QStringList stage{"--rollout", "50@" + isoIn(-1)};
    const QStringList withdraw{"--withdraw", "module:krvsis=01.32.00"};
    // What the site did before the release (serial 6 then) is published.
    enum History { Fresh, Took, TookCopiesGone, TookRolledBack };
    struct Row {
        const char* name;
        History history;
        QStringList publish; // krv-sign's steering options
        QString id;          // instalacao.id; empty: created by the run
        QStringList arguments;
        int exitCode;
        QString says;                     // in the output
        bool taken;                       // krvsis is 01.32.00 afterwards
        std::function<void()> check = {}; // further checks
        QString answer = {}; // a person's answer to the stage question; empty: unattended
        int issuedAhead = 0; // days the manifest's issued lies ahead of the clock
        // The live table t and the reference's that the release's update file carries;
        // nothing: the release has no update file.
        QStringList liveTable = {}, referenceTable = {};
        bool holdTable = false; // another connection keeps a transaction open on t
    };
    const auto rolledBack = [&] {
        // The run's record, then that of the rollback it made.
        const QList<QJsonObject> recs = updateRecords(suite.folder());
        ASSERT_GE(recs.size(), 2);
        EXPECT_EQ(recs.last()["outcome"], "rolled back");
        EXPECT_EQ(recs.last()["withdrawn"]["version"], "01.32.00");
        EXPECT_TRUE(recs.last()["message"].toString().contains("retirada pelo fabricante"));
        EXPECT_EQ(recs[recs.size() - 2]["withdrawn"][0]["result"], "rolled back");
        EXPECT_EQ(recs[recs.size() - 2]["outcome"], "updated");
        EXPECT_TRUE(
            runs::holds::held(runs::holds::read(suite.folder()), "module", "krvsis", "01.32.00"));
    };
    const auto newId = [&] {
        EXPECT_TRUE(QRegularExpression("^[0-9a-f]{32}\n$")
                        .match(readFile(records() + "/instalacao.id"))
                        .hasMatch());
    };
    const auto holdEnded = [&] {
        EXPECT_TRUE(runs::holds::read(suite.folder()).isEmpty());
        EXPECT_EQ(updateRecords(suite.folder()).last()["holds_ended"][0]["minimum"], "01.32.00");
    };
    const QStringList later{"--rollout", "100@" + isoIn(3)};
    const QStringList halt{"--rollout", "100@" + isoIn(-1), "--halt"};
    const QStringList minimum{"--minimum", "module:krvsis=01.32.00"};
    const QString offered = "retirada pelo fabricante: não será aplicada";
    // The release's files as they were before the run, checked against its record.
    const auto putBack = [&] {
        const QJsonObject rec = updateRecords(suite.folder()).last();
        EXPECT_EQ(rec["outcome"], "failed");
        ASSERT_EQ(rec["files_put_back"].toArray().size(), 1);
        EXPECT_EQ(rec["files_put_back"][0]["name"], "krvsis");
        EXPECT_EQ(rec["files_put_back"][0]["result"], "restored");
        EXPECT_EQ(suite.db().scalar("select ult_atualizacao from licensa"), "000131");
        // Nothing left for --rollback to undo.
        EXPECT_FALSE(runs::rollback::plan(suite.folder()).refusal.isEmpty());
    };
    const auto nothingKept = [&] {
        EXPECT_TRUE(updateRecords(suite.folder()).last()["kept_files"].toArray().isEmpty());
        EXPECT_EQ(suite.db().scalar("select c from t where id = 1"), "abcdefghijklmno");
    };
    const QStringList narrowed{"create table t (id int primary key, c varchar(10))"};
    const QStringList wide{"create table t (id int primary key, c varchar(20))",
                           "insert into t values (1, 'abcdefghijklmno')"};
    const QList<Row> rows = {
        {"no rollout: everyone takes it", Fresh, {}, {}, {}, 0, "concluída", true, newId},
        {"inside its stage", Fresh, stage, in, {}, 0, "concluída", true},
        {"outside its stage", Fresh, stage, out, {}, 2, "distribuída em etapas", false},
        {"outside its stage, --now", Fresh, stage, out, {"--now"}, 0, "concluída", true},
        {"outside, a person answers Yes", Fresh, stage, out, {}, 0, "", true, {}, "Yes"},
        {"outside, a person keeps No", Fresh, stage, out, {}, 0, "", false, {}, "No"},
        {"a stage that opens later", Fresh, later, in, {}, 2, "a partir de", false},
        {"halted, even with --now", Fresh, halt, in, {"--now"}, 2, "suspensa", false},
        {"a manifest issued in the future", Fresh, {}, {}, {}, 1, "um dia à frente", 0, {}, {}, 2},
        {"withdrawn, not offered to a site without it", Fresh, withdraw, {}, {}, 2, offered, 0},
        {"withdrawn, the site had it", Took, withdraw, {}, {}, 0, "restaurado", 0, rolledBack},
        {"withdrawn, the kept copies gone", TookCopiesGone, withdraw, {}, {}, 1, "como estão", 1},
        {"a minimum over a hold", TookRolledBack, minimum, {}, {}, 0, "deixa de ser", 1, holdEnded},
        {"a refused database update changes no file",
         Fresh,
         {},
         {},
         {},
         1,
         "recusado",
         0,
         nothingKept,
         {},
         0,
         wide,
         narrowed},
        {"the lock wait spent after the archives were placed",
         Fresh,
         {},
         {},
         {},
         1,
         "restaurados",
         0,
         putBack,
         {},
         0,
         narrowed,
         QStringList{wide[0]},
         true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QDir(records()).removeRecursively();
        writeFile(suite.folder() + "/krvsis", old_);
        QFile::remove(served_.path() + "/atualsis/krv.mdb");
        served_.write("versoes.txt", "5\tkrvsis\t01.32.00\n");
        std::optional<QSqlDatabase> holder;
        if (!row.liveTable.isEmpty()) {
            suite.db().exec(QStringList{"drop table if exists t"} + row.liveTable);
            ScratchDatabase reference;
            reference.exec(row.referenceTable);
            tools::BuildOptions built;
            built.codAtu = "000132";
            tools::buildUpdateFile(served_.path() + "/atualsis/krv.mdb", reference.db(), built);
            served_.write("versoes.txt", "1\tkrvdb\t000132\n5\tkrvsis\t01.32.00\n");
            served_.write("historico/1.txt", "000132\t2026-12-01\tNova coluna\n");
        }
        if (row.holdTable) {
            holder = QSqlDatabase::cloneDatabase(suite.db().db(), "holder");
            ASSERT_TRUE(holder->open());
            ASSERT_TRUE(QSqlQuery(*holder).exec("begin"));
            ASSERT_TRUE(QSqlQuery(*holder).exec("select * from t"));
            qputenv("ZELVOR_LOCK_WAIT", "2");
        }
        if (row.history != Fresh) {
            publish(5);
            ASSERT_EQ(update().exitCode, 0);
            ASSERT_EQ(readFile(suite.folder() + "/krvsis"), new_);
        }
        for (const QString& d : QDir(records()).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            if (row.history == TookCopiesGone)
                QFile::remove(records() + "/" + d + "/anteriores/krvsis");
        if (row.history == TookRolledBack) {
            RunOptions o = suite.options({}, 60);
            o.arguments = {"--unattended", "--rollback"};
            ASSERT_EQ(runProgram(zelvor_, o).exitCode, 0);
            ASSERT_EQ(update().exitCode, 2); // held
        }
        publish(row.history == Fresh ? 5 : 6, row.publish);
        if (row.issuedAhead)
            maker_.resign(served_.path() + "/atualsis", [&](manifest::Manifest& m) {
                m.issued = QDateTime::currentDateTimeUtc().addDays(row.issuedAhead);
                m.expires = m.issued.addDays(30);
            });
        QDir().mkpath(records());
        if (!row.id.isEmpty())
            writeFile(records() + "/instalacao.id", row.id.toLatin1() + "\n");
        const QByteArray before = readFile(suite.folder() + "/krvsis");
        const RunResult r =
            update(row.arguments, row.answer.isEmpty() ? QString() : person(row.answer));
        expectCleanEnd(r, row.exitCode);
        EXPECT_TRUE(r.output.contains(row.says)) << r.output.toStdString();
        if (!row.answer.isEmpty()) {
            const QStringList asked = r.messages().filter("distribuída em etapas");
            ASSERT_EQ(asked.size(), 1) << r.transcriptText().toStdString();
            EXPECT_TRUE(asked[0].endsWith("Deseja recebê-la agora?"));
            for (const auto& box : r.of("msgbox")) {
                if (box.fields.value(3).contains("etapas")) {
                    EXPECT_EQ(box.fields.value(4), row.answer);
                }
            }
        }
        EXPECT_EQ(readFile(suite.folder() + "/krvsis") == new_, row.taken);
        if (row.exitCode == 1) {
            EXPECT_EQ(readFile(suite.folder() + "/krvsis"), before);
        }
        if (row.check)
            row.check();
        if (holder) {
            qunsetenv("ZELVOR_LOCK_WAIT");
            QSqlQuery(*holder).exec("commit");
            // Once the table is free, the next run takes the whole release.
            EXPECT_EQ(update().exitCode, 0);
            EXPECT_EQ(readFile(suite.folder() + "/krvsis"), new_);
            EXPECT_EQ(suite.db().scalar("select ult_atualizacao from licensa"), "000132");
            holder->close();
            holder.reset();
            QSqlDatabase::removeDatabase("holder");
        }
    }
}
