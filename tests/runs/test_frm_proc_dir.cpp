// The directory update run: its decisions in-process, and whole runs of the real zelvor
// from the start window's "Diretório" button against a throwaway suite.
#include "common/updatekrv.h"
#include "end_to_end.h"
#include "make_zip.h"
#include "platform/forms.h"
#include "platform/program.h"
#include "release_signer.h"
#include "runs/dir_run.h"
#include "runs/frm_atual_krv.h"
#include "runs/frm_proc_dir.h"
#include "runs/run_session.h"
#include "session_recorder.h"
#include "update_file_builder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

using namespace krv;
using namespace krv::test;

namespace {

const char* kWarning = "Atenção!\r\nAntes de continuar com este processo, certifique-se de ter "
                       "uma cópia de segurança (backup) dos arquivos do sistema.";

void touch(const QString& path) {
    writeFile(path, {});
}

} // namespace

TEST(DirectoryRunModules, FirstOrdinaryFileByNameMatchingTheMask) {
    QTemporaryDir d;
    const QString p = d.path();
    EXPECT_TRUE(runs::firstMatch(p, "\\krvsis*.zip").isEmpty());
    touch(p + "/.krvsis0.zip");
    QDir().mkpath(p + "/krvsis00.zip");
    touch(p + "/KRVSIS9.ZIP");
    touch(p + "/krvsis132.zip");
    touch(p + "/krvsis131.zip");
    touch(p + "/mkrvsis1.zip");
    EXPECT_EQ(runs::firstMatch(p, "\\krvsis*.zip"), "krvsis131.zip");
    EXPECT_TRUE(runs::firstMatch(p, "\\mcaixa*.zip").isEmpty());

    ASSERT_EQ(runs::kModuleArchives.size(), 8u);
    EXPECT_STREQ(runs::kModuleArchives[0].mask, "\\krvsis*.zip");
    EXPECT_STREQ(runs::kModuleArchives[6].status, "Atualizando Quotel Adm.");
}

TEST(DirectoryRunDatabaseCheck, InstalledVersionIsPaddedToSixDigitsThenComparedAsText) {
    const auto due = [](const QString& versaoBD, const QVariant& installed) {
        return runs::isDue(runs::WorkItem::Kind::Database,
                           runs::InstalledVersions{installed, {}}.databaseIfRead(), versaoBD);
    };
    EXPECT_FALSE(due("000132", QVariant("132")));
    EXPECT_TRUE(due("132", QVariant("132")));
    EXPECT_FALSE(due("000131", QVariant("000131")));
    EXPECT_FALSE(due("000131", QVariant(131)));
    EXPECT_FALSE(due("1234567", QVariant("1234567")));
    EXPECT_TRUE(due("000132", QVariant("000131")));
    // Unreadable or null: the update is attempted, even one without a code of its own.
    EXPECT_TRUE(due("000131", QVariant()));
    EXPECT_TRUE(due("", QVariant()));
    EXPECT_EQ(runs::formatInstalledVersion(QVariant("abc")), "abc");
}

TEST(DirectoryRunWindow, HiddenTextBoxAndCaption) {
    runs::frmProcDir w;
    EXPECT_EQ(w.windowTitle(), "Assistente de atualização Norvale - Processamento");
    EXPECT_EQ(w.txtZip->objectName(), "txtZip");
    EXPECT_EQ(w.txtZip->text(), "Esta TextBox é usado internamente pelo AddZip, podendo fica "
                                "escondida do usuário.");
    EXPECT_TRUE(w.txtZip->isHidden());
    EXPECT_TRUE(w.tag().isEmpty());
}

TEST(DirectoryRunWindow, TheDatabaseWindowIsHandedOverWithItsOwnWindowFlags) {
    ScratchDatabase reference;
    ASSERT_TRUE(reference.ok());
    QTemporaryDir suite, medium;
    tools::BuildOptions o;
    o.codAtu = "000132";
    tools::buildUpdateFile(medium.path() + "/krv.mdb", reference.db(), o);
    runs::session().reset();
    updatekrv::DirSis = suite.path();
    runs::session().values.DirOrigem = medium.path();
    const Qt::WindowFlags own = runs::frmAtualKRV().windowFlags();
    runs::frmProcDir w;
    // Without a connection the installed version cannot be read, so the update is due.
    platform::setEndHandler([](int code) { throw platform::ProgramEnded{code}; });
    EXPECT_NO_THROW(w.Processa());
    platform::setEndHandler({});
    runs::frmAtualKRV& next = platform::form<runs::frmAtualKRV>();
    EXPECT_EQ(next.parentWidget(), &w);
    EXPECT_EQ(next.windowFlags(), own);
    EXPECT_FALSE(next.windowFlags() &
                 (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    delete &next;
    runs::session().reset();
}

class DirectoryRun : public EndToEnd {
protected:
    explicit DirectoryRun(const QString& installed = "000131") : EndToEnd(installed) {}

    void SetUp() override {
        EndToEnd::SetUp();
        src = source.path();
    }
    // The run of the source folder through the windows; with pausePoint it is killed there.
    RunResult run(const char* pausePoint = nullptr) { return runDirectory(src, pausePoint); }
    void updateFile(const QString& codAtu, const QString& name = "krv.mdb") {
        tools::BuildOptions o;
        o.codAtu = codAtu;
        tools::buildUpdateFile(src + "/" + name, reference.db(), o);
    }
    QStringList temporaries() const {
        return QDir(suite.folder()).entryList({".krv-extract-*"}, QDir::AllEntries | QDir::Hidden);
    }
    QStringList statusesOf(const RunResult& r) const {
        QStringList out;
        for (const auto& l : r.of("status"))
            if (l.fields.value(0) == "frmProcDir")
                out << l.fields.value(1);
        return out;
    }

    ScratchDatabase reference;
    QTemporaryDir source;
    QString src;
};

TEST_F(DirectoryRun, ArchivesOfSeveralModulesAreUnpackedFirstMatchOnly) {
    writeFile(suite.folder() + "/krvsis.exe", "old main");
    makeZip(src + "/krvsis131.zip", {{"bin/krvsis.exe", "new main"}, {"krvsis.cfg", "cfg"}});
    makeZip(src + "/krvsis132.zip", {{"krvsis.exe", "second match"}});
    makeZip(src + "/zapo7.zip", {{"zapo.exe", "zapo"}});
    makeZip(src + "/mcaixa2.zip", {{"caixa/mcaixa.exe", "caixa"}});
    const RunResult r = run();
    const QString t = r.transcriptText();
    EXPECT_EQ(r.exitCode, 0) << t.toStdString();
    EXPECT_EQ(statusesOf(r),
              QStringList({"Atualizando Principal", "Atualizando Caixa", "Atualizando Zapo"}))
        << t.toStdString();
    EXPECT_EQ(r.messages(), QStringList({kWarning, "Atualização concluída com sucesso!"}));
    EXPECT_EQ(readFile(suite.folder() + "/krvsis.exe"), "new main");
    EXPECT_EQ(readFile(suite.folder() + "/krvsis.cfg"), "cfg");
    EXPECT_EQ(readFile(suite.folder() + "/mcaixa.exe"), "caixa");
    EXPECT_EQ(readFile(suite.folder() + "/zapo.exe"), "zapo");
    EXPECT_FALSE(QFileInfo::exists(suite.updateFolder()));
    // The chooser and the start window are gone before the run window shows.
    QStringList shown;
    for (const auto& l : r.of("show"))
        shown << l.fields.value(0);
    EXPECT_EQ(shown, QStringList({"frmSel", "frmDir", "frmProcDir"}));
}

// The same directory run as the session alone, in this process: no window, every report told
// to the observer; a folder without update files stops where a person must act.
TEST_F(DirectoryRun, TheSessionAppliesAFolderWithoutAWindow) {
    writeFile(suite.folder() + "/krvsis.exe", "old main");
    makeZip(src + "/krvsis131.zip", {{"bin/krvsis.exe", "new main"}});
    makeZip(src + "/mcaixa2.zip", {{"caixa/mcaixa.exe", "caixa"}});
    QTemporaryDir empty;
    struct Case {
        const char* name;
        QString folder;
        bool chosen;
        runs::Outcome outcome;
        QStringList statuses, messages;
    } cases[] = {
        {"two modules",
         src,
         true,
         runs::Outcome::Updated,
         {"frmProcDir: Atualizando Principal", "frmProcDir: Atualizando Caixa"},
         {"Aviso!: Atualização concluída com sucesso!"}},
        {"no update files",
         empty.path(),
         false,
         runs::Outcome::Failed,
         {},
         {"Aviso!: Arquivos de atualização não encontrados no diretório informado!"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        runs::RunSession& run = runs::session();
        run.reset();
        updatekrv::DirSis = suite.folder();
        SessionRecorder seen;
        run.observe(&seen);
        const bool chosen = run.chooseFolder(c.folder) == runs::StepResult::ApplyFolder;
        EXPECT_EQ(chosen, c.chosen);
        if (chosen) {
            // ended: nothing for the database
            EXPECT_EQ(run.applyFolder(), runs::StepResult::Ended);
        }
        run.observe(nullptr);
        ASSERT_TRUE(seen.end.has_value());
        EXPECT_EQ(seen.end->outcome, c.outcome);
        EXPECT_EQ(seen.waiting, !c.chosen);
        EXPECT_EQ(seen.statuses, c.statuses);
        EXPECT_EQ(seen.messages, c.messages);
        EXPECT_EQ(run.work.files().size(), c.chosen ? 2 : 0);
    }
    EXPECT_EQ(readFile(suite.folder() + "/krvsis.exe"), "new main");
    EXPECT_EQ(readFile(suite.folder() + "/mcaixa.exe"), "caixa");
    runs::session().reset();
}

TEST_F(DirectoryRun, NothingFoundEndsWithNothingDone) {
    makeZip(src + "/outro1.zip", {{"outro.exe", "x"}});
    const RunResult r = run();
    EXPECT_EQ(r.messages(), QStringList({kWarning, "Nenhuma atualização realizada!"}))
        << r.transcriptText().toStdString();
    EXPECT_TRUE(statusesOf(r).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(suite.folder() + "/outro.exe"));
    EXPECT_EQ(r.exitCode, 0);
}

TEST_F(DirectoryRun, UpdateFileWithoutNumeroRowIsInvalid) {
    makeZip(src + "/mresid4.zip", {{"mresid.exe", "resid"}});
    updateFile("");
    const RunResult r = run();
    EXPECT_EQ(r.messages(), QStringList({kWarning, "Arquivo <krv.mdb> inválido!"}))
        << r.transcriptText().toStdString();
    EXPECT_EQ(r.of("msgbox").last().fields.value(0), "Aviso!");
    // A release whose update file is refused changes no file.
    EXPECT_FALSE(QFileInfo::exists(suite.folder() + "/mresid.exe"));
    EXPECT_FALSE(QFileInfo::exists(suite.updateFolder()));
    EXPECT_EQ(r.exitCode, 0);
}

TEST_F(DirectoryRun, DamagedArchiveIsAFatalErrorNotASuccess) {
    writeFile(src + "/mpagvl3.zip", "this is not a zip archive");
    const RunResult r = run();
    const QStringList m = r.messages();
    ASSERT_EQ(m.size(), 2) << r.transcriptText().toStdString();
    EXPECT_EQ(r.of("msgbox").last().fields.value(0), "Erro inesperado no sistema");
    EXPECT_TRUE(m[1].contains("Rotina: Processa"));
    EXPECT_TRUE(m[1].contains(src + "/mpagvl3.zip")) << m[1].toStdString();
    EXPECT_TRUE(m[1].contains("35760"));
    EXPECT_EQ(r.exitCode, 1);
}

// A run killed while it unpacks, then run again: the second run clears what the first left
// and applies every member, and marks the first one's record interrupted.
class DirectoryRunKilled : public DirectoryRun,
                           public ::testing::WithParamInterface<const char*> {};

TEST_P(DirectoryRunKilled, RerunLeavesNoTemporaryAndEveryMemberNew) {
    writeFile(suite.folder() + "/krvsis.exe", "old main");
    writeFile(suite.folder() + "/krvsis.cfg", "old cfg");
    writeFile(suite.folder() + "/mcaixa.exe", "old caixa");
    makeZip(src + "/krvsis131.zip", {{"krvsis.exe", "new main"}, {"krvsis.cfg", "new cfg"}});
    makeZip(src + "/mcaixa2.zip", {{"mcaixa.exe", "new caixa"}});
    const RunResult killed = run(GetParam());
    ASSERT_TRUE(killed.killed) << killed.transcriptText().toStdString();
    EXPECT_FALSE(temporaries().isEmpty());
    EXPECT_EQ(readFile(suite.folder() + "/mcaixa.exe"), "old caixa");
    // The killed run's record: under way, past the medium's files, each hashed.
    const QDir records(suite.folder() + "/atualizacoes");
    const QStringList names = records.entryList({"*.json"}, QDir::Files);
    ASSERT_EQ(names.size(), 1);
    const auto record = [&] {
        return QJsonDocument::fromJson(readFile(records.filePath(names.first()))).object();
    };
    QJsonObject cut = record();
    EXPECT_EQ(cut["outcome"], "running");
    EXPECT_EQ(cut["reached"], "files");
    EXPECT_GT(cut["pid"].toInteger(), 0);
    EXPECT_TRUE(cut["exit_code"].isNull());
    const QJsonArray files = cut["files"].toArray();
    ASSERT_EQ(files.size(), 2);
    for (const QJsonValue f : files) {
        const QByteArray bytes = readFile(src + "/" + f["name"].toString());
        EXPECT_EQ(f["size"].toInteger(), bytes.size());
        EXPECT_EQ(f["sha256"].toString(),
                  QString::fromLatin1(
                      QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex()));
        EXPECT_TRUE(f["download_ms"].isNull()); // found, not downloaded
        EXPECT_EQ(f["signature_verified"], false);
    }
    EXPECT_FALSE(QFileInfo::exists(records.filePath("atualizacoes.log")));

    const RunResult r = run();
    EXPECT_EQ(r.messages(), QStringList({kWarning, "Atualização concluída com sucesso!"}))
        << r.transcriptText().toStdString();
    EXPECT_TRUE(temporaries().isEmpty()) << temporaries().join(' ').toStdString();
    EXPECT_EQ(readFile(suite.folder() + "/krvsis.exe"), "new main");
    EXPECT_EQ(readFile(suite.folder() + "/krvsis.cfg"), "new cfg");
    EXPECT_EQ(readFile(suite.folder() + "/mcaixa.exe"), "new caixa");
    cut["outcome"] = "interrupted";
    EXPECT_EQ(record(), cut);
    const QStringList log = QString::fromUtf8(readFile(records.filePath("atualizacoes.log")))
                                .split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(log.size(), 2);
    EXPECT_EQ(log[0].split('\t').mid(2, 2), QStringList({"interrupted", "files"}));
    EXPECT_EQ(log[1].split('\t').mid(2, 2), QStringList({"updated", "end"}));
}

INSTANTIATE_TEST_SUITE_P(Extraction, DirectoryRunKilled,
                         ::testing::Values("extract-staged", "extract-renaming"),
                         [](const auto& info) {
                             return QString(info.param).remove('-').toStdString();
                         });

class DirectoryRunInstalled132 : public DirectoryRun {
protected:
    DirectoryRunInstalled132() : DirectoryRun("132") {}
};

TEST_F(DirectoryRunInstalled132, PaddedEqualVersionIsNotDue) {
    updateFile("000132");
    const RunResult r = run();
    EXPECT_EQ(r.messages(), QStringList({kWarning, "Nenhuma atualização realizada!"}))
        << r.transcriptText().toStdString();
    EXPECT_FALSE(statusesOf(r).contains("Atualizando Banco de Dados"));
    EXPECT_FALSE(QFileInfo::exists(suite.updateFolder()));
    EXPECT_EQ(suite.db().scalar("select ult_atualizacao from licensa"), "132");
}

TEST_F(DirectoryRunInstalled132, UnpaddedVersionIsDueAndHandsOverAfterTheArchives) {
    reference.exec("create table clientes (id int, nome varchar(40))");
    makeZip(src + "/mvitr1.zip", {{"mvitr.exe", "vitrax"}});
    updateFile("132");
    const RunResult r = run();
    const QString t = r.transcriptText();
    EXPECT_EQ(statusesOf(r), QStringList({"Atualizando Vitrax", "Atualizando Banco de Dados"}))
        << t.toStdString();
    QStringList shown;
    for (const auto& l : r.of("show"))
        shown << l.fields.value(0);
    EXPECT_EQ(shown.mid(2), QStringList({"frmProcDir", "frmAtualKRV"})) << t.toStdString();
    // The summary comes from the run end, which removes the update folder.
    EXPECT_EQ(r.messages().last(), "Atualização concluída com sucesso!") << t.toStdString();
    EXPECT_EQ(readFile(suite.folder() + "/mvitr.exe"), "vitrax");
    EXPECT_FALSE(QFileInfo::exists(suite.updateFolder()));
    EXPECT_EQ(suite.db().scalar("select ult_atualizacao from licensa"), "132");
    EXPECT_EQ(suite.db().column("show tables like 'clientes'"), QStringList({"clientes"}));
    EXPECT_EQ(r.exitCode, 0);
}

TEST_F(DirectoryRunInstalled132, MediumWithUpperCaseNamesIsFoundAndApplied) {
    reference.exec("create table clientes (id int, nome varchar(40))");
    makeZip(src + "/KRVSIS0131.ZIP", {{"krvsis.exe", "new main"}});
    updateFile("132", "KRV.MDB");
    const RunResult r = run();
    const QString t = r.transcriptText();
    EXPECT_EQ(statusesOf(r), QStringList({"Atualizando Principal", "Atualizando Banco de Dados"}))
        << t.toStdString();
    EXPECT_EQ(r.messages().last(), "Atualização concluída com sucesso!") << t.toStdString();
    EXPECT_EQ(readFile(suite.folder() + "/krvsis.exe"), "new main");
    EXPECT_EQ(suite.db().scalar("select ult_atualizacao from licensa"), "132");
    EXPECT_EQ(suite.db().column("show tables like 'clientes'"), QStringList({"clientes"}));
}

TEST_F(DirectoryRun, UnattendedFromAFolderNeedsNoLoginAndEndsWithAStatus) {
    struct Case {
        const char* name;
        QString folder; // empty: the source folder
        bool archive;
        int exitCode;
        QString lastBox;
    } cases[] = {
        {"archive found", {}, true, 0, "Atualização concluída com sucesso!"},
        {"nothing found",
         {},
         false,
         1,
         "Arquivos de atualização não encontrados no diretório informado!"},
        {"no such folder", "/nao/existe", false, 1, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(src + "/krvsis131.zip");
        writeFile(suite.folder() + "/krvsis.exe", "old main");
        if (c.archive)
            makeZip(src + "/krvsis131.zip", {{"krvsis.exe", "new main"}});
        const RunResult r = EndToEnd::run(
            {}, nullptr, {"--unattended", "--directory", c.folder.isEmpty() ? src : c.folder});
        EXPECT_FALSE(r.timedOut) << r.transcriptText().toStdString();
        EXPECT_EQ(r.exitCode, c.exitCode) << r.transcriptText().toStdString();
        EXPECT_TRUE(r.of("show").isEmpty()) << r.transcriptText().toStdString(); // no window
        EXPECT_EQ(readFile(suite.folder() + "/krvsis.exe"), c.archive ? "new main" : "old main");
        if (!c.lastBox.isEmpty()) {
            EXPECT_TRUE(r.output.contains("\tAviso!\t" + c.lastBox + "\n"))
                << r.output.toStdString();
        }
    }
}

// A column change that would cut stored values, unattended: refused with nothing changed, or
// taken with --allow-data-change after the old values went into a copy the record names.
TEST_F(DirectoryRunInstalled132, UnattendedChangeOfStoredValuesNeedsToBeAllowed) {
    suite.db().exec({"create table clientes (id int primary key, nome varchar(40))",
                     "insert into clientes values (1, 'Bartolomeu Dias'), (2, 'Ana')"});
    reference.exec("create table clientes (id int primary key, nome varchar(10))");
    struct Case {
        QStringList extra;
        int exitCode;
        QString nome, version, says;
    } cases[] = {
        {{}, 1, "Bartolomeu Dias", "132", "mudaria ou perderia 1 valor(es)"},
        {{"--allow-data-change"}, 0, "Bartolomeu", "133", "Atualização concluída com sucesso!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.extra.join(' ').toStdString());
        QFile::remove(src + "/krv.mdb");
        updateFile("133");
        const RunResult r =
            EndToEnd::run({}, nullptr, QStringList{"--unattended", "--directory", src} + c.extra);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.output.toStdString();
        EXPECT_TRUE(r.output.contains(c.says)) << r.output.toStdString();
        EXPECT_EQ(suite.db().scalar("select nome from clientes where id = 1"), c.nome);
        EXPECT_EQ(suite.db().scalar("select ult_atualizacao from licensa"), c.version);
    }
    const QDir records(suite.folder() + "/atualizacoes");
    const QStringList copies = records.entryList({"dados-*.csv"}, QDir::Files);
    ASSERT_EQ(copies.size(), 1);
    EXPECT_EQ(readFile(records.filePath(copies[0])), "id,nome\r\n1,Bartolomeu Dias\r\n");
    const QJsonObject rec =
        QJsonDocument::fromJson(
            readFile(records.filePath(records.entryList({"*.json"}, QDir::Files).last())))
            .object();
    const QJsonArray data = rec["database"]["data_copies"].toArray();
    ASSERT_EQ(data.size(), 1);
    EXPECT_EQ(data[0]["file"].toString(), copies[0]);
    EXPECT_EQ(data[0]["rows"].toInt(), 1);

    // A key the reference adds over an order without its client: taken knowingly, the key is
    // left out and the record names it.
    suite.db().exec({"create table pedidos (id int primary key, cliente int, key (cliente))",
                     "insert into pedidos values (7, 1), (8, 3)"});
    reference.exec("create table pedidos (id int primary key, cliente int, key (cliente), "
                   "constraint fk_cliente foreign key (cliente) references clientes (id))");
    QFile::remove(src + "/krv.mdb");
    updateFile("134");
    const RunResult r = EndToEnd::run(
        {}, nullptr, QStringList{"--unattended", "--directory", src, "--allow-data-change"});
    EXPECT_EQ(r.exitCode, 0) << r.output.toStdString();
    const QJsonObject last =
        QJsonDocument::fromJson(
            readFile(records.filePath(records.entryList({"*.json"}, QDir::Files).last())))
            .object();
    const QJsonArray keys = last["foreign_keys_left_out"].toArray();
    ASSERT_EQ(keys.size(), 1) << QJsonDocument(last).toJson().toStdString();
    EXPECT_TRUE(keys[0]["key"].toString().contains("fk_cliente"));
}

// A medium for an installation that holds the maker's key: its signed manifest must list
// every file it offers, as it is (names compared with case ignored, as for the files). A
// refused medium leaves the suite as it was and the medium untouched.
TEST_F(DirectoryRunInstalled132, SignedMediumAppliesAndARefusedOneChangesNothing) {
    reference.exec("create table clientes (id int, nome varchar(40))");
    const ReleaseSigner maker, stranger;
    // The program folder holds the key: zelvor runs from the suite's folder.
    const QString zelvor = suite.folder() + "/zelvor";
    ASSERT_TRUE(QFile::copy(zelvorBinary(), zelvor));
    QFile::setPermissions(zelvor, QFile::permissions(zelvorBinary()));
    writeFile(suite.folder() + "/zelvor.pub", maker.publicLine());
    const QString archive = src + "/KRVSIS0131.ZIP", mdb = src + "/KRV.MDB";
    struct Case {
        const char* name;
        std::function<void()> spoil; // after the release was published
        QString refused;             // empty: the medium applies
    };
    const QList<Case> cases = {
        {"update file altered after the release", [&] { writeFile(mdb, readFile(mdb) + "x"); },
         "KRV.MDB"},
        {"a medium without a manifest",
         [&] {
             QFile::remove(src + "/manifesto.json");
             QFile::remove(src + "/manifesto.json.sig");
         },
         "manifesto.json"},
        {"a manifest another key signed", [&] { ASSERT_TRUE(stranger.release(src, 4)); },
         "assinatura"},
        {"an archive the manifest lacks",
         [&] {
             makeZip(src + "/MRESID0131.ZIP", {{"mresid.exe", "resida"}});
         },
         "MRESID0131.ZIP"},
        {"an older update file, signed",
         [&] {
             QFile::remove(mdb);
             updateFile("131", "KRV.MDB");
             ASSERT_TRUE(maker.release(src, 4));
         },
         "mais antiga"},
        {"a serial lower than the last applied",
         [&] { writeFile(suite.folder() + "/atualizacoes/manifesto.serial", "7\n"); },
         "número de série 4"},
        {"signed medium, file names in other case", [] {}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(src).removeRecursively();
        QDir().mkpath(src);
        QFile::remove(suite.folder() + "/atualizacoes/manifesto.serial");
        writeFile(suite.folder() + "/krvsis.exe", "old main");
        makeZip(archive, {{"krvsis.exe", "new main"}});
        updateFile("133", "KRV.MDB");
        ASSERT_TRUE(maker.release(src, 4));
        c.spoil();
        const QByteArray archiveBytes = readFile(archive), mdbBytes = readFile(mdb);
        RunOptions o = suite.options(
            "click frmSel.SSCommand2\ntype frmDir.txtDir " + src + "\nclick frmDir.cmdOK\n", 60);
        const RunResult r = runProgram(zelvor, o);
        const std::string t = r.transcriptText().toStdString();
        ASSERT_FALSE(r.messages().isEmpty()) << t;
        if (c.refused.isEmpty()) {
            EXPECT_EQ(r.messages().last(), "Atualização concluída com sucesso!") << t;
            EXPECT_EQ(readFile(suite.folder() + "/krvsis.exe"), "new main");
            EXPECT_EQ(suite.db().scalar("select ult_atualizacao from licensa"), "133");
            EXPECT_EQ(r.exitCode, 0) << t;
            // The record: each medium file checked, the manifest listed beside them.
            const QDir records(suite.folder() + "/atualizacoes");
            const QJsonObject rec =
                QJsonDocument::fromJson(
                    readFile(records.filePath(records.entryList({"*.json"}, QDir::Files).last())))
                    .object();
            QMap<QString, QJsonValue> verified;
            for (const QJsonValue f : rec["files"].toArray())
                verified[f["name"].toString()] = f["signature_verified"];
            EXPECT_EQ(verified, (QMap<QString, QJsonValue>{{"KRVSIS0131.ZIP", true},
                                                           {"KRV.MDB", true},
                                                           {"manifesto.json", true},
                                                           {"manifesto.json.sig", QJsonValue()}}))
                << t;
            EXPECT_EQ(rec["manifest"]["serial"].toInteger(), 4);
            continue;
        }
        EXPECT_EQ(r.exitCode, 1) << t;
        EXPECT_TRUE(r.messages().last().contains(c.refused)) << t;
        EXPECT_TRUE(r.messages().last().contains("recusada")) << t;
        EXPECT_EQ(readFile(suite.folder() + "/krvsis.exe"), "old main");
        EXPECT_EQ(suite.db().scalar("select ult_atualizacao from licensa"), "132");
        EXPECT_TRUE(suite.db().column("show tables like 'clientes'").isEmpty());
        EXPECT_EQ(readFile(archive), archiveBytes); // the medium is never touched
        EXPECT_EQ(readFile(mdb), mdbBytes);
    }
}
