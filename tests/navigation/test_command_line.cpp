// zelvor's options, and one assistant at a time on a suite.
#include "build_info.h"
#include "navigation/command_line.h"
#include "navigation/frm_sel.h"
#include "navigation/unattended.h"
#include "run_program.h"
#include "suite_install.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

using namespace krv;
using namespace krv::navigation;
using namespace krv::test;

namespace {

const char* kWarning = "Atenção!\r\nAntes de continuar com este processo, certifique-se de ter "
                       "uma cópia de segurança (backup) dos arquivos do sistema.";

struct ParseCase {
    QStringList args;
    bool unattended, acceptTerms;
    QString directory, plan;
    QString errorContains; // empty: accepted
    // The commands around an update's record; value: the record or the name they take.
    bool rollback = false, releaseHold = false, listUpdates = false;
    QString value = {};
};

TEST(CommandLine, ReadsEachOptionAndRefusesWhatCannotBeUsed) {
    const ParseCase cases[] = {
        {{}, false, false, {}, {}, {}},
        {{"--unattended"}, true, false, {}, {}, {}},
        {{"--unattended", "--accept-terms"}, true, true, {}, {}, {}},
        {{"--accept-terms", "--unattended", "--directory", "/m/a b"}, true, true, "/m/a b", {}, {}},
        {{"--plan", "krv.mdb"}, false, false, {}, "krv.mdb", {}},
        {{"--plan"}, false, false, {}, {}, "--plan precisa de um valor"},
        {{"--unattended", "--directory"}, true, false, {}, {}, "--directory precisa de um valor"},
        {{"--accept-terms"}, false, true, {}, {}, "só valem com --unattended"},
        {{"--directory", "/x"}, false, false, "/x", {}, "só valem com --unattended"},
        {{"--allow-data-change"}, false, false, {}, {}, "só valem com --unattended"},
        {{"--now"}, false, false, {}, {}, "só valem com --unattended"},
        {{"--unattended", "--plan", "f"}, true, false, {}, "f", "não podem ser usadas juntas"},
        {{"--unatended"}, false, false, {}, {}, "Opção desconhecida: --unatended"},
        {{"extra"}, false, false, {}, {}, "Opção desconhecida: extra"},
        // The commands around an update's record: --rollback alone takes --unattended, and none
        // mixes with another or with the options of an update.
        {{"--rollback"}, false, false, {}, {}, {}, true, false, false, {}},
        {{"--rollback", "20261208"}, false, false, {}, {}, {}, true, false, false, "20261208"},
        {{"--rollback", "--unattended"}, true, false, {}, {}, {}, true, false, false, {}},
        {{"--unattended", "--rollback", "r1"}, true, false, {}, {}, {}, true, false, false, "r1"},
        {{"--release-hold"}, false, false, {}, {}, {}, false, true, false, {}},
        {{"--release-hold", "krvsis"}, false, false, {}, {}, {}, false, true, false, "krvsis"},
        {{"--list-updates"}, false, false, {}, {}, {}, false, false, true, {}},
        {{"--list-updates", "--rollback"}, false, false, {}, {}, "não podem ser usadas juntas"},
        {{"--rollback", "--plan", "f"}, false, false, {}, {}, "não podem ser usadas juntas"},
        {{"--unattended", "--rollback", "--accept-terms"}, true, false, {}, {}, "juntas"},
        {{"--unattended", "--release-hold"}, true, false, {}, {}, "juntas"},
        {{"--list-updates", "x"}, false, false, {}, {}, "Opção desconhecida: x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const CommandLine got = parseCommandLine(c.args);
        if (!c.errorContains.isEmpty()) {
            EXPECT_TRUE(got.error.contains(c.errorContains)) << got.error.toStdString();
            continue;
        }
        EXPECT_EQ(got.error, QString());
        EXPECT_EQ(got.unattended, c.unattended);
        EXPECT_EQ(got.acceptTerms, c.acceptTerms);
        EXPECT_EQ(got.directory, c.directory);
        EXPECT_EQ(got.plan, c.plan);
        EXPECT_EQ(got.rollback, c.rollback);
        EXPECT_EQ(got.releaseHold, c.releaseHold);
        EXPECT_EQ(got.listUpdates, c.listUpdates);
        EXPECT_EQ(c.rollback ? got.rollbackRecord : got.holdName, c.value);
    }
}

// The exit status of an unattended run from how the run session ended, no window involved.
TEST(UnattendedOutcome, ReportedOutcomesAndProgramEndsGiveTheDocumentedStatuses) {
    using runs::Outcome;
    const struct {
        const char* name;
        std::optional<Outcome> reported;
        bool waiting; // reported as a stop where a person must act
        int endCode;
        int status;
    } cases[] = {
        {"updated", Outcome::Updated, false, 0, exitcode::updated},
        {"nothing to do", Outcome::NothingToDo, false, 0, exitcode::nothingToDo},
        {"login refused", Outcome::LoginRefused, true, 0, exitcode::loginRefused},
        {"failed", Outcome::Failed, false, 0, exitcode::failed},
        {"no update files", Outcome::Failed, true, 0, exitcode::failed},
        {"terms not accepted", Outcome::TermsRefused, false, 0, exitcode::termsNotAccepted},
        {"another run", Outcome::Locked, false, 0, exitcode::anotherRun},
        {"ended without a report", {}, false, 0, exitcode::failed},
        {"an end that says what went wrong", Outcome::Updated, false, 124, 124},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        UnattendedOutcome outcome;
        if (c.reported) {
            runs::RunEnd end;
            end.outcome = *c.reported;
            if (c.waiting)
                outcome.waitsForPerson(end);
            else
                outcome.ended(end);
        }
        EXPECT_EQ(outcome.status(c.endCode), c.status);
    }
}

TEST(CommandLineRun, HelpVersionAndBadOptionsEndAtOnceWithoutAWindow) {
    const QString version =
        QString("zelvor %1.%2.%3\n").arg(build::major).arg(build::minor).arg(build::revision);
    struct Case {
        QStringList args;
        int exitCode;
        QString output; // the whole output, or the start of it
    } cases[] = {
        {{"--version"}, 0, version},
        {{"--help"}, 0, helpText()},
        {{"--plan"}, 1, "A opção --plan precisa de um valor.\nUse zelvor --help"},
        {{"--bogus"}, 1, "Opção desconhecida: --bogus\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        RunOptions o;
        o.arguments = c.args;
        o.timeoutSeconds = 20;
        const RunResult r = runProgram(zelvorBinary(), o);
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_TRUE(r.output.startsWith(c.output)) << r.output.toStdString();
        // The hook never started: no warning box, no window.
        EXPECT_TRUE(r.transcript.isEmpty()) << r.transcriptText().toStdString();
    }
}

// A real assistant that holds its suite's lock: it sits at the start window until killed.
class Holder {
public:
    explicit Holder(const SuiteInstall& suite) {
        QFile s(dir_.filePath("script.txt"));
        s.open(QIODevice::WriteOnly);
        s.write("wait 100000\n");
        s.close();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("ZELVOR_TEST_SCRIPT", dir_.filePath("script.txt"));
        env.insert("ZELVOR_TEST_TRANSCRIPT", transcript());
        env.insert("ZELVOR_TEST_TIMEOUT", "120");
        env.insert("XDG_CONFIG_HOME", suite.configHome());
        p_.setProcessEnvironment(env);
        p_.start(zelvorBinary(), {});
        p_.waitForStarted(10000);
    }
    ~Holder() {
        p_.kill();
        p_.waitForFinished(5000);
    }
    QString transcript() const { return dir_.filePath("transcript.txt"); }
    // True once the start window is up, that is, once the lock is taken.
    bool waitUntilShown() {
        QDeadlineTimer deadline(60000);
        while (!deadline.hasExpired() && p_.state() == QProcess::Running) {
            QFile t(transcript());
            if (t.open(QIODevice::ReadOnly) && t.readAll().contains("show\tfrmSel"))
                return true;
            QThread::msleep(50);
        }
        return false;
    }
    void kill() {
        p_.kill();
        p_.waitForFinished(5000);
    }

private:
    QTemporaryDir dir_;
    QProcess p_;
};

TEST(OneRunAtATime, ASecondAssistantOnTheSuiteSaysSoAndEndsAndAKilledHolderFreesTheSuite) {
    SuiteInstall suite;
    ASSERT_TRUE(suite.db().ok());
    suite.setSetting("atuser", "ana"); // the unattended assistant gets as far as the lock
    Holder holder(suite);
    ASSERT_TRUE(holder.waitUntilShown());

    const QString busy = frmSel::anotherRunText(suite.folder());
    struct Case {
        QStringList args;
        int exitCode;
    } cases[] = {{{}, 0}, {{"--unattended"}, 5}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        RunOptions o = suite.options("close frmSel\n", 20);
        o.arguments = c.args;
        const RunResult second = runProgram(zelvorBinary(), o);
        EXPECT_FALSE(second.timedOut);
        EXPECT_EQ(second.exitCode, c.exitCode);
        const QString text = second.messages().value(1);
        EXPECT_EQ(text, busy) << second.transcriptText().toStdString();
        EXPECT_TRUE(second.of("show").isEmpty()) << second.transcriptText().toStdString();
    }

    // The kernel drops a dead holder's lock: the next assistant starts as usual.
    holder.kill();
    const RunResult next = suite.runZelvor("close frmSel\n", 20);
    EXPECT_EQ(next.messages(), QStringList({kWarning})) << next.transcriptText().toStdString();
    ASSERT_FALSE(next.of("show").isEmpty());
    EXPECT_EQ(next.of("show").first().fields.value(0), "frmSel");
}

} // namespace
