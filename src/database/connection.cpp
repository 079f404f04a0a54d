#include "database/connection.h"

#include "database/connection_string.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlRecord>
#include <QUuid>
#include <mysql.h>

namespace krv::database {

namespace {
QString errorText(const QSqlError& e) {
    QString t = e.databaseText().isEmpty() ? e.text() : e.databaseText();
    return t.trimmed();
}
int errorNumber(const QSqlError& e) {
    bool ok = false;
    const int n = e.nativeErrorCode().toInt(&ok);
    return ok && n != 0 ? n : err::Database;
}
} // namespace

void Recordset::Open(const QString& sql, Connection& connection) {
    connection.requireOpen();
    QSqlQuery q(connection.database());
    q.setForwardOnly(true);
    if (!q.exec(sql))
        throw KrvError(errorNumber(q.lastError()), errorText(q.lastError()));
    query_ = std::move(q);
    eof_ = !query_->next();
}

void Recordset::moveNext() {
    if (!query_ || eof_)
        throw KrvError(3021, "Não há registro atual.");
    eof_ = !query_->next();
}

int Recordset::fieldCount() const {
    return query_ ? query_->record().count() : 0;
}

QString Recordset::fieldName(int index) const {
    return query_ ? query_->record().fieldName(index) : QString();
}

QVariant Recordset::field(int index) const {
    if (!query_ || eof_)
        throw KrvError(3021, "Não há registro atual.");
    if (index < 0 || index >= fieldCount())
        throw KrvError(3265, QString("Campo %1 não existe no resultado.").arg(index));
    return query_->value(index);
}

QVariant Recordset::field(const QString& name) const {
    if (!query_)
        throw KrvError(3021, "Não há registro atual.");
    const QSqlRecord rec = query_->record();
    for (int i = 0; i < rec.count(); ++i)
        if (rec.fieldName(i).compare(name, Qt::CaseInsensitive) == 0)
            return field(i);
    throw KrvError(3265, "Campo " + name + " não existe no resultado.");
}

Connection::Connection() : name_("krv-" + QUuid::createUuid().toString(QUuid::WithoutBraces)) {}

Connection::~Connection() {
    {
        QSqlDatabase db = QSqlDatabase::database(name_, false);
        if (db.isValid())
            db.close();
    }
    if (QSqlDatabase::contains(name_))
        QSqlDatabase::removeDatabase(name_);
}

void Connection::Open(int providerType, const QString& connectionString) {
    close();
    const ConnectionParams p = parseConnectionString(connectionString);
    if (providerType == 0 || p.provider.startsWith("Microsoft.Jet", Qt::CaseInsensitive))
        throw KrvError(err::Database,
                       "Bancos de dados Access (Jet) não podem ser abertos neste sistema.");
    if (providerType == 2)
        throw KrvError(err::Database, "Microsoft SQL Server não pode ser aberto neste sistema.");
    if (!QSqlDatabase::isDriverAvailable("QMYSQL"))
        throw KrvError(err::Database, "O driver MySQL/MariaDB do Qt não está instalado.");
    if (p.host.isEmpty())
        throw KrvError(err::Database, "A conexão não informa o servidor.");

    QSqlDatabase db = QSqlDatabase::contains(name_) ? QSqlDatabase::database(name_, false)
                                                    : QSqlDatabase::addDatabase("QMYSQL", name_);
    db.setHostName(p.host);
    db.setPort(p.port);
    db.setDatabaseName(p.database);
    db.setUserName(p.user);
    db.setPassword(p.password);
    db.setConnectOptions("MYSQL_OPT_CONNECT_TIMEOUT=10");
    if (!db.open())
        throw KrvError(errorNumber(db.lastError()), errorText(db.lastError()));
    // Qt's driver always asks for several statements per call; one call is one statement
    // here, so text that smuggles a second statement fails instead of running it.
    const QVariant v = db.driver()->handle();
    // The driver names the handle's type by the client library's structure.
    MYSQL* handle = v.isValid() && (qstrcmp(v.typeName(), "MYSQL*") == 0 ||
                                    qstrcmp(v.typeName(), "st_mysql*") == 0)
                        ? *static_cast<MYSQL* const*>(v.constData())
                        : nullptr;
    if (!handle || mysql_set_server_option(handle, MYSQL_OPTION_MULTI_STATEMENTS_OFF) != 0) {
        const QString reason = handle ? QString::fromUtf8(mysql_error(handle)) : QString();
        db.close();
        throw KrvError(err::Database,
                       "Não foi possível limitar a conexão a um comando por vez: " + reason);
    }
    readSqlMode();
}

void Connection::readSqlMode() {
    // Literals are written for the session's mode; the mode is the server's to set.
    QSqlQuery mode(database());
    if (!mode.exec("select @@session.sql_mode") || !mode.next())
        throw KrvError(errorNumber(mode.lastError()), errorText(mode.lastError()));
    backslashEscapes_ = !mode.value(0).toString().split(',').contains(
        QStringLiteral("NO_BACKSLASH_ESCAPES"), Qt::CaseInsensitive);
}

QString Connection::quote(const QString& value) const {
    return sqlQuote(value, backslashEscapes_);
}

bool Connection::isOpen() const {
    return QSqlDatabase::contains(name_) && QSqlDatabase::database(name_, false).isOpen();
}

void Connection::close() {
    if (QSqlDatabase::contains(name_))
        QSqlDatabase::database(name_, false).close();
}

void Connection::requireOpen() const {
    if (!isOpen())
        throw KrvError(err::NotConnected,
                       "A conexão com o banco de dados do sistema não está aberta.");
}

void Connection::Execute(const QString& sql) {
    requireOpen();
    QSqlQuery q(database());
    if (!q.exec(sql))
        throw KrvError(errorNumber(q.lastError()), errorText(q.lastError()));
}

QSqlDatabase Connection::database() const {
    return QSqlDatabase::database(name_, false);
}

Connection& Conexao() {
    static Connection c;
    return c;
}

void CriaRecordset(std::unique_ptr<Recordset>& rs, bool create) {
    rs.reset();
    if (create)
        rs = std::make_unique<Recordset>();
}

QString sqlQuote(const QString& value, bool backslashEscapes) {
    QString out = "'";
    for (QChar c : value) {
        if (c == '\'' || (backslashEscapes && c == '\\'))
            out += c;
        out += c;
    }
    return out + '\'';
}

Transaction::Transaction(Connection& connection) : db_(connection.database()) {
    connection.requireOpen();
    if (!db_.transaction())
        throw KrvError(err::Database,
                       "Não foi possível iniciar a transação: " + db_.lastError().text().trimmed());
}

Transaction::~Transaction() {
    if (!done_)
        db_.rollback();
}

void Transaction::commit() {
    if (!db_.commit())
        throw KrvError(err::Database,
                       "Não foi possível gravar a transação: " + db_.lastError().text().trimmed());
    done_ = true;
}

} // namespace krv::database
