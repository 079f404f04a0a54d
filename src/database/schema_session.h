#pragma once
// The suite connection's session settings while the structure changes: a strict sql_mode for
// the schema statements (the server refuses a value instead of changing it), a lenient one
// for the scratch copies and for a change taken knowingly, and bounded waits for a table
// another connection holds. Everything is put back as the server had it afterwards, so the
// menu reload and the bookkeeping keep the server's own mode.
#include <QString>
#include <functional>

namespace krv::database {

class Connection;

class SessionScope {
public:
    enum Mode { Strict, Lenient };
    explicit SessionScope(Connection& conexao);
    ~SessionScope();
    SessionScope(const SessionScope&) = delete;
    SessionScope& operator=(const SessionScope&) = delete;

    void setMode(Mode mode);
    void setLockWait(int seconds);
    // Both in one statement: each costs a round trip on a slow link.
    void set(Mode mode, int lockWaitSeconds);
    const QString& serverMode() const { return serverMode_; }

    // STRICT_ALL_TABLES and NO_ENGINE_SUBSTITUTION, with NO_BACKSLASH_ESCAPES when the server
    // had it (literals are written for that); the server's mode without its strict flags.
    static QString strictMode(const QString& serverMode);
    static QString lenientMode(const QString& serverMode);

private:
    Connection& conexao_;
    QString serverMode_;
    QString serverLockWait_;
};

// The server's checking of foreign keys off for this connection while it lives, then as it
// was: only around a key added over rows already counted, and around the scratch copies.
class ForeignKeyChecksOff {
public:
    explicit ForeignKeyChecksOff(Connection& conexao);
    ~ForeignKeyChecksOff();
    ForeignKeyChecksOff(const ForeignKeyChecksOff&) = delete;
    ForeignKeyChecksOff& operator=(const ForeignKeyChecksOff&) = delete;

private:
    Connection& conexao_;
    QString previous_;
};

// How long a schema statement waits for a table another connection holds, in all (default
// 20 s, ZELVOR_LOCK_WAIT) and per try: between tries the others' queued statements run, so
// nobody waits behind the update for longer than one try.
struct LockWait {
    int totalSeconds = 20;
    int trySeconds = 2;
    static LockWait fromEnvironment();
};

// Runs sql on table; while another connection holds the table, tries again until the wait
// is spent, calling idle between tries, then throws KrvError (err::TableInUse) naming the
// table and, where the server tells, the connection holding it.
void executeWaiting(Connection& conexao, const QString& sql, const QString& table,
                    const LockWait& wait, const std::function<void()>& idle = {});

// Who holds a transaction open, as far as the server tells this user: "id 12, krv@host,
// transação aberta há 13 s"; empty when it tells nothing.
QString openTransactions(Connection& conexao);

} // namespace krv::database
