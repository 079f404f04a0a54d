#pragma once
// The one connection to the suite's database (Conexao) and the recordsets read through it.
// MySQL/MariaDB through Qt SQL; the provider types Zelvor cannot reach on Linux fail to
// open with a reason.
#include "platform/krv_error.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <memory>
#include <optional>

namespace krv::database {

class Connection;

// A forward-only set of rows from one query. Fields by position or by name (the case of
// the name does not matter).
class Recordset {
public:
    // Runs sql on the connection; throws KrvError when the connection is not open or the
    // statement fails.
    void Open(const QString& sql, Connection& connection);
    bool isOpen() const { return query_.has_value(); }
    bool eof() const { return eof_; }
    void moveNext();
    int fieldCount() const;
    QString fieldName(int index) const;
    QVariant field(int index) const;
    QVariant field(const QString& name) const;
    // The field as text; null gives empty text.
    QString text(int index) const { return field(index).toString(); }
    QString text(const QString& name) const { return field(name).toString(); }

private:
    std::optional<QSqlQuery> query_;
    bool eof_ = true;
};

class Connection {
public:
    Connection();
    ~Connection();

    // Opens with an ADO-style connection string for the given provider type (0 Jet,
    // 1 MySQL, 2 SQL Server); throws KrvError with the reason when it cannot.
    void Open(int providerType, const QString& connectionString);
    bool isOpen() const;
    void close();

    // Runs a statement that returns no rows; throws KrvError on failure or when not open.
    void Execute(const QString& sql);

    // The underlying database, for transactions and prepared statements.
    QSqlDatabase database() const;

    // Whether a backslash escapes in the session's literals (sql_mode without
    // NO_BACKSLASH_ESCAPES), read once when the connection opens.
    bool backslashEscapes() const { return backslashEscapes_; }
    // Reads the session's sql_mode; Open calls it. Throws KrvError.
    void readSqlMode();
    // A literal that means value in this session's mode.
    QString quote(const QString& value) const;

    // Throws the "not open" error when the connection was never opened.
    void requireOpen() const;

private:
    QString name_;
    bool backslashEscapes_ = true;
};

// The shared connection, created on first use.
Connection& Conexao();

// Releases whatever rs holds and, when create is true, puts a fresh unopened recordset in it.
void CriaRecordset(std::unique_ptr<Recordset>& rs, bool create);

// A literal for MySQL/MariaDB statements: the value between apostrophes, each apostrophe
// doubled (which both escaping modes read alike), and each backslash doubled when the
// session reads backslashes as escapes.
QString sqlQuote(const QString& value, bool backslashEscapes = true);

// One transaction on a connection, undone unless committed: a failure anywhere between
// leaves the data as it was.
class Transaction {
public:
    explicit Transaction(Connection& connection);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit();

private:
    QSqlDatabase db_;
    bool done_ = false;
};

} // namespace krv::database
