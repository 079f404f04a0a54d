#include "runs/rollback.h"

#include "common/release_manifest.h"
#include "database/connection.h"
#include "database/menu_backup.h"
#include "platform/krv_error.h"
#include "platform/test_hook.h"
#include "runs/kept_files.h"
#include "runs/leftovers.h"
#include "runs/update_record.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <unistd.h>

namespace krv::runs::rollback {

namespace {

struct Record {
    QString name;
    QJsonObject json;
};

// Oldest first: the names are the start times.
QList<Record> records(const QString& suiteFolder) {
    QList<Record> out;
    const QDir dir(record::recordsFolder(suiteFolder));
    for (const QString& name : dir.entryList({"*.json"}, QDir::Files, QDir::Name)) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QJsonObject json = QJsonDocument::fromJson(file.readAll()).object();
        if (json.contains("start"))
            out << Record{name, json};
    }
    return out;
}

bool keptSomething(const QJsonObject& r) {
    return !r["kept_files"].toArray().isEmpty() || r["kept_menu"].isObject();
}

// A run that put back every file it replaced before it ended left nothing to undo.
bool putBackWhole(const QJsonObject& r) {
    const QJsonArray put = r["files_put_back"].toArray();
    for (const QJsonValue& v : put)
        if (v["result"] == "failed")
            return false;
    return !put.isEmpty() && !r["kept_menu"].isObject();
}

bool undoable(const QJsonObject& r) {
    return r["outcome"] != "rolled back" && r["outcome"] != "running" && keptSomething(r) &&
           !putBackWhole(r);
}

// The rollback record that undid name; empty when none did.
QString undoneBy(const QList<Record>& all, const QString& name) {
    for (const Record& r : all)
        if (r.json["rolled_back"] == name)
            return r.name;
    return {};
}

QStringList keptNames(const QJsonObject& r) {
    QStringList names;
    for (const QJsonValue& v : r["kept_files"].toArray())
        names << v["name"].toString();
    return names;
}

QString text(const QJsonValue& v) {
    if (v.isUndefined())
        return "-";
    return v.isNull() ? QString("(nulo)") : v.toVariant().toString();
}

QString stemOf(const QString& recordName) {
    return QFileInfo(recordName).completeBaseName();
}

void refuse(Plan& p, const QString& why) {
    if (p.refusal.isEmpty())
        p.refusal = why + " Nada foi alterado.";
}

void checkLaterUpdates(Plan& p, const QList<Record>& all, qsizetype index) {
    QStringList mine;
    for (const FileStep& f : p.files)
        mine << f.name;
    for (qsizetype j = index + 1; j < all.size(); ++j) {
        const Record& later = all[j];
        if (later.json["outcome"] == "rolled back" || !undoneBy(all, later.name).isEmpty())
            continue;
        QString touched;
        for (const QString& name : keptNames(later.json))
            if (mine.contains(name))
                touched = name;
        if (touched.isEmpty() && p.menu && later.json["kept_menu"].isObject())
            touched = "o menu";
        if (!touched.isEmpty())
            return refuse(p, "A atualização " + later.name + ", posterior, também alterou " +
                                 touched + ": desfaça-a primeiro (zelvor --rollback " + later.name +
                                 ").");
    }
}

void checkFiles(Plan& p, const QString& suiteFolder) {
    for (const FileStep& f : p.files) {
        const QString target = suiteFolder + '/' + f.name;
        const QString now = QFileInfo(target).isFile() ? manifest::fileSha256(target) : QString();
        if (!f.added) {
            const QString kept = p.folder + '/' + kept::kFilesFolder + '/' + f.name;
            if (!QFileInfo(kept).isFile() || manifest::fileSha256(kept) != f.sha256)
                return refuse(p, "A cópia guardada de " + f.name + " (" + kept +
                                     ") não existe mais ou foi alterada.");
        }
        // Already as before: put back by a rollback cut off, or never replaced by a run cut
        // off between keeping and renaming.
        const bool asBefore = !f.added && now == f.sha256;
        const bool asLeft = now == f.afterSha256 || (f.added && now.isEmpty());
        if (!asLeft && !asBefore)
            return refuse(p, "O arquivo " + target + " foi alterado depois da atualização " +
                                 p.record + ".");
    }
    if (p.menu && !QFileInfo(p.folder + '/' + kept::kMenuFile).isFile())
        refuse(p, "A cópia guardada do menu (" + p.folder + '/' + kept::kMenuFile +
                      ") não existe mais.");
}

void saveJournal(const Plan& p) {
    QSaveFile file(p.folder + '/' + kept::kRollbackJournal);
    const QJsonObject journal{{"record", p.record},
                              {"started", QDateTime::currentDateTime().toString(Qt::ISODateWithMs)},
                              {"pid", qint64(::getpid())}};
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(QJsonDocument(journal).toJson(QJsonDocument::Indented)) < 0 || !file.commit())
        throw KrvError(err::FileAccess,
                       "Não foi possível gravar " + file.fileName() + ": " + file.errorString());
}

// Puts the kept copy in place by one rename, as extraction does: the file is old or new.
void putBack(const QString& kept, const QString& target, const QString& suiteFolder) {
    const QString temporary =
        suiteFolder + '/' + kExtractionPrefix + QString::number(::getpid()) + "-desfaz";
    QFile::remove(temporary);
    const QByteArray from = QFile::encodeName(kept), tmp = QFile::encodeName(temporary);
    if (::link(from.constData(), tmp.constData()) != 0 && !QFile::copy(kept, temporary))
        throw KrvError(err::FileAccess,
                       "Não foi possível copiar " + kept + " para " + temporary + ".");
    if (::rename(tmp.constData(), QFile::encodeName(target).constData()) != 0) {
        QFile::remove(temporary);
        throw KrvError(err::FileAccess, "Não foi possível restaurar " + target + ".");
    }
}

// Puts one file as it was before the update: a kept copy back in place, an added file
// removed. False when it was already so.
bool undoFile(const QString& suiteFolder, const QString& keptFolder, const FileStep& f) {
    const QString target = suiteFolder + '/' + f.name;
    if (f.added) {
        if (!QFileInfo::exists(target))
            return false;
        if (!QFile::remove(target))
            throw KrvError(err::FileAccess, "Não foi possível remover " + target + ".");
        return true;
    }
    if (manifest::fileSha256(target) == f.sha256)
        return false;
    putBack(keptFolder + '/' + kept::kFilesFolder + '/' + f.name, target, suiteFolder);
    return true;
}

} // namespace

Plan plan(const QString& suiteFolder, const QString& recordName) {
    Plan p;
    const QList<Record> all = records(suiteFolder);
    QString wanted = QFileInfo(recordName).fileName();
    if (!wanted.isEmpty() && !wanted.endsWith(".json"))
        wanted += ".json";
    qsizetype index = -1;
    for (qsizetype i = all.size() - 1; i >= 0 && index < 0; --i)
        if (wanted.isEmpty() ? undoable(all[i].json) && undoneBy(all, all[i].name).isEmpty()
                             : all[i].name == wanted)
            index = i;
    if (index < 0) {
        p.refusal = wanted.isEmpty() ? "Nenhuma atualização a desfazer em " + suiteFolder + "."
                                     : "A atualização " + wanted + " não foi encontrada em " +
                                           record::recordsFolder(suiteFolder) + ".";
        return p;
    }
    const QJsonObject& r = all[index].json;
    p.record = all[index].name;
    p.folder = record::recordsFolder(suiteFolder) + '/' + stemOf(p.record);
    p.resuming = QFileInfo::exists(p.folder + '/' + kept::kRollbackJournal);
    for (const QJsonValue& v : r["kept_files"].toArray())
        p.files << FileStep{v["name"].toString(), v["sha256"].isNull(), v["sha256"].toString(),
                            v["after_sha256"].toString()};
    if (r["kept_menu"].isObject()) {
        p.menu = true;
        p.menuRows = r["kept_menu"]["rows"].toInt();
        p.atmenu = r["database"]["atmenu"]["before"];
    }
    for (const QJsonValue& v : r["versions"].toArray())
        p.holds << holds::Hold{v["kind"].toString(), v["name"].toString(), v["version"].toString(),
                               p.record};
    if (!undoable(r))
        refuse(p, "A atualização " + p.record + " não guardou arquivos nem o menu.");
    if (const QString by = undoneBy(all, p.record); !by.isEmpty())
        refuse(p, "A atualização " + p.record + " já foi desfeita (registro " + by + ").");
    checkLaterUpdates(p, all, index);
    checkFiles(p, suiteFolder);
    return p;
}

QStringList describe(const Plan& p) {
    QStringList lines{"Desfazer a atualização " + p.record + ":"};
    if (p.resuming)
        lines << "  (conclui o retorno interrompido desta atualização)";
    for (const FileStep& f : p.files)
        lines << (f.added ? "  remover " + f.name + " (acrescentado pela atualização)"
                          : "  restaurar " + f.name);
    if (p.menu)
        lines << QString("  restaurar o menu (%1 linhas) e licensa.atmenu (%2)")
                     .arg(p.menuRows)
                     .arg(text(p.atmenu));
    lines << "A estrutura do banco de dados e ult_atualizacao ficam como estão.";
    for (const holds::Hold& h : p.holds)
        lines << "Fica retida a versão " + h.version + " de " + h.name + ".";
    return lines;
}

QString updateThatInstalled(const QString& suiteFolder, const QString& kind, const QString& name,
                            const QString& version) {
    const QList<Record> all = records(suiteFolder);
    for (qsizetype i = all.size() - 1; i >= 0; --i) {
        if (!undoable(all[i].json) || !undoneBy(all, all[i].name).isEmpty())
            continue;
        for (const QJsonValue& v : all[i].json["versions"].toArray())
            if (v["kind"] == kind && v["version"] == version &&
                (kind == "menu" || v["name"].toString().compare(name, Qt::CaseInsensitive) == 0))
                return all[i].name;
    }
    return {};
}

QJsonObject apply(const QString& suiteFolder, const Plan& p, database::Connection* connection,
                  const QJsonObject& note) {
    const QDateTime start = QDateTime::currentDateTime();
    saveJournal(p);
    QJsonArray restored, removed;
    bool first = true;
    for (const FileStep& f : p.files) {
        undoFile(suiteFolder, p.folder, f);
        (f.added ? removed : restored).append(f.name);
        if (std::exchange(first, false))
            platform::hook::pausePoint("rollback-restoring");
    }
    QJsonValue menuRows;
    if (p.menu) {
        if (!connection)
            throw KrvError(err::NotConnected, "Sem conexão com o banco de dados para restaurar "
                                              "o menu.");
        const QString atmenu =
            p.atmenu.isNull() ? QString("NULL") : connection->quote(p.atmenu.toString());
        menuRows = database::restoreMenu(*connection, p.folder + '/' + kept::kMenuFile,
                                         {"update licensa set atmenu = " + atmenu});
    }
    holds::add(suiteFolder, p.holds);
    QJsonArray held;
    for (const holds::Hold& h : p.holds)
        held.append(QJsonObject{{"kind", h.kind}, {"name", h.name}, {"version", h.version}});
    const QString message =
        QString("Atualização %1 desfeita: %2 arquivo(s) restaurado(s), %3 removido(s)%4. A "
                "estrutura do banco de dados e ult_atualizacao não foram alterados.")
            .arg(p.record)
            .arg(restored.size())
            .arg(removed.size())
            .arg(p.menu ? ", menu restaurado" : "");
    QJsonObject rec{
        {"start", start.toString(Qt::ISODateWithMs)},
        {"end", QDateTime::currentDateTime().toString(Qt::ISODateWithMs)},
        {"user", ""},
        {"source", p.folder},
        {"outcome", "rolled back"},
        {"exit_code", 0},
        {"pid", qint64(::getpid())},
        {"message", message},
        {"reached", "end"},
        {"rolled_back", p.record},
        {"restored_files", restored},
        {"removed_files", removed},
        {"menu_restored", menuRows},
        {"database", QJsonObject{{"atmenu", QJsonObject{{"after", p.atmenu}}}}},
        {"held", held},
    };
    for (auto it = note.begin(); it != note.end(); ++it)
        rec[it.key()] = it.value();
    if (note.contains("reason"))
        rec["message"] = note["reason"].toString() + " " + message;
    record::write(suiteFolder, {rec, true});
    QFile::remove(p.folder + '/' + kept::kRollbackJournal);
    return rec;
}

QStringList listing(const QString& suiteFolder) {
    const QList<Record> all = records(suiteFolder);
    QStringList lines;
    for (qsizetype i = all.size() - 1; i >= 0; --i) {
        const QJsonObject& r = all[i].json;
        QStringList modules;
        for (const QJsonValue& m : r["modules"].toArray())
            modules << m["name"].toString() + " " + text(m["before"]) + " -> " + text(m["after"]);
        if (r.contains("rolled_back"))
            modules << "desfez " + r["rolled_back"].toString();
        const auto change = [&](const QString& label, const QJsonValue& ba) {
            return ba["before"] == ba["after"] || ba["before"].isUndefined()
                       ? label + " " + text(ba["after"])
                       : label + " " + text(ba["before"]) + " -> " + text(ba["after"]);
        };
        const bool can = undoable(r) && plan(suiteFolder, all[i].name).refusal.isEmpty();
        lines << QStringList{r["start"].toString(),
                             r["outcome"].toString(),
                             modules.isEmpty() ? "-" : modules.join(", "),
                             change("menu", r["database"]["atmenu"]),
                             change("banco", r["database"]["ult_atualizacao"]),
                             can ? "pode ser desfeita" : "não pode ser desfeita"}
                     .join('\t');
    }
    return lines;
}

FileResult undoFiles(const QString& suiteFolder, const QString& keptFolder,
                     const QList<FileStep>& files) {
    FileResult result;
    for (const FileStep& f : files) {
        try {
            if (undoFile(suiteFolder, keptFolder, f))
                (f.added ? result.removed : result.restored) << f.name;
        } catch (const std::exception& e) {
            // The others still go back: the fewer new files beside old ones, the better.
            result.failed << f.name + ": " + asKrvError(e).description();
        }
    }
    return result;
}

} // namespace krv::runs::rollback
