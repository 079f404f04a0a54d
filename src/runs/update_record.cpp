#include "runs/update_record.h"

#include "common/file_version.h"
#include "common/updatekrv.h"
#include "database/connection.h"
#include "navigation/protocol.h"
#include "platform/dialogs.h"
#include "platform/program.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMap>
#include <QSaveFile>

namespace krv::runs::record {

namespace {

// What the suite looks like at one moment.
struct Snapshot {
    QMap<QString, QString> modules; // file name -> version, files with version information
    QVariant ultAtualizacao, atmenu;
    QVariant menuRows;
    QMap<QString, QString> tables; // name -> show create table
};

struct Statement {
    QString sql;
    QDateTime started;
    qint64 startMs = 0, ms = -1; // -1: never ended (the run stopped in it)
};

struct State {
    bool begun = false;
    bool filesHashed = false;
    QDateTime start;
    QElapsedTimer clock;
    Snapshot before;
    QList<Statement> statements;
    bool statementsDone = false;
    QJsonArray files;
};

State& state() {
    static State s;
    return s;
}

QVariant scalar(const QString& sql) {
    try {
        database::Recordset rs;
        rs.Open(sql, database::Conexao());
        return rs.eof() ? QVariant() : rs.field(0);
    } catch (const std::exception&) {
        return {}; // a suite without the table: nothing to record
    }
}

Snapshot take() {
    Snapshot s;
    const QDir dir(updatekrv::DirSis);
    for (const QFileInfo& f : dir.entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name))
        if (auto info = readFixedFileInfo(f.filePath()))
            s.modules[f.fileName()] = formatFileVersion(*info);
    s.ultAtualizacao = scalar("select ult_atualizacao from licensa");
    s.atmenu = scalar("select atmenu from licensa");
    s.menuRows = scalar("select count(*) from menu");
    try {
        database::Recordset names;
        names.Open("show tables", database::Conexao());
        QStringList tables;
        for (; !names.eof(); names.moveNext())
            tables << names.text(0);
        for (const QString& t : tables) {
            database::Recordset create;
            create.Open("show create table `" + QString(t).replace('`', "``") + "`",
                        database::Conexao());
            if (!create.eof())
                s.tables[t] = create.text(1);
        }
    } catch (const std::exception&) {
    }
    return s;
}

QJsonValue json(const QVariant& v) {
    return v.isNull() || !v.isValid() ? QJsonValue() : QJsonValue(v.toString());
}

QJsonObject beforeAfter(const QVariant& before, const QVariant& after) {
    return {{"before", json(before)}, {"after", json(after)}};
}

QString stamp(const QDateTime& t) {
    return t.toString(Qt::ISODateWithMs);
}

} // namespace

void begin() {
    State& s = state();
    if (s.begun)
        return;
    s.begun = true;
    s.start = QDateTime::currentDateTime();
    s.clock.start();
    s.before = take();
    platform::atProgramEnd([](int code) {
        try {
            write(updatekrv::DirSis, build(code));
        } catch (const std::exception&) {
            // The record never stands in the way of the program's end.
        }
    });
}

void statement(const QString& sql) {
    State& s = state();
    if (!s.begun)
        return;
    const qint64 now = s.clock.elapsed();
    if (!s.statements.isEmpty() && s.statements.last().ms < 0)
        s.statements.last().ms = now - s.statements.last().startMs;
    s.statements << Statement{sql, QDateTime::currentDateTime(), now};
}

void statementsDone() {
    State& s = state();
    if (!s.begun)
        return;
    s.statementsDone = true;
    if (!s.statements.isEmpty() && s.statements.last().ms < 0)
        s.statements.last().ms = s.clock.elapsed() - s.statements.last().startMs;
}

void filesFetched() {
    State& s = state();
    // Hashed once, as fetched: the database update later writes its snapshot into krv.mdb.
    if (!s.begun || s.filesHashed)
        return;
    s.filesHashed = true;
    const QDir dir(updatekrv::updateFolder());
    for (const QFileInfo& f : dir.entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name)) {
        QFile file(f.filePath());
        QCryptographicHash hash(QCryptographicHash::Sha256);
        if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
            continue;
        // Download time, rate and signature are not known to the folder; null says so.
        s.files.append(QJsonObject{{"name", f.fileName()},
                                   {"size", f.size()},
                                   {"sha256", QString::fromLatin1(hash.result().toHex())},
                                   {"signature_verified", QJsonValue()},
                                   {"download_ms", QJsonValue()},
                                   {"rate_bytes_per_s", QJsonValue()}});
    }
}

QJsonObject build(int endCode) {
    State& s = state();
    if (!s.begun)
        return {};
    const Snapshot after = take();
    const bool failed = endCode != 0;

    // A module that appeared, changed, or lost its version information (null on that side).
    QJsonArray modules;
    QStringList names = s.before.modules.keys() + after.modules.keys();
    names.removeDuplicates();
    names.sort();
    for (const QString& name : names) {
        const auto version = [&](const Snapshot& at) {
            return at.modules.contains(name) ? QJsonValue(at.modules[name]) : QJsonValue();
        };
        if (version(s.before) != version(after))
            modules.append(QJsonObject{
                {"name", name}, {"before", version(s.before)}, {"after", version(after)}});
    }

    QJsonArray statements;
    for (qsizetype i = 0; i < s.statements.size(); ++i) {
        const Statement& st = s.statements[i];
        const bool last = i + 1 == s.statements.size();
        // The statement a failed run was in when it stopped is the one the server refused.
        const bool refused = last && failed && !s.statementsDone;
        statements.append(QJsonObject{{"sql", st.sql},
                                      {"started", stamp(st.started)},
                                      {"duration_ms", st.ms < 0 ? QJsonValue() : st.ms},
                                      {"result", refused ? "error" : "ok"}});
    }
    QJsonObject altered;
    for (auto it = s.before.tables.begin(); it != s.before.tables.end(); ++it)
        if (after.tables.value(it.key()) != it.value())
            altered[it.key()] = it.value();

    const bool dbChanged = !statements.isEmpty() || after.ultAtualizacao != s.before.ultAtualizacao;
    const bool menuChanged = after.menuRows != s.before.menuRows || after.atmenu != s.before.atmenu;
    QString reached = "start";
    if (!s.files.isEmpty() || !modules.isEmpty())
        reached = "files";
    if (dbChanged)
        reached = "database";
    if (menuChanged)
        reached = "menu";
    if (!failed)
        reached = "end";

    const QString source =
        !updatekrv::DirOrigem.isEmpty() ? updatekrv::DirOrigem : protocol::baseUrl();
    QString outcome = "failed";
    if (!failed)
        outcome = updatekrv::Atualizou ? "updated" : "nothing to update";
    return QJsonObject{
        {"start", stamp(s.start)},
        {"end", stamp(QDateTime::currentDateTime())},
        {"user", updatekrv::UsuarioAtual},
        {"source", source},
        {"outcome", outcome},
        {"exit_code", endCode},
        {"message", platform::lastMessage()},
        {"reached", reached},
        {"files", s.files},
        {"modules", modules},
        {"database", QJsonObject{{"ult_atualizacao",
                                  beforeAfter(s.before.ultAtualizacao, after.ultAtualizacao)},
                                 {"atmenu", beforeAfter(s.before.atmenu, after.atmenu)},
                                 {"statements", statements},
                                 {"tables_before", altered}}},
        {"menu_rows", beforeAfter(s.before.menuRows, after.menuRows)},
    };
}

QString write(const QString& folder, const QJsonObject& record) {
    if (record.isEmpty())
        return {};
    const QJsonObject db = record["database"].toObject();
    const bool changed =
        !record["files"].toArray().isEmpty() || !record["modules"].toArray().isEmpty() ||
        !db["statements"].toArray().isEmpty() || !db["tables_before"].toObject().isEmpty() ||
        db["ult_atualizacao"].toObject()["before"] != db["ult_atualizacao"].toObject()["after"] ||
        db["atmenu"].toObject()["before"] != db["atmenu"].toObject()["after"] ||
        record["menu_rows"].toObject()["before"] != record["menu_rows"].toObject()["after"];
    // A run that changed nothing and ended normally (cancelled, nothing due) leaves no record.
    if (!changed && record["exit_code"].toInt() == 0)
        return {};
    const QString dir = folder + "/atualizacoes";
    QDir().mkpath(dir);
    const QDateTime start = QDateTime::fromString(record["start"].toString(), Qt::ISODateWithMs);
    const QString name = start.toString("yyyyMMdd-HHmmss-zzz") + ".json";
    QSaveFile file(dir + '/' + name);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write(QJsonDocument(record).toJson(QJsonDocument::Indented));
    if (!file.commit())
        return {};
    QFile log(dir + "/atualizacoes.log");
    if (log.open(QIODevice::WriteOnly | QIODevice::Append)) {
        QString message = record["message"].toString();
        message.replace("\r\n", " ").replace('\n', ' ').replace('\t', ' ');
        const QStringList fields = {record["start"].toString(),
                                    record["end"].toString(),
                                    record["outcome"].toString(),
                                    record["reached"].toString(),
                                    record["user"].toString(),
                                    record["source"].toString(),
                                    message,
                                    name};
        log.write((fields.join('\t') + '\n').toUtf8());
    }
    return dir + '/' + name;
}

} // namespace krv::runs::record
