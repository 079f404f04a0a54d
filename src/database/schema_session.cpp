#include "database/schema_session.h"

#include "database/connection.h"
#include "platform/krv_error.h"

#include <QElapsedTimer>
#include <QStringList>
#include <QThread>

namespace krv::database {

namespace {

constexpr int kLockWaitTimeout = 1205;

bool hasFlag(const QString& mode, const char* flag) {
    return mode.split(',').contains(QString::fromLatin1(flag), Qt::CaseInsensitive);
}

} // namespace

SessionScope::SessionScope(Connection& conexao) : conexao_(conexao) {
    Recordset rs;
    rs.Open("select @@session.sql_mode, @@session.lock_wait_timeout", conexao);
    if (!rs.eof()) {
        serverMode_ = rs.text(0);
        serverLockWait_ = rs.text(1);
    }
}

ForeignKeyChecksOff::ForeignKeyChecksOff(Connection& conexao) : conexao_(conexao) {
    Recordset rs;
    rs.Open("select @@session.foreign_key_checks", conexao_);
    previous_ = rs.eof() ? QStringLiteral("1") : rs.text(0);
    conexao_.Execute("set session foreign_key_checks = 0");
}

ForeignKeyChecksOff::~ForeignKeyChecksOff() {
    try {
        conexao_.Execute(previous_ == "0" ? "set session foreign_key_checks = 0"
                                          : "set session foreign_key_checks = 1");
    } catch (const KrvError&) {
        // A connection that is gone takes the setting with it.
    }
}

SessionScope::~SessionScope() {
    try {
        // One statement: each costs a round trip on a slow link.
        conexao_.Execute("set session sql_mode = " + conexao_.quote(serverMode_) +
                         ", session lock_wait_timeout = " +
                         QString::number(qMax(1LL, serverLockWait_.toLongLong())));
    } catch (const KrvError&) {
        // A connection lost on the way has no session left to put back.
    }
}

QString SessionScope::strictMode(const QString& serverMode) {
    QString mode = "STRICT_ALL_TABLES,NO_ENGINE_SUBSTITUTION";
    if (hasFlag(serverMode, "NO_BACKSLASH_ESCAPES"))
        mode += ",NO_BACKSLASH_ESCAPES";
    return mode;
}

QString SessionScope::lenientMode(const QString& serverMode) {
    QStringList kept;
    for (const QString& flag : serverMode.split(',', Qt::SkipEmptyParts))
        if (flag.compare("STRICT_ALL_TABLES", Qt::CaseInsensitive) != 0 &&
            flag.compare("STRICT_TRANS_TABLES", Qt::CaseInsensitive) != 0)
            kept << flag;
    return kept.join(',');
}

void SessionScope::setMode(Mode mode) {
    const QString m = mode == Strict ? strictMode(serverMode_) : lenientMode(serverMode_);
    conexao_.Execute("set session sql_mode = " + conexao_.quote(m));
}

void SessionScope::set(Mode mode, int lockWaitSeconds) {
    const QString m = mode == Strict ? strictMode(serverMode_) : lenientMode(serverMode_);
    conexao_.Execute("set session sql_mode = " + conexao_.quote(m) +
                     ", session lock_wait_timeout = " + QString::number(qMax(1, lockWaitSeconds)));
}

void SessionScope::setLockWait(int seconds) {
    conexao_.Execute("set session lock_wait_timeout = " + QString::number(qMax(1, seconds)));
}

LockWait LockWait::fromEnvironment() {
    LockWait w;
    bool ok = false;
    const int total = qEnvironmentVariableIntValue("ZELVOR_LOCK_WAIT", &ok);
    if (ok && total > 0)
        w.totalSeconds = total;
    w.trySeconds = qMin(w.trySeconds, w.totalSeconds);
    return w;
}

QString openTransactions(Connection& conexao) {
    try {
        Recordset rs;
        rs.Open("select p.id, p.user, p.host, timestampdiff(second, t.trx_started, now()) "
                "from information_schema.innodb_trx t join information_schema.processlist p "
                "on p.id = t.trx_mysql_thread_id where p.id <> connection_id() "
                "order by t.trx_started limit 3",
                conexao);
        QStringList holders;
        for (; !rs.eof(); rs.moveNext())
            holders << QString("id %1, %2@%3, transação aberta há %4 s")
                           .arg(rs.text(0), rs.text(1), rs.text(2), rs.text(3));
        return holders.join("; ");
    } catch (const KrvError&) {
        return {}; // the catalogue may be closed to this user
    }
}

void executeWaiting(Connection& conexao, const QString& sql, const QString& table,
                    const LockWait& wait, const std::function<void()>& idle) {
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        try {
            conexao.Execute(sql);
            return;
        } catch (const KrvError& e) {
            if (e.number() != kLockWaitTimeout)
                throw;
            if (waited.elapsed() + 500 < qint64(wait.totalSeconds) * 1000) {
                // Let the statements queued behind this one through before asking again.
                for (int i = 0; i < 5; ++i) {
                    if (idle)
                        idle();
                    QThread::msleep(100);
                }
                continue;
            }
            const QString who = openTransactions(conexao);
            throw KrvError(err::TableInUse,
                           QString("A tabela <%1> está em uso por outra conexão%2 e não ficou "
                                   "livre em %3 s. A atualização parou antes de alterá-la; o que "
                                   "já foi feito fica, e a próxima execução continua daqui.")
                               .arg(table, who.isEmpty() ? QString() : " (" + who + ")")
                               .arg(wait.totalSeconds));
        }
    }
}

} // namespace krv::database
