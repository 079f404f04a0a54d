#pragma once
// Connection strings as the suite writes them ("Driver={...};Server=...;Database=...;
// Uid=...;Pwd=...;Port=...;Option=3;", or a Jet/OLE DB provider string), parsed into what a
// MySQL/MariaDB connection needs.
#include <QString>

namespace krv::database {

struct ConnectionParams {
    QString provider; // "PROVIDER=" value, empty for an ODBC string
    QString driver;
    QString host;
    int port = 3306;
    QString database;
    QString user;
    QString password;
};

// Keys are case-insensitive; a value may be wrapped in braces; "Server=host:port" and a
// separate "Port=N" are both accepted.
ConnectionParams parseConnectionString(const QString& text);

// The strings the connection routine passes to the database layer.
QString jetConnectionString(const QString& databasePath);
QString odbcConnectionString(const QString& driver, const QString& server, const QString& database,
                             const QString& user, const QString& password);

} // namespace krv::database
