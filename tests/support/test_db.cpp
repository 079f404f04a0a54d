#include "test_db.h"

#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUuid>
#include <atomic>
#include <gtest/gtest.h>
#include <unistd.h>

namespace krv::test {

int DbServer::port() {
    if (qEnvironmentVariableIsSet("KRV_TEST_DB_PORT"))
        return qEnvironmentVariableIntValue("KRV_TEST_DB_PORT");
    return KRV_TEST_DB_PORT;
}

namespace {
QSqlDatabase openAdmin(const QString& connName, const QString& database) {
    QSqlDatabase db = QSqlDatabase::addDatabase("QMYSQL", connName);
    db.setHostName(DbServer::host());
    db.setPort(DbServer::port());
    db.setUserName(DbServer::user());
    db.setPassword(DbServer::password());
    db.setDatabaseName(database);
    db.open();
    return db;
}
} // namespace

ScratchDatabase::ScratchDatabase() {
    static std::atomic<int> counter{0};
    name_ = QString("krvtest_%1_%2").arg(::getpid()).arg(++counter);
    connName_ = "scratch-" + name_;
    {
        QSqlDatabase admin = openAdmin(connName_ + "-admin", QString());
        if (!admin.isOpen()) {
            ADD_FAILURE() << "the test MariaDB is not reachable on port " << DbServer::port()
                          << ": " << admin.lastError().text().toStdString();
        } else {
            QSqlQuery q(admin);
            ok_ = q.exec("DROP DATABASE IF EXISTS " + name_) &&
                  q.exec("CREATE DATABASE " + name_ + " CHARACTER SET utf8mb4");
            if (!ok_)
                ADD_FAILURE() << q.lastError().text().toStdString();
        }
    }
    QSqlDatabase::removeDatabase(connName_ + "-admin");
    if (ok_)
        openAdmin(connName_, name_);
}

ScratchDatabase::~ScratchDatabase() {
    {
        QSqlDatabase d = QSqlDatabase::database(connName_, false);
        if (d.isOpen()) {
            QSqlQuery q(d);
            q.exec("DROP DATABASE IF EXISTS " + name_);
            d.close();
        }
    }
    QSqlDatabase::removeDatabase(connName_);
}

QString ScratchDatabase::connectionString() const {
    return QString("Driver={MariaDB};Server=%1:%2;Database=%3;Uid=%4;Pwd=%5;Option=3;")
        .arg(DbServer::host())
        .arg(DbServer::port())
        .arg(name_, DbServer::user(), DbServer::password());
}

QSqlDatabase ScratchDatabase::db() const {
    return QSqlDatabase::database(connName_, false);
}

namespace {
// Runs sql on q; a failure fails the test, naming the statement and the server's words.
bool execOrFail(QSqlQuery& q, const QString& sql) {
    if (q.exec(sql))
        return true;
    ADD_FAILURE() << sql.toStdString() << ": " << q.lastError().text().toStdString();
    return false;
}
} // namespace

void ScratchDatabase::exec(const QString& sql) const {
    QSqlQuery q(db());
    execOrFail(q, sql);
}

void ScratchDatabase::exec(const QStringList& statements) const {
    for (const QString& s : statements)
        exec(s);
}

QStringList ScratchDatabase::column(const QString& sql) const {
    QSqlQuery q(db());
    QStringList out;
    if (!execOrFail(q, sql))
        return out;
    while (q.next())
        out << q.value(0).toString();
    return out;
}

QStringList ScratchDatabase::rows(const QString& sql) const {
    QSqlQuery q(db());
    QStringList out;
    if (!execOrFail(q, sql))
        return out;
    while (q.next()) {
        QStringList fields;
        for (int i = 0; i < q.record().count(); ++i)
            fields << (q.value(i).isNull() ? "NULL" : "<" + q.value(i).toString() + ">");
        out << fields.join('|');
    }
    return out;
}

QString ScratchDatabase::scalar(const QString& sql) const {
    const QStringList c = column(sql);
    return c.isEmpty() ? QString() : c.first();
}

void writeConfigBD(const QString& folder, const QStringList& lines) {
    QFile f(folder + "/Config.BD");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    for (const QString& l : lines)
        f.write(l.toUtf8() + "\r\n");
}

} // namespace krv::test
