// Schema sync benchmark: snapshot + comparison against a live database of N tables (20
// columns, 3 indexes each) with a few differences, and the floor: the same "show"
// statements sent by the mariadb client in one batch. Prints medians and their ratio.
// Usage: bench_schema PORT [N...]   (a MariaDB on 127.0.0.1:PORT, user krv/krv)
#include "database/connection.h"
#include "database/schema_snapshot.h"
#include "database/schema_sync.h"
#include "database/update_file.h"
#include "update_file_builder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

using namespace krv;
using namespace krv::database;

namespace {

int port = 0;
constexpr int kRuns = 5;

QString tableName(int i) {
    return QString("t%1").arg(i, 4, 10, QChar('0'));
}

// Runs sql through the mariadb client; returns seconds, or -1 on failure.
double client(const QString& database, const QByteArray& sql) {
    QProcess p;
    QElapsedTimer timer;
    timer.start();
    p.start("mariadb", {"--no-defaults", "-h127.0.0.1", "-P" + QString::number(port), "-ukrv",
                        "-pkrv", "--batch", database});
    p.write(sql);
    p.closeWriteChannel();
    p.waitForFinished(-1);
    const double seconds = timer.nsecsElapsed() / 1e9;
    if (p.exitCode() != 0) {
        std::fprintf(stderr, "mariadb: %s\n", p.readAllStandardError().constData());
        return -1;
    }
    p.readAllStandardOutput();
    return seconds;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Undoes what a run changed, so that every run meets the same differences.
const QStringList kReset = {
    "alter table t0001 modify column c05 varchar(40)", "alter table t0002 drop column novo",
    "alter table t0003 drop index ix2, add index ix2 (c02, c03)", "drop table if exists nova"};

void bench(int n) {
    const QString db = QString("bench_schema_%1").arg(n);
    QByteArray setup = "drop database if exists " + db.toUtf8() + "; create database " +
                       db.toUtf8() + "; use " + db.toUtf8() + ";\n";
    for (int i = 0; i < n; ++i) {
        QString t = "create table " + tableName(i) + " (id int NOT NULL auto_increment";
        for (int c = 1; c < 20; ++c)
            t += QString(", c%1 %2").arg(c, 2, 10, QChar('0')).arg(c % 3 ? "varchar(40)" : "int");
        t += ", primary key (id), key ix1 (c01), key ix2 (c02, c03));\n";
        setup += t.toUtf8();
    }
    if (client(QString(), setup) < 0)
        return;

    QSqlDatabase ref = QSqlDatabase::addDatabase("QMYSQL", "ref");
    ref.setHostName("127.0.0.1");
    ref.setPort(port);
    ref.setUserName("krv");
    ref.setPassword("krv");
    ref.setDatabaseName(db);
    if (!ref.open()) {
        std::fprintf(stderr, "%s\n", qPrintable(ref.lastError().text()));
        return;
    }
    QTemporaryDir dir;
    const QString base = dir.filePath("base.mdb");
    tools::buildUpdateFile(base, ref, {"000001", {}, {}});
    {
        // A few differences: a modified column, a missing column, a changed index, a new table.
        const UpdateFile f = openUpdateFile(base);
        f.execute(
            "update campos set type = 'varchar(60)' where [table] = 't0001' and field = 'c05'");
        f.execute("insert into campos values ('t0002','novo','int','YES','','','','')");
        f.execute("update indices set column_name = 'c04' where [table] = 't0003' and "
                  "key_name = 'ix2' and seq_in_index = 2");
        f.execute("insert into tabelas values ('nova')");
        f.execute("insert into campos values ('nova','a','int','YES','','','','')");
    }

    Conexao().Open(1,
                   QString("Server=127.0.0.1:%1;Database=%2;Uid=krv;Pwd=krv;").arg(port).arg(db));
    std::vector<double> ours, floor, snapshot;
    int statements = 0;
    for (int run = 0; run < kRuns; ++run) {
        for (const QString& s : kReset) {
            QSqlQuery q(ref);
            q.exec(s);
        }
        const QString path = dir.filePath(QString("run%1.mdb").arg(run));
        QFile::copy(base, path);
        statements = 0;
        QElapsedTimer timer;
        timer.start();
        {
            const UpdateFile file = openUpdateFile(path);
            LerEstrutura(file, Conexao());
            snapshot.push_back(timer.nsecsElapsed() / 1e9);
            prepareLookups(file);
            SyncView view;
            view.executed = [&](const QString&) { ++statements; };
            SchemaSync(file, Conexao(), view).run();
        }
        ours.push_back(timer.nsecsElapsed() / 1e9);

        QByteArray batch = "show tables;\n";
        for (int i = 0; i < n; ++i)
            batch += "show columns from " + tableName(i).toUtf8() + "; show index from " +
                     tableName(i).toUtf8() + ";\n";
        floor.push_back(client(db, batch));
    }
    const double a = median(ours), b = median(floor);
    std::printf("%5d tables: snapshot+comparison %.3f s (snapshot %.3f s), mariadb client floor "
                "%.3f s, ratio %.2f (%d statements per run, median of %d)\n",
                n, a, median(snapshot), b, a / b, statements, kRuns);
    std::fflush(stdout);
    ref.close();
    ref = QSqlDatabase();
    QSqlDatabase::removeDatabase("ref");
    client(QString(), "drop database " + db.toUtf8());
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_schema PORT [TABLES...]\n");
        return 2;
    }
    port = QString(argv[1]).toInt();
    std::vector<int> sizes;
    for (int i = 2; i < argc; ++i)
        sizes.push_back(QString(argv[i]).toInt());
    if (sizes.empty())
        sizes = {100, 500, 1000};
    for (int n : sizes)
        bench(n);
    return 0;
}
