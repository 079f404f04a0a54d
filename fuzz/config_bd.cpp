// Config.BD as the connection routine reads it, the connection string in its second line,
// and the repaired file written back from it.
#include "database/abre_server.h"
#include "database/connection_string.h"
#include "scratch_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace krv;
    using namespace krv::database;
    fuzz::writeScratch("Config.BD", data, size);
    const QString folder = fuzz::scratchFolder();
    const auto config = readConfigBD(folder);
    if (!config)
        return 0;
    (void)parseConnectionString(config->connection);
    const QString odbc = odbcConnectionString(config->driver, config->server, config->database,
                                              config->user, config->password);
    (void)parseConnectionString(odbc);
    const QByteArray repaired = repairedConfigBD(config->provider, odbc, *config, config->driver);
    fuzz::writeScratch("Config.BD", reinterpret_cast<const std::uint8_t*>(repaired.constData()),
                       std::size_t(repaired.size()));
    const auto again = readConfigBD(folder);
    if (!again || again->provider != config->provider)
        fuzz::fail("the repaired Config.BD does not read back");
    return 0;
}
