#include "database/rehearsal.h"

#include "database/connection.h"
#include "database/foreign_keys.h"
#include "database/schema_session.h"
#include "database/schema_statements.h"

#include <QCoreApplication>
#include <QHash>
#include <QSet>
#include <optional>

namespace krv::database {

namespace {

struct Attempt {
    const char* clause;
    const char* algorithm;
    bool keepClause; // sent live too
};

// In order of preference. The last asks nothing: the server's own choice, a copy when even
// INPLACE with locks is refused.
const Attempt kAttempts[] = {
    {", ALGORITHM=INSTANT", "INSTANT", true},
    {", ALGORITHM=INPLACE, LOCK=NONE", "INPLACE", true},
    {", ALGORITHM=INPLACE", "INPLACE", false},
    {"", "COPY", false},
};

QString shadowName(int n) {
    return kShadowPrefix + QString::number(QCoreApplication::applicationPid()) + "_" +
           QString::number(n);
}

[[noreturn]] void refuse(const SyncStep& step, const KrvError& e) {
    throw UpdateFileRefused(e.number(),
                            "Arquivo de atualização recusado: o servidor recusou o comando <" +
                                step.text + "> no ensaio em uma cópia vazia da tabela (erro " +
                                QString::number(e.number()) + ": " + e.description() +
                                "). Nenhuma alteração foi feita no banco de dados.");
}

} // namespace

QString retarget(const QString& statement, const QString& table, const QString& other) {
    for (const char* head : {"create table ", "alter table "}) {
        const QString prefix = QString::fromLatin1(head) + quoteName(table);
        if (statement.startsWith(prefix))
            return QString::fromLatin1(head) + quoteName(other) + statement.mid(prefix.size());
    }
    throw KrvError(err::Database, "Comando sem a tabela esperada <" + table + ">: " + statement);
}

void dropLeftoverShadows(Connection& conexao) {
    Recordset rs;
    rs.Open("select table_name from information_schema.tables where table_schema = database() "
            "and table_name like " +
                conexao.quote(QString(kShadowPrefix).replace("_", "\\_") + "%"),
            conexao);
    QStringList names;
    for (; !rs.eof(); rs.moveNext())
        names << rs.text(0);
    QStringList quoted;
    for (const QString& name : names)
        quoted << quoteName(name);
    if (quoted.isEmpty())
        return;
    // Copies may hold keys between them.
    ForeignKeyChecksOff off(conexao);
    conexao.Execute("drop table if exists " + quoted.join(", "));
}

void rehearse(Connection& conexao, QList<SyncStep>& plan) {
    QHash<QString, QString> shadows; // folded live name -> copy
    auto dropAll = [&] {
        QStringList names;
        for (const QString& shadow : shadows)
            names << quoteName(shadow);
        if (names.isEmpty())
            return;
        try {
            // One statement for all: each costs a round trip and a file removal.
            ForeignKeyChecksOff off(conexao);
            conexao.Execute("drop table if exists " + names.join(", "));
        } catch (const KrvError&) {
            // The next run drops what is left.
        }
    };
    // An empty copy of a live table; the copy is made once and changed by every step.
    const auto shadowOf = [&](const QString& table) {
        const QString key = foldName(table);
        if (!shadows.contains(key)) {
            const QString shadow = shadowName(int(shadows.size()) + 1);
            conexao.Execute("create table " + quoteName(shadow) + " like " + quoteName(table));
            shadows.insert(key, shadow);
        }
        return shadows.value(key);
    };
    // "create table ... like" copies no foreign key: a table the plan alters gets the live
    // keys on either side of it between the copies, so that a change a key forbids is
    // refused here too.
    std::optional<QList<ForeignKey>> liveKeys;
    QSet<QString> keyed, keysCopied;
    const auto withLiveKeys = [&](const QString& table) {
        if (keyed.contains(foldName(table)))
            return;
        keyed.insert(foldName(table));
        if (!liveKeys)
            liveKeys = liveForeignKeys(conexao.database());
        for (const ForeignKey& k : *liveKeys) {
            const QString id = foldName(k.table) + '\n' + foldName(k.name);
            if (keysCopied.contains(id) ||
                (foldName(k.table) != foldName(table) && foldName(k.parent) != foldName(table)))
                continue;
            keysCopied.insert(id);
            try {
                const QString child = shadowOf(k.table), parent = shadowOf(k.parent);
                conexao.Execute("alter table " + quoteName(child) + " add " +
                                k.clause(parent, false));
            } catch (const KrvError&) {
                // A key the copies cannot take (its parent gone, say) only makes the rehearsal
                // less like the live run; the live run still has the server's word.
            }
        }
    };
    int triggers = 0;
    try {
        for (SyncStep& step : plan) {
            if (step.kind != SyncStep::Statement)
                continue;
            const QString key = foldName(step.table);
            if (step.change == SyncStep::CreateTable) {
                const QString shadow = shadowName(int(shadows.size()) + 1);
                shadows.insert(key, shadow);
                QString sql = retarget(step.text, step.table, shadow);
                for (const ForeignKey& k : step.keys)
                    sql.replace(k.clause(), k.clause(shadowOf(k.parent), false));
                try {
                    conexao.Execute(sql);
                } catch (const KrvError& e) {
                    refuse(step, e);
                }
                continue;
            }
            if (step.change == SyncStep::CreateObject) {
                // A view or routine changes no table; a trigger is tried on its table's copy.
                if (step.object.kind != "TRIGGER")
                    continue;
                const QString shadow = shadowOf(step.table);
                try {
                    conexao.Execute(createTriggerStatement(
                        step.object, shadow + "_g" + QString::number(++triggers), shadow));
                } catch (const KrvError& e) {
                    refuse(step, e);
                }
                continue;
            }
            const QString shadow = shadowOf(step.table);
            withLiveKeys(step.table);
            QString sql = retarget(step.text, step.table, shadow);
            if (step.change == SyncStep::AddForeignKey) {
                const ForeignKey& k = step.keys.first();
                sql = "alter table " + quoteName(shadow) + " add " +
                      k.clause(shadowOf(k.parent), false);
            }
            for (const Attempt& a : kAttempts) {
                // Building an index is never a change of the metadata alone, nor is a key.
                const bool key = step.change == SyncStep::AddForeignKey;
                if ((step.change == SyncStep::AddIndex || key) && QString(a.algorithm) == "INSTANT")
                    continue;
                // The server adds a key in place only without checking the rows; live, that
                // is done only after they were counted.
                std::optional<ForeignKeyChecksOff> off;
                if (key && *a.clause != '\0')
                    off.emplace(conexao);
                try {
                    conexao.Execute(sql + QString::fromLatin1(a.clause));
                    step.clause = a.keepClause ? QString::fromLatin1(a.clause) : QString();
                    step.algorithm = QString::fromLatin1(a.algorithm);
                    break;
                } catch (const KrvError& e) {
                    // A clause refused is the server saying "not that way"; the last try, with
                    // none, is the statement itself refused.
                    if (*a.clause == '\0')
                        refuse(step, e);
                }
            }
        }
    } catch (...) {
        dropAll();
        throw;
    }
    dropAll();
}

} // namespace krv::database
