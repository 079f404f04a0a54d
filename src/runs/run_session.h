#pragma once
// The run session: one plain object (no widgets) that owns an update run: its work list, its
// run values, its steps and how it ended. It tells its observer (runs/run_outcome.h) every
// status text, message, progress and its end; the windows observe it and show what they are
// told, and `--unattended` drives it directly.
//
//   Internet:  start -> logIn -> check -> (terms) -> fetch -> [updateDatabase] -> [reloadMenu]
//              -> finish;  check -> replaceAssistant -> (hand-over to Movrin)
//   directory: start -> chooseFolder -> applyFolder -> [updateDatabase] -> finish
//
// Every step returns the step that follows (runs/step_result.h). A step that ends the run
// tells the observer `ended` (a window observer ends the program there) and returns Ended; a
// step that stops where a person must act tells `waitsForPerson` and returns WaitsForPerson.
#include "database/safe_update.h"
#include "platform/krv_error.h"
#include "runs/fetch_item.h"
#include "runs/installed_versions.h"
#include "runs/placement.h"
#include "runs/release_check.h"
#include "runs/run_outcome.h"
#include "runs/step_result.h"
#include "runs/update_record.h"
#include "runs/version_check.h"
#include "runs/work_list.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace krv::protocol {
class Inet;
}

namespace krv::runs {

// The values of one run. (The suite's folders DirSis and DirSisExe stay in
// common/updatekrv.h: the database floor opens the suite's database from them.)
struct RunValues {
    bool Atualizou = false; // the run has applied something
    QString UsuarioAtual;   // user logged in to the update server
    QString Porta;          // port of the update server, from port.cfg
    QString VersaoBD;       // database version the update brings
    QString VersaoMenu;     // menu version the update brings
    QString DirOrigem;      // source folder of a directory run
};

class RunSession {
public:
    RunValues values;
    WorkList work;
    QList<HistorySection> history;     // what the due work changes, for the terms
    std::optional<WorkItem> assistant; // a newer assistant the server offers
    InstalledVersions installed;       // as the version check or the directory run read them
    UpdateRecord record;               // what the run did, written as it goes and at its end
    ReleaseCheck releaseCheck{record}; // the release checked against its signed manifest

    // Whoever observes the run; not owned. Without one the run tells nobody and every
    // question gets its default answer.
    void observe(SessionObserver* observer) { observer_ = observer; }
    SessionObserver* observer() const { return observer_; }

    // How the files of the update are fetched: without a window unless the window that
    // shows the step sets one (WindowFetching).
    Fetcher fetchFile;
    // Nobody watches the run (--unattended).
    bool unattended = false;
    // --now: a release being rolled out in stages is taken outside this installation's stage.
    bool now = false;
    // A change that alters stored values: asked with somebody at the screen; unattended runs
    // refuse it, or allow it with --allow-data-change.
    database::DataChangePolicy dataChange = database::DataChangePolicy::Ask;

    // Back to a fresh start (tests run several runs in one process).
    void reset();

    // ---- the steps
    // The backup warning, the suite's folders and database, the run lock, the update record.
    StepResult start();
    // Reads port.cfg into Porta.
    void readPort();
    // Logs user in through inet (its port from Porta); remember stores the login.
    StepResult logIn(protocol::Inet& inet, const QString& user, const QString& password,
                     bool remember);
    // Why the last login could not reach the server securely; empty when it could.
    QString tlsFailure;

    // The version list: the work list, the history of the due work, or a newer assistant.
    StepResult check(const protocol::Inet& inet);
    // The terms were not accepted: the run ends with nothing changed.
    StepResult refuseTerms();
    // Fetches and checks the newer assistant's archive the check found, and keeps the one it
    // replaces; HandOver when Movrin may take over (navigation's hand-over).
    StepResult replaceAssistant();

    // Fetches, checks and logs every file of the work list; unpacks the archives unless the
    // database update is due, which places them once its proof has passed.
    StepResult fetch();
    // The database update from the update folder's krv.mdb.
    StepResult updateDatabase();
    // The menu reload from the update folder's mnusis_cs.krv.
    StepResult reloadMenu();
    // The end of every run: the update folder removed, the outcome told. "Removendo
    // temporários" is told as a status of the window of the step before (none after the menu
    // reload, whose window has no status line), or of statusWindow (none when empty).
    StepResult finish();
    StepResult finish(const QString& statusWindow);

    // The folder of a directory run; WaitsForPerson when it holds no update files.
    StepResult chooseFolder(const QString& folder);
    // Unpacks the folder's archives and brings its update file into the update folder.
    StepResult applyFolder();

    // ---- reports
    void status(const QString& window, const QString& text);
    platform::Answer message(const Message& message);
    void progress(const Progress& progress);
    void line(const QString& text);
    void end(const RunEnd& end);
    void waitForPerson(const RunEnd& end);
    // The run fails with the fatal error report of caller ("Programa: ...\r\nRotina: ...").
    void fail(const QString& caller, const KrvError& error);
    // The run fails on error, reported as report says (runs/run_end.h); the update folder
    // keeps only the parts of downloads a later run resumes.
    void failWith(const std::exception& error, RunEnd::Report report, const QString& caller = {},
                  int number = 0);
    // The update stopped at the user's request (a download cancelled).
    void stopped();
    // The text of the last message told (the update record keeps it).
    const QString& lastMessage() const { return lastMessage_; }
    // How the run ended; nothing while it goes on.
    const std::optional<RunEnd>& ended() const { return ended_; }

private:
    SessionObserver* observer_ = nullptr;
    QString stepWindow_; // the window that shows the last step's status texts
    QString lastMessage_;
    bool ownsUpdateFolder_ = true; // false while another run may hold the suite
    std::optional<RunEnd> ended_;
    Placement placement_; // the run's module archives, placed as one
};

// The run session of this process.
RunSession& session();

// The start of the message shown when the login could not reach the server securely; the
// cause follows.
inline const QString kNoSecureConnection =
    "Não foi possível conectar com segurança ao servidor de atualização: ";

// Set for the assistant an unattended self-update started: the version it was replaced with.
inline const char* const kReplacedWith = "ZELVOR_REPLACED_WITH";

// What a second assistant on the same suite says before it ends.
QString anotherRunText(const QString& folder);

// The first line of port.cfg in the program folder; nothing when it cannot be read.
std::optional<QString> readPortFile();

// Sends the login request through inet; true when the answer is a well-formed XML document.
// tlsFailure: why the server could not be reached securely, empty when it could.
bool requestLogin(const protocol::Inet& inet, const QString& user, const QString& password,
                  QString& tlsFailure);

// The version list could not be read: the run ends with nothing changed (what: "a lista de
// versões").
void serverUnreadable(RunSession& session, const QString& what, const QString& reason);

} // namespace krv::runs
