// Undoing an update: what a run keeps before it replaces anything, the holds, the menu's rows
// copy, and end to end the real zelvor updating from the reference update server, then
// rolling back, refusing, resuming, and holding the undone versions.
#include "common/release_manifest.h"
#include "common/text.h"
#include "database/connection.h"
#include "database/menu_backup.h"
#include "make_zip.h"
#include "runs/holds.h"
#include "runs/kept_files.h"
#include "served_folder.h"
#include "suite_install.h"
#include "test_db.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace krv;
using namespace krv::test;

namespace {

const char* kMenuTable =
    "create table menu (Sistema varchar(50), sequencia varchar(3), Menu varchar(30), "
    "NomeInter varchar(20), Nivel int, NivelAnterior varchar(50), Programa int)";

QStringList menuRows(const ScratchDatabase& db) {
    return db.rows("select * from menu order by sequencia, Sistema");
}

QByteArray menuRecord(const QString& sistema, const QString& seq, const QString& menu) {
    return text::toCp1252(sistema.leftJustified(50) + seq.leftJustified(3) +
                          menu.leftJustified(30) + QString("mnu").leftJustified(20) + "1" +
                          QString().leftJustified(50) + "0") +
           "\r\n";
}

} // namespace

// The old files go into the update's folder by hard link, or by copy where links are refused;
// copies that would not fit refuse the archive with nothing kept. Before the first archive the
// run checks the new files and the copies together (runRefused), changing nothing.
TEST(KeptFiles, OldFilesAreKeptWithTheirHashesAndCopiesMustFit) {
    struct Case {
        const char* name;
        bool links;
        std::uint64_t free;
        bool refused, runRefused;
    } cases[] = {
        {"hard links, no room needed", true, 0, false, true},
        {"copies that fit", false, 64ull << 20, false, false},
        {"copies that do not fit", false, 1024, true, true},
        {"copies fit, not with the new files", false, (32ull << 20) + 10, false, true},
        {"links, room for the new files only", true, (32ull << 20) + 15, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir suite, staging;
        const QString kept = suite.path() + "/atualizacoes/x/anteriores";
        writeFile(suite.path() + "/krvsis", "old");
        writeFile(staging.path() + "/a", "new krvsis");
        writeFile(staging.path() + "/b", "added");
        runs::kept::setHardLinksAllowed(c.links);
        runs::setFreeSpaceProbe([&](const QString&) { return c.free; });
        const std::vector<runs::StagedMember> members = {{"krvsis", staging.path() + "/a"},
                                                         {"novo.hlp", staging.path() + "/b"}};
        makeZip(staging.path() + "/m.zip", {{"bin/krvsis", "new krvsis"}, {"novo.hlp", "added"}});
        try {
            runs::kept::requireRoomFor(kept, suite.path(), {staging.path() + "/m.zip"});
            EXPECT_FALSE(c.runRefused);
        } catch (const KrvError& e) {
            EXPECT_TRUE(c.runRefused) << e.description().toStdString();
            EXPECT_TRUE(e.description().contains("Nenhum arquivo foi substituído"));
        }
        EXPECT_FALSE(QFileInfo::exists(kept + "/.zv-link-probe"));
        EXPECT_EQ(readFile(suite.path() + "/krvsis"), "old");
        std::vector<runs::kept::KeptFile> out;
        try {
            out = runs::kept::keepFiles(kept, suite.path(), members, {});
            EXPECT_FALSE(c.refused);
        } catch (const KrvError& e) {
            EXPECT_TRUE(c.refused) << e.description().toStdString();
            EXPECT_TRUE(e.description().contains("Espaço livre insuficiente"));
        }
        runs::kept::setHardLinksAllowed(true);
        runs::setFreeSpaceProbe({});
        if (c.refused) {
            EXPECT_TRUE(QDir(kept).entryList(QDir::Files).isEmpty());
            continue;
        }
        ASSERT_EQ(out.size(), 2u);
        EXPECT_EQ(readFile(kept + "/krvsis"), "old");
        EXPECT_EQ(out[0].size, 3);
        EXPECT_EQ(out[0].sha256, manifest::fileSha256(suite.path() + "/krvsis"));
        EXPECT_EQ(out[0].afterSha256, manifest::fileSha256(staging.path() + "/a"));
        EXPECT_TRUE(out[1].sha256.isEmpty()); // added: nothing to keep
        EXPECT_FALSE(QFileInfo::exists(kept + "/novo.hlp"));
        // A file the same run replaced before keeps the version from before the run.
        const auto again = runs::kept::keepFiles(kept, suite.path(), {members[0]},
                                                 [](const QString&) { return true; });
        EXPECT_TRUE(again[0].sha256.isEmpty());
        EXPECT_EQ(readFile(kept + "/krvsis"), "old");
    }
}

TEST(KeptFiles, RetentionRemovesTheOldestUpdateFoldersOnly) {
    QTemporaryDir suite;
    const QString records = suite.path() + "/atualizacoes";
    const QStringList folders = {"20261201-010000-000", "20261202-010000-000",
                                 "20261203-010000-000", "20261204-010000-000"};
    for (const QString& f : folders) {
        QDir().mkpath(records + "/" + f + "/anteriores");
        writeFile(records + "/" + f + "/anteriores/krvsis", "x");
    }
    QDir().mkpath(records + "/20261130-010000-000");
    writeFile(records + "/20261130-010000-000/desfazendo.json", "{}"); // a rollback cut off
    writeFile(records + "/dados-20261201-clientes-nome.csv", "id\r\n");
    writeFile(records + "/20261201-010000-000.json", "{}");
    QDir().mkpath(records + "/outra-pasta");
    // The default keeps 3; a value that is no number keeps the default.
    for (const auto& [setting, kept] :
         std::vector<std::pair<QByteArray, int>>{{"", 3}, {"2", 2}, {"lixo", 2}, {"0", 0}}) {
        SCOPED_TRACE(setting.toStdString());
        if (setting.isEmpty())
            qunsetenv(runs::kept::kRetentionVariable);
        else
            qputenv(runs::kept::kRetentionVariable, setting);
        runs::kept::removeOldFolders(suite.path());
        const QStringList left =
            QDir(records).entryList({"202612*"}, QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
        EXPECT_EQ(left, folders.mid(folders.size() - kept));
        EXPECT_TRUE(QFileInfo::exists(records + "/20261130-010000-000"));
    }
    qunsetenv(runs::kept::kRetentionVariable);
    EXPECT_TRUE(QFileInfo::exists(records + "/dados-20261201-clientes-nome.csv"));
    EXPECT_TRUE(QFileInfo::exists(records + "/20261201-010000-000.json"));
    EXPECT_TRUE(QFileInfo::exists(records + "/outra-pasta"));
}

TEST(Holds, OnlyTheUndoneVersionIsHeldUntilReleased) {
    QTemporaryDir suite;
    QDir().mkpath(suite.path() + "/atualizacoes");
    using runs::holds::Hold;
    runs::holds::add(suite.path(), {Hold{"module", "krvsis", "01.32.00", "a.json"},
                                    Hold{"menu", "mnusis_cs.krv", "000011", "a.json"}});
    runs::holds::add(suite.path(), {Hold{"module", "KRVSIS", "01.32.00", "b.json"}});
    const QList<Hold> holds = runs::holds::read(suite.path());
    EXPECT_EQ(holds.size(), 2);
    EXPECT_TRUE(runs::holds::held(holds, "module", "KrvSis", "01.32.00"));
    EXPECT_FALSE(runs::holds::held(holds, "module", "krvsis", "01.33.00"));
    EXPECT_FALSE(runs::holds::held(holds, "assistant", "krvsis", "01.32.00"));
    EXPECT_TRUE(runs::holds::held(holds, "menu", "mnusis_cs.krv", "000011"));
    EXPECT_EQ(runs::holds::release(suite.path(), "mcaixa"), 0);
    EXPECT_EQ(runs::holds::release(suite.path(), "KRVSIS"), 1);
    EXPECT_EQ(runs::holds::read(suite.path()).size(), 1);
    EXPECT_EQ(runs::holds::release(suite.path(), {}), 1);
    EXPECT_TRUE(runs::holds::read(suite.path()).isEmpty());
}

// The menu's rows come back exactly, whatever the values hold and the session's escaping mode;
// a copy the server refuses part-way leaves the menu as it was.
TEST(MenuBackup, RowsComeBackExactlyAndAFailedRestoreChangesNothing) {
    ScratchDatabase db;
    ASSERT_TRUE(db.ok());
    db.exec({kMenuTable, "create table licensa (ult_atualizacao varchar(10), atmenu varchar(10))",
             "insert into licensa values ('000131', '000010')",
             "insert into menu values ('Antigo  ', '001', 'Velho', 'mnuVelho', 1, '', 0)",
             "insert into menu values ('O''Brien \\\\ ação', '002', NULL, 'x\"y', NULL, "
             "'tab\there', -7)"});
    const QStringList before = menuRows(db);
    QTemporaryDir dir;
    const QString file = dir.path() + "/menu.sql";
    database::Connection& c = database::Conexao();
    c.Open(1, db.connectionString());
    EXPECT_EQ(database::saveMenu(c, file), 2);
    db.exec({"delete from menu", "insert into menu values ('Novo', '010', 'a', 'b', 1, '', 1)",
             "update licensa set atmenu = '000011'"});
    // The other escaping mode: the copy must not depend on it.
    c.Execute("set session sql_mode = concat(@@sql_mode, ',NO_BACKSLASH_ESCAPES')");
    c.readSqlMode();
    EXPECT_EQ(database::restoreMenu(c, file, {"update licensa set atmenu = '000010'"}), 2);
    EXPECT_EQ(menuRows(db), before);
    EXPECT_EQ(db.scalar("select atmenu from licensa"), "000010");

    writeFile(file, readFile(file) + "insert into menu (nao_existe) values (1);\n");
    EXPECT_THROW(database::restoreMenu(c, file, {"update licensa set atmenu = 'x'"}), KrvError);
    EXPECT_EQ(menuRows(db), before);
    EXPECT_EQ(db.scalar("select atmenu from licensa"), "000010");
    c.close();
}

// The real zelvor, copied into a throwaway suite folder with two modules of version 01.31.00,
// the reference update server on loopback and the real MariaDB.
class UpdateRollback : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(install_.db().ok());
        zelvor_ = folder() + "/zelvor";
        for (const QString& copy : {zelvor_, folder() + "/krvsis", folder() + "/mcaixa"}) {
            ASSERT_TRUE(QFile::copy(zelvorBinary(), copy));
            QFile::setPermissions(copy, QFile::permissions(zelvorBinary()));
        }
        install_.db().exec(
            {kMenuTable,
             "insert into menu values ('Antigo  ', '001', 'Velho', 'mnuVelho', 1, '', 0)",
             "insert into menu values ('O''Brien', '002', NULL, 'x', NULL, 'a\\\\b', 1)"});
        served_.write("usuarios.txt", "ana\tsegredo\n");
        for (int code : {5, 7, 11})
            served_.write(QString("historico/%1.txt").arg(code), "01.32.00\t2026-12-01\tNovo\n");
        served_.write("atualsis/mnusis_cs.krv", menuRecord("Financeiro", "010", "Contas") +
                                                    menuRecord("Estoque", "020", "E"));
        const auto archive = [&](const QString& name, std::vector<ZipEntry> entries) {
            makeZip(served_.path() + "/atualsis/" + name, entries);
        };
        archive("krvsis01.32.00.zip",
                {{"krvsis", "krvsis 01.32.00"}, {"ajuda/krvsis.hlp", "ajuda nova"}});
        archive("krvsis01.33.00.zip", {{"krvsis", "krvsis 01.33.00"}});
        archive("krvsis01.34.00.zip", {{"krvsis", "krvsis 01.34.00"}});
        archive("mcaixa01.32.00.zip", {{"mcaixa", "mcaixa 01.32.00"}});
    }

    QString folder() const { return install_.folder(); }
    QString records() const { return folder() + "/atualizacoes"; }
    QByteArray file(const QString& name) const { return readFile(folder() + "/" + name); }

    // An update from the server, logging in and accepting the terms; versions: versoes.txt.
    RunResult update(const QByteArray& versions) {
        served_.write("versoes.txt", versions);
        RunOptions o =
            install_.options("click frmSel.SSCommand1\ntype frmInicio.txtUsuario ana\n"
                             "type frmInicio.txtSenha segredo\nclick frmInicio.cmdContinua\n"
                             "check frmHist.optTermos(1) 1\nclick frmHist.SSCommand1\n",
                             90);
        o.env["ZELVOR_BASE_URL"] = served_.baseUrl();
        return runProgram(zelvor_, o);
    }
    // zelvor with options; with pausePoint it is killed there.
    RunResult zelvor(const QStringList& arguments, const QString& script = {},
                     const char* pausePoint = nullptr) {
        RunOptions o = install_.options(script, 60);
        o.arguments = arguments;
        if (pausePoint) {
            o.env["ZELVOR_TEST_PAUSE"] = pausePoint;
            o.killAtPause = true;
        }
        return runProgram(zelvor_, o);
    }
    QString lastRecord() const {
        const QStringList names = QDir(records()).entryList({"*.json"}, QDir::Files, QDir::Name);
        return names.isEmpty() ? QString() : names.last();
    }
    QJsonObject record(const QString& name) const {
        return QJsonDocument::fromJson(readFile(records() + "/" + name)).object();
    }
    // What a rollback may change: the suite's files, the menu's rows, the versions.
    QStringList suite() {
        QStringList out;
        for (const QString& name : QDir(folder()).entryList(QDir::Files | QDir::Hidden))
            out << name + "=" + manifest::fileSha256(folder() + "/" + name);
        return out + menuRows(install_.db()) +
               QStringList{install_.db().scalar("select atmenu from licensa"),
                           install_.db().scalar("select ult_atualizacao from licensa")};
    }

    SuiteInstall install_;
    ServedFolder served_;
    QString zelvor_;
};

TEST_F(UpdateRollback, UndoesFilesAndMenuRefusesWhatItCannotAndHoldsTheUndoneVersions) {
    const QByteArray oldKrvsis = file("krvsis");
    const QStringList oldMenu = menuRows(install_.db());
    RunResult r = update("5\tkrvsis\t01.32.00\n11\tmenu\t000011\n");
    ASSERT_EQ(r.exitCode, 0) << r.transcriptText().toStdString();
    ASSERT_EQ(file("krvsis"), "krvsis 01.32.00");
    ASSERT_EQ(file("krvsis.hlp"), "ajuda nova");
    ASSERT_EQ(install_.db().scalar("select atmenu from licensa"), "000011");
    const QString a = lastRecord();
    const QJsonObject ra = record(a);
    const QJsonArray kept = ra["kept_files"].toArray();
    ASSERT_EQ(kept.size(), 2) << a.toStdString();
    EXPECT_EQ(kept[0]["name"], "krvsis");
    EXPECT_EQ(kept[0]["size"].toInteger(), oldKrvsis.size());
    EXPECT_EQ(kept[1]["name"], "krvsis.hlp");
    EXPECT_TRUE(kept[1]["sha256"].isNull());
    EXPECT_EQ(ra["kept_menu"]["rows"].toInt(), 2);
    const QString keptFolder = records() + "/" + QFileInfo(a).completeBaseName() + "/anteriores";
    EXPECT_EQ(readFile(keptFolder + "/krvsis"), oldKrvsis);

    // Each refusal says why and changes nothing.
    struct Refusal {
        const char* name;
        std::function<void()> spoil, mend;
        QStringList arguments;
        QString says;
    };
    const QList<Refusal> refusals = {
        {"a file changed since the update",
         [&] { writeFile(folder() + "/krvsis.hlp", "outra"); },
         [&] { writeFile(folder() + "/krvsis.hlp", "ajuda nova"); },
         {},
         "foi alterado depois"},
        {"the kept copies gone",
         [&] { QFile::rename(keptFolder + "/krvsis", keptFolder + "/fora"); },
         [&] { QFile::rename(keptFolder + "/fora", keptFolder + "/krvsis"); },
         {},
         "não existe mais"},
        {"a later update of the same file",
         [&] {
             const RunResult later = update("5\tkrvsis\t01.33.00\n11\tmenu\t000011\n");
             ASSERT_EQ(later.exitCode, 0) << later.transcriptText().toStdString();
             ASSERT_EQ(file("krvsis"), "krvsis 01.33.00");
         },
         [] {},
         {a},
         "desfaça-a primeiro"},
    };
    for (const Refusal& c : refusals) {
        SCOPED_TRACE(c.name);
        c.spoil();
        const QStringList before = suite();
        r = zelvor(QStringList{"--unattended", "--rollback"} + c.arguments);
        EXPECT_EQ(r.exitCode, 1) << r.output.toStdString();
        EXPECT_TRUE(r.output.contains(c.says)) << r.output.toStdString();
        EXPECT_EQ(suite(), before);
        c.mend();
    }
    const QString b = lastRecord();

    // Asked first, No being the answer that changes nothing; then the later update undone.
    const QStringList afterB = suite();
    r = zelvor({"--rollback"}, "msgbox No\n");
    EXPECT_EQ(r.exitCode, 1);
    ASSERT_FALSE(r.messages().isEmpty()) << r.transcriptText().toStdString();
    EXPECT_TRUE(r.messages().first().contains("restaurar krvsis"))
        << r.messages().first().toStdString();
    EXPECT_EQ(suite(), afterB);
    r = zelvor({"--rollback"}, "msgbox Yes\n");
    EXPECT_EQ(r.exitCode, 0) << r.transcriptText().toStdString();
    EXPECT_EQ(file("krvsis"), "krvsis 01.32.00");

    // Cut off after its first file, the rollback of the first update is finished by the next.
    r = zelvor({"--unattended", "--rollback"}, {}, "rollback-restoring");
    EXPECT_TRUE(r.killed) << r.output.toStdString();
    EXPECT_EQ(file("krvsis"), oldKrvsis);
    EXPECT_EQ(install_.db().scalar("select atmenu from licensa"), "000011");
    r = zelvor({"--unattended", "--rollback"});
    EXPECT_EQ(r.exitCode, 0) << r.output.toStdString();
    EXPECT_TRUE(r.output.contains("conclui o retorno interrompido")) << r.output.toStdString();
    EXPECT_EQ(file("krvsis"), oldKrvsis);
    EXPECT_FALSE(QFileInfo::exists(folder() + "/krvsis.hlp"));
    EXPECT_EQ(menuRows(install_.db()), oldMenu);
    EXPECT_EQ(install_.db().scalar("select atmenu from licensa"), "000010");
    EXPECT_EQ(install_.db().scalar("select ult_atualizacao from licensa"), "000131");
    const QJsonObject undo = record(lastRecord());
    EXPECT_EQ(undo["outcome"], "rolled back");
    EXPECT_EQ(undo["rolled_back"], a);
    r = zelvor({"--unattended", "--rollback"});
    EXPECT_EQ(r.exitCode, 1) << "nothing left to undo";

    r = zelvor({"--list-updates"});
    const QStringList lines = r.output.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4) << r.output.toStdString();
    EXPECT_TRUE(lines[0].contains("\trolled back\tdesfez " + a)) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].contains("desfez " + b)) << lines[1].toStdString();
    EXPECT_TRUE(lines[3].startsWith(ra["start"].toString() + "\tupdated\tkrvsis "))
        << lines[3].toStdString();
    EXPECT_TRUE(lines[3].contains("\tmenu 000010 -> 000011\t")) << lines[3].toStdString();
    EXPECT_TRUE(lines[3].endsWith("\tnão pode ser desfeita"));

    // The held versions are left out and the rest applies; a newer version applies as usual.
    r = update("5\tkrvsis\t01.33.00\n11\tmenu\t000011\n7\tmcaixa\t01.32.00\n5\tkrvsis\t01.32.00\n");
    EXPECT_EQ(r.exitCode, 0) << r.transcriptText().toStdString();
    EXPECT_EQ(file("mcaixa"), "mcaixa 01.32.00");
    EXPECT_EQ(file("krvsis"), oldKrvsis);
    EXPECT_EQ(menuRows(install_.db()), oldMenu);
    EXPECT_EQ(record(lastRecord())["held"].toArray().size(), 3);
    EXPECT_EQ(r.statuses().filter("retida").size(), 3) << r.transcriptText().toStdString();
    r = update("5\tkrvsis\t01.34.00\n");
    EXPECT_EQ(r.exitCode, 0) << r.transcriptText().toStdString();
    EXPECT_EQ(file("krvsis"), "krvsis 01.34.00");

    r = zelvor({"--release-hold"});
    EXPECT_EQ(r.exitCode, 0) << r.output.toStdString();
    EXPECT_TRUE(runs::holds::read(folder()).isEmpty());
}

// The assistant Movrin replaced is kept by the run that handed it over: the rollback puts the
// old one back and the next run does not offer that version again.
TEST(UpdateRollbackAssistant, TheAssistantMovrinReplacedIsPutBackAndHeld) {
    SuiteInstall install;
    ASSERT_TRUE(install.db().ok());
    const QString zelvor = install.folder() + "/zelvor";
    for (const auto& [from, to] :
         {std::pair{zelvorBinary(), zelvor}, {movrinBinary(), install.folder() + "/movrin"}}) {
        ASSERT_TRUE(QFile::copy(from, to));
        QFile::setPermissions(to, QFile::permissions(from));
    }
    const QByteArray oldAssistant = readFile(zelvor);
    ServedFolder served;
    served.write("usuarios.txt", "ana\tsegredo\n");
    served.write("versoes.txt", "0\tzelvor\t01.32.00\n");
    const QByteArray newAssistant = "#!/bin/sh\nexit 7\n";
    makeZip(served.path() + "/atualsis/zelvor01.32.00.zip", {{"zelvor", newAssistant, 0100755}});
    install.setSetting("atuser", "ana");
    install.setSetting("atpwd", "segredo");
    RunOptions o = install.options({}, 60);
    o.arguments = {"--unattended", "--accept-terms"};
    o.env["ZELVOR_BASE_URL"] = served.baseUrl();
    o.env["ZELVOR_TEST_MOVRIN_TICK_MS"] = "100";
    RunResult r = runProgram(zelvor, o);
    EXPECT_EQ(r.exitCode, 7) << r.output.toStdString();
    ASSERT_EQ(readFile(zelvor), newAssistant);

    // The suite's assistant is now the new one: the built zelvor undoes it.
    RunOptions undo = install.options({}, 60);
    undo.arguments = {"--unattended", "--rollback"};
    r = runProgram(zelvorBinary(), undo);
    EXPECT_EQ(r.exitCode, 0) << r.output.toStdString();
    EXPECT_EQ(readFile(zelvor), oldAssistant);
    EXPECT_TRUE(QFileInfo(zelvor).isExecutable());

    r = runProgram(zelvor, o);
    EXPECT_EQ(r.exitCode, 2) << r.output.toStdString();
    EXPECT_TRUE(r.output.contains("Versão 01.32.00 de zelvor retida")) << r.output.toStdString();
    EXPECT_EQ(readFile(zelvor), oldAssistant);
}
