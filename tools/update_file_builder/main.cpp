// krv-update-file: writes an update file from a reference database. See
// docs/update-file-builder.md.
#include "database/connection_string.h"
#include "platform/krv_error.h"
#include "update_file_builder.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlError>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("krv-update-file");
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Writes an update file (krv.mdb) describing a reference MariaDB/MySQL database.");
    parser.addHelpOption();
    parser.addPositionalArgument("output", "the update file to write (must not exist)");
    parser.addOption({"connect",
                      "the reference database, as a connection string: "
                      "\"Server=host[:port];Database=name;Uid=user;Pwd=password;\"",
                      "string"});
    parser.addOption({"codatu", "the update code written into numero.CodAtu", "code"});
    parser.addOption(
        {"auto", "text for campos.auto of one column (repeatable)", "table.field=text"});
    parser.addOption({"table", "take only this table (repeatable)", "name"});
    parser.process(app);

    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1 || !parser.isSet("connect") || !parser.isSet("codatu")) {
        std::fprintf(stderr, "usage: krv-update-file --connect STRING --codatu CODE "
                             "[--auto T.F=TEXT]... [--table T]... OUTPUT\n");
        return 2;
    }

    krv::tools::BuildOptions options;
    options.codAtu = parser.value("codatu");
    options.tables = parser.values("table");
    for (const QString& a : parser.values("auto")) {
        const qsizetype eq = a.indexOf('=');
        if (eq <= 0 || !a.left(eq).contains('.')) {
            std::fprintf(stderr, "--auto wants table.field=text, got: %s\n", qPrintable(a));
            return 2;
        }
        options.autoText.insert(a.left(eq), a.mid(eq + 1));
    }

    const auto p = krv::database::parseConnectionString(parser.value("connect"));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QMYSQL", "reference");
        db.setHostName(p.host);
        db.setPort(p.port);
        db.setDatabaseName(p.database);
        db.setUserName(p.user);
        db.setPassword(p.password);
        if (!db.open()) {
            std::fprintf(stderr, "cannot connect to the reference database: %s\n",
                         qPrintable(db.lastError().text()));
            return 1;
        }
        try {
            krv::tools::buildUpdateFile(positional.first(), db, options);
        } catch (const krv::KrvError& e) {
            std::fprintf(stderr, "%s\n", qPrintable(e.description()));
            return 1;
        }
    }
    QSqlDatabase::removeDatabase("reference");
    return 0;
}
