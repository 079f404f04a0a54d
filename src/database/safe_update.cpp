#include "database/safe_update.h"

#include "database/connection.h"
#include "database/data_copy.h"
#include "database/foreign_keys.h"
#include "database/rehearsal.h"
#include "database/schema_session.h"
#include "database/schema_statements.h"
#include "database/update_file.h"

#include <QDateTime>
#include <QHash>
#include <memory>

namespace krv::database {

namespace {

// The server's words for an algorithm a table cannot be altered with.
bool algorithmRefused(const KrvError& e) {
    return e.number() == 1845 || e.number() == 1846;
}

QString lossKey(const QString& table, const QString& column) {
    return foldName(table) + '.' + foldName(column);
}

// Writes the copies of every value the accepted changes alter; returns the changes copied.
QSet<QString> copyLosses(Connection& conexao, const QList<SyncStep>& plan,
                         const SafeUpdateOptions& options) {
    const QString stamp = QDateTime::currentDateTime().toString("yyyyMMdd-hhmmss-zzz");
    QHash<QString, std::shared_ptr<DataCopy>> copies;
    QHash<QString, ColumnLoss> losses;
    checkValues(conexao, plan,
                [&](const ColumnLoss& loss, const QStringList& header, const QList<QVariant>& v) {
                    const QString key = lossKey(loss.table, loss.column);
                    auto& copy = copies[key];
                    if (!copy) {
                        copy = std::make_shared<DataCopy>(options.copyFolder, stamp, loss.table,
                                                          loss.column);
                        QList<QVariant> names;
                        for (const QString& h : header)
                            names << h;
                        copy->row(names);
                        losses.insert(key, loss);
                    }
                    copy->row(v);
                });
    QSet<QString> copied;
    for (auto it = copies.begin(); it != copies.end(); ++it) {
        it.value()->finish();
        if (options.copied)
            options.copied(it.value()->path(), losses.value(it.key()));
        copied.insert(it.key());
    }
    return copied;
}

qint64 orphanCount(Connection& conexao, const ForeignKey& key) {
    Recordset rs;
    rs.Open(orphanCountQuery(key, true), conexao);
    return rs.eof() ? 0 : rs.field(0).toLongLong();
}

// A key in place without the server's row check only over rows just counted clean, and the
// rows counted again once it is there: a row written meanwhile by another connection is
// the one thing the check off could let through.
void addForeignKey(Connection& conexao, const SyncStep& step, const LockWait& wait,
                   const std::function<void()>& idle) {
    const ForeignKey& key = step.keys.first();
    bool added = false;
    if (!step.clause.isEmpty() && orphanCount(conexao, key) == 0) {
        ForeignKeyChecksOff off(conexao);
        try {
            executeWaiting(conexao, step.text + step.clause, step.table, wait, idle);
            added = true;
        } catch (const KrvError& e) {
            if (!algorithmRefused(e))
                throw;
        }
    }
    if (!added)
        executeWaiting(conexao, step.text, step.table, wait, idle);
    if (const qint64 orphans = orphanCount(conexao, key); orphans > 0)
        throw KrvError(err::Database, "A chave estrangeira <" + key.name + "> " + key.describe() +
                                          " foi criada, mas " + QString::number(orphans) +
                                          " linha(s) gravada(s) por outra conexão durante a "
                                          "criação não têm correspondente.");
}

} // namespace

QString lossRefusal(const QList<ColumnLoss>& losses) {
    QStringList parts;
    for (const ColumnLoss& loss : losses)
        parts << lossText(loss);
    return "Arquivo de atualização recusado: " + parts.join("; ") +
           ". Nenhuma alteração foi feita no banco de dados.";
}

QString lossQuestion(const QList<ColumnLoss>& losses) {
    QStringList parts;
    for (const ColumnLoss& loss : losses)
        parts << "- " + lossText(loss);
    return "A atualização do banco de dados mudaria valores já guardados:\r\n" +
           parts.join("\r\n") +
           "\r\n\r\nUma cópia dos valores atuais será gravada em atualizacoes antes da "
           "alteração. Aplicar assim mesmo?";
}

void updateStructure(const UpdateFile& file, Connection& conexao, const SyncView& view,
                     const SafeUpdateOptions& options) {
    prepareLookups(file);
    SchemaSync sync(file, conexao, view);
    sync.leaveOutOrphanKeys(options.policy == DataChangePolicy::Allow);
    QList<SyncStep> plan = sync.plan();
    bool changes = false;
    for (const SyncStep& step : plan)
        changes = changes || step.kind == SyncStep::Statement;
    if (!changes) {
        // Nothing to change: no scratch table, no session setting, only what is shown.
        if (options.beforeLiveChanges)
            options.beforeLiveChanges();
        sync.apply(plan);
        if (options.keyLeftOut)
            for (const QString& key : sync.keysLeftOut())
                options.keyLeftOut(key);
        return;
    }

    SessionScope session(conexao);
    const LockWait wait = LockWait::fromEnvironment();
    // Copying a table's definition and reading its values wait for a table being altered
    // elsewhere too, but never for the server's default of a year.
    session.set(SessionScope::Strict, wait.totalSeconds);
    rehearse(conexao, plan);

    const QList<SyncStep> converting = valueChanging(plan);
    const ValueCheckResult check = checkValues(conexao, converting);
    if (!check.refusals.isEmpty())
        throw UpdateFileRefused(err::Database, check.refusals.join("\r\n"));

    QSet<QString> knowingly;
    if (!check.losses.isEmpty()) {
        const bool take =
            options.policy == DataChangePolicy::Allow ||
            (options.policy == DataChangePolicy::Ask && options.ask && options.ask(check.losses));
        if (!take)
            throw UpdateFileRefused(err::Database, lossRefusal(check.losses));
        knowingly = copyLosses(conexao, converting, options);
    }

    if (options.beforeLiveChanges)
        options.beforeLiveChanges();
    session.setLockWait(wait.trySeconds);
    sync.apply(plan, [&](const SyncStep& step) {
        const bool lenient = step.change == SyncStep::ModifyColumn &&
                             knowingly.contains(lossKey(step.table, step.column));
        // Taken knowingly: the server converts as it would have without the check.
        if (step.change == SyncStep::AddForeignKey)
            return addForeignKey(conexao, step, wait, options.idle);
        if (lenient)
            session.setMode(SessionScope::Lenient);
        try {
            executeWaiting(conexao, step.text + step.clause, step.table, wait, options.idle);
        } catch (const KrvError& e) {
            // Chosen on an empty copy; a live table may still refuse the algorithm.
            if (step.clause.isEmpty() || !algorithmRefused(e))
                throw;
            executeWaiting(conexao, step.text, step.table, wait, options.idle);
        }
        if (lenient)
            session.setMode(SessionScope::Strict);
    });
    if (options.keyLeftOut)
        for (const QString& key : sync.keysLeftOut())
            options.keyLeftOut(key);
}

} // namespace krv::database
