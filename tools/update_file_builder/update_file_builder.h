#pragma once
// The maker's side of a database update: writes an update file (an SQLite krv.mdb) whose
// reference tables describe the structure of a reference MariaDB/MySQL database.
#include <QMap>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

namespace krv::database {
class UpdateFile;
}

namespace krv::tools {

struct BuildOptions {
    QString codAtu;                  // numero.CodAtu; empty leaves numero without a row
    QMap<QString, QString> autoText; // "table.field" (any case) -> campos.auto
    QStringList tables;              // only these tables (any case); empty: all
};

// Creates the tables of an update file, empty, in file.
void createUpdateFileTables(const database::UpdateFile& file);

// Writes numero, tabelas, campos, indices, estrangeiras and objetos from the open reference
// database.
void writeReference(const database::UpdateFile& file, QSqlDatabase reference,
                    const BuildOptions& options);

// Creates the file at path (it must not exist) and fills it. Throws KrvError.
void buildUpdateFile(const QString& path, QSqlDatabase reference, const BuildOptions& options);

} // namespace krv::tools
