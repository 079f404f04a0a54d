#pragma once
// The throwaway MariaDB of the test suite: a fresh database per fixture, dropped afterwards.
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

namespace krv::test {

struct DbServer {
    static QString host() { return "127.0.0.1"; }
    static int port();
    static QString user() { return "krv"; }
    static QString password() { return "krv"; }
};

class ScratchDatabase {
public:
    // Creates a database with a unique name; fails the current test when the server is
    // not reachable.
    ScratchDatabase();
    ~ScratchDatabase();
    ScratchDatabase(const ScratchDatabase&) = delete;
    ScratchDatabase& operator=(const ScratchDatabase&) = delete;

    const QString& name() const { return name_; }
    bool ok() const { return ok_; }
    // "Driver={MariaDB};Server=127.0.0.1:PORT;Database=...;Uid=krv;Pwd=krv;Option=3;"
    QString connectionString() const;
    // A direct connection to it, independent of the product's own.
    QSqlDatabase db() const;
    // Runs statements, failing the test on the first error.
    void exec(const QString& sql) const;
    void exec(const QStringList& statements) const;
    // The first column of every row of a query.
    QStringList column(const QString& sql) const;
    // Every row of sql in its order, each field written out ("<value>", or NULL) and joined
    // by "|": equal lists mean equal rows, NULL and empty text told apart.
    QStringList rows(const QString& sql) const;
    QString scalar(const QString& sql) const;

private:
    QString name_;
    QString connName_;
    bool ok_ = false;
};

// Writes the seven lines of a Config.BD into folder (CR LF ends).
void writeConfigBD(const QString& folder, const QStringList& lines);

} // namespace krv::test
