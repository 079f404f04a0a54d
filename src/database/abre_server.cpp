#include "database/abre_server.h"

#include "common/text.h"
#include "common/updatekrv.h"
#include "database/connection.h"
#include "database/connection_string.h"
#include "platform/paths.h"

#include <QFile>
#include <QSaveFile>

namespace krv::database {

std::optional<ConfigBD> readConfigBD(const QString& folder) {
    const auto lines = text::readTextLines(platform::winJoin(folder, "\\Config.BD"));
    if (!lines || lines->size() < 7)
        return std::nullopt;
    bool ok = false;
    const int type = lines->at(0).trimmed().toInt(&ok);
    if (!ok || type < -32768 || type > 32767)
        return std::nullopt;
    ConfigBD c;
    c.provider = static_cast<std::int16_t>(type);
    c.connection = lines->at(1);
    c.server = lines->at(2);
    c.user = lines->at(3);
    c.password = lines->at(4);
    c.database = lines->at(5);
    c.driver = lines->at(6);
    return c;
}

QByteArray repairedConfigBD(std::int16_t provider, const QString& odbc, const ConfigBD& suite,
                            const QString& driver) {
    const QStringList lines{text::printForm(provider),
                            odbc,
                            suite.server,
                            suite.user,
                            suite.password,
                            suite.database,
                            driver};
    // The suite's tools read this file in the system code page.
    return text::toCp1252(lines.join("\r\n") + "\r\n");
}

std::int16_t AbreServer() {
    using namespace updatekrv;
    const auto own = readConfigBD(DirSisExe);
    if (!own)
        return 1;
    try {
        switch (own->provider) {
        case 0:
            Conexao().Open(0, jetConnectionString(own->connection));
            return 0;
        case 1:
        case 2:
            Conexao().Open(own->provider, own->connection);
            return 0;
        default:
            // Nothing is opened; the first use of the connection says so.
            return 0;
        }
    } catch (const KrvError&) {
        // Falls through to the repair path.
    }

    if (DirSis == DirSisExe)
        return 1;
    const auto suite = readConfigBD(DirSis);
    if (!suite)
        return 1;
    const QString odbc = odbcConnectionString(own->driver, suite->server, suite->database,
                                              suite->user, suite->password);
    try {
        Conexao().Open(1, odbc);
    } catch (const KrvError&) {
        return 1;
    }
    // The connection is open; a file that cannot be rewritten only means the repair is
    // done again next time.
    QSaveFile out(platform::winJoin(DirSisExe, "\\Config.BD"));
    if (out.open(QIODevice::WriteOnly)) {
        out.write(repairedConfigBD(own->provider, odbc, *suite, own->driver));
        out.commit();
    }
    return 0;
}

} // namespace krv::database
