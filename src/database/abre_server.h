#pragma once
// Opening the shared connection from Config.BD, repairing Zelvor's copy of that file from
// the suite's own when the connection it describes cannot be opened.
#include <QString>
#include <cstdint>
#include <optional>

namespace krv::database {

// The seven lines of a Config.BD.
struct ConfigBD {
    std::int16_t provider = 0;
    QString connection;                               // line 2
    QString server, user, password, database, driver; // lines 3 to 7
};

// Reads folder + "\Config.BD"; empty when it is missing, unreadable, shorter than seven
// lines, or its first line is no 16-bit integer (blanks around it are allowed).
std::optional<ConfigBD> readConfigBD(const QString& folder);

// The bytes of the repaired Config.BD: seven lines ended by CR LF.
QByteArray repairedConfigBD(std::int16_t provider, const QString& odbc, const ConfigBD& suite,
                            const QString& driver);

// Opens Conexao from DirSisExe's Config.BD, or through the repair path from DirSis's.
// 0 when open (or the provider type is none of 0, 1, 2), 1 when it could not be opened.
std::int16_t AbreServer();

} // namespace krv::database
