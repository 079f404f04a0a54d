#include "database/connection_string.h"

namespace krv::database {

ConnectionParams parseConnectionString(const QString& text) {
    ConnectionParams p;
    int explicitPort = -1;
    qsizetype i = 0;
    while (i < text.size()) {
        const qsizetype eq = text.indexOf('=', i);
        if (eq < 0)
            break;
        const QString key = text.mid(i, eq - i).trimmed().toLower();
        QString value;
        qsizetype end;
        if (eq + 1 < text.size() && text[eq + 1] == '{') {
            // Braced value: may hold ";" ("}}" stands for a brace).
            qsizetype j = eq + 2;
            while (j < text.size()) {
                if (text[j] == '}') {
                    if (j + 1 < text.size() && text[j + 1] == '}') {
                        value += '}';
                        j += 2;
                        continue;
                    }
                    break;
                }
                value += text[j++];
            }
            end = text.indexOf(';', j);
        } else {
            end = text.indexOf(';', eq + 1);
            value = text.mid(eq + 1, (end < 0 ? text.size() : end) - eq - 1);
        }
        i = end < 0 ? text.size() : end + 1;

        if (key == "provider")
            p.provider = value.trimmed();
        else if (key == "driver")
            p.driver = value;
        else if (key == "server" || key == "host" || key == "data source")
            p.host = value.trimmed();
        else if (key == "database" || key == "db" || key == "initial catalog")
            p.database = value.trimmed();
        else if (key == "uid" || key == "user" || key == "user id")
            p.user = value;
        else if (key == "pwd" || key == "password")
            p.password = value;
        else if (key == "port") {
            bool ok = false;
            const int n = value.trimmed().toInt(&ok);
            if (ok)
                explicitPort = n;
        }
    }
    const qsizetype colon = p.host.lastIndexOf(':');
    if (colon > 0) {
        bool ok = false;
        const int n = p.host.mid(colon + 1).toInt(&ok);
        if (ok) {
            p.port = n;
            p.host.truncate(colon);
        }
    }
    if (explicitPort > 0)
        p.port = explicitPort;
    return p;
}

QString jetConnectionString(const QString& databasePath) {
    return "PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=" + databasePath + ";Jet OLEDB:Database";
}

QString odbcConnectionString(const QString& driver, const QString& server, const QString& database,
                             const QString& user, const QString& password) {
    return "Driver={" + driver + "};Server=" + server + ";Database=" + database + ";Uid=" + user +
           ";Pwd=" + password + ";Option=3;";
}

} // namespace krv::database
