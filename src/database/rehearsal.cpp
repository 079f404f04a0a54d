#include "database/rehearsal.h"

#include "database/connection.h"
#include "database/schema_statements.h"

#include <QCoreApplication>
#include <QHash>

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
    if (!quoted.isEmpty())
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
            conexao.Execute("drop table if exists " + names.join(", "));
        } catch (const KrvError&) {
            // The next run drops what is left.
        }
    };
    try {
        for (SyncStep& step : plan) {
            if (step.kind != SyncStep::Statement)
                continue;
            const QString key = foldName(step.table);
            if (step.change == SyncStep::CreateTable) {
                const QString shadow = shadowName(int(shadows.size()) + 1);
                shadows.insert(key, shadow);
                try {
                    conexao.Execute(retarget(step.text, step.table, shadow));
                } catch (const KrvError& e) {
                    refuse(step, e);
                }
                continue;
            }
            if (!shadows.contains(key)) {
                const QString shadow = shadowName(int(shadows.size()) + 1);
                shadows.insert(key, shadow);
                conexao.Execute("create table " + quoteName(shadow) + " like " +
                                quoteName(step.table));
            }
            const QString sql = retarget(step.text, step.table, shadows.value(key));
            for (const Attempt& a : kAttempts) {
                // Building an index is never a change of the metadata alone.
                if (step.change == SyncStep::AddIndex && QString(a.algorithm) == "INSTANT")
                    continue;
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
