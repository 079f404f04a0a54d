// Schema sync benchmark: snapshot + comparison against a live database of N tables (20
// columns, 3 indexes each) with a few differences, and the floor: the per-table "show"
// statements sent by the mariadb client in one batch. Prints medians and their ratio.
// With --rtt-ms, the program and the client reach the server through a loopback proxy
// that delays every byte by half that round trip each way.
// Usage: bench_schema PORT [--rtt-ms MS] [--rows R] [N...]   (a MariaDB on 127.0.0.1:PORT)
#include "database/connection.h"
#include "database/rehearsal.h"
#include "database/safe_update.h"
#include "database/schema_session.h"
#include "database/schema_snapshot.h"
#include "database/schema_sync.h"
#include "database/update_file.h"
#include "database/value_check.h"
#include "latency_proxy.h"
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
#include <memory>
#include <utility>

using namespace krv;
using namespace krv::database;

namespace {

int port = 0;     // the server, for setting up
int measured = 0; // the port the timed work goes through: the server's or the proxy's
int rttMs = 0;    // 0: straight to the server
constexpr int kRuns = 5;

QString tableName(int i) {
    return QString("t%1").arg(i, 4, 10, QChar('0'));
}

// Runs sql through the mariadb client; returns seconds, or -1 on failure.
double client(const QString& database, const QByteArray& sql, int through = port) {
    QProcess p;
    QElapsedTimer timer;
    timer.start();
    p.start("mariadb", {"--no-defaults", "-h127.0.0.1", "-P" + QString::number(through), "-ukrv",
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

// A direct connection to database, straight to the server; closed when it failed.
QSqlDatabase openReference(const QString& database) {
    QSqlDatabase ref = QSqlDatabase::addDatabase("QMYSQL", "ref");
    ref.setHostName("127.0.0.1");
    ref.setPort(port);
    ref.setUserName("krv");
    ref.setPassword("krv");
    ref.setDatabaseName(database);
    if (!ref.open())
        std::fprintf(stderr, "%s\n", qPrintable(ref.lastError().text()));
    return ref;
}

// Undoes what a run changed, so that every run meets the same differences.
const QStringList kReset = {
    "alter table t0001 modify column c05 varchar(40)", "alter table t0002 drop column novo",
    "alter table t0003 drop index ix2, add index ix2 (c02, c03)", "drop table if exists nova"};

void measure(int n) {
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

    QSqlDatabase ref = openReference(db);
    if (!ref.isOpen()) {
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
        // Named columns, so that the rows stay valid when the file format grows a column.
        const QString column = "insert into campos ([table], field, type, [null], [key], extra, "
                               "auto) values (?, ?, 'int', 'YES', '', '', '')";
        f.execute(column, {"t0002", "novo"});
        f.execute("update indices set column_name = 'c04' where [table] = 't0003' and "
                  "key_name = 'ix2' and seq_in_index = 2");
        f.execute("insert into tabelas ([table], engine, charset, collation) select 'nova', "
                  "engine, charset, collation from tabelas where [table] = 't0001'");
        f.execute(column, {"nova", "a"});
    }

    Conexao().Open(
        1, QString("Server=127.0.0.1:%1;Database=%2;Uid=krv;Pwd=krv;").arg(measured).arg(db));
    // One run of snapshot + comparison on a fresh copy of the update file; returns the
    // seconds of the whole and of the snapshot alone.
    int statements = 0;
    auto timeRun = [&](const QString& name, bool perTable) {
        for (const QString& s : kReset) {
            QSqlQuery q(ref);
            q.exec(s);
        }
        const QString path = dir.filePath(name);
        QFile::remove(path);
        QFile::copy(base, path);
        statements = 0;
        QElapsedTimer timer;
        timer.start();
        double snapshotSeconds = 0;
        {
            const UpdateFile file = openUpdateFile(path);
            if (perTable)
                LerEstruturaPorTabela(file, Conexao());
            else
                LerEstrutura(file, Conexao());
            snapshotSeconds = timer.nsecsElapsed() / 1e9;
            prepareLookups(file);
            SyncView view;
            view.executed = [&](const QString&) { ++statements; };
            updateStructure(file, Conexao(), view, SafeUpdateOptions{});
        }
        return std::pair(timer.nsecsElapsed() / 1e9, snapshotSeconds);
    };

    std::vector<double> ours, floor, snapshot, perTable;
    for (int run = 0; run < kRuns; ++run) {
        const auto [whole, part] = timeRun(QString("run%1.mdb").arg(run), false);
        ours.push_back(whole);
        snapshot.push_back(part);
        // The per-table reading as it was, for comparison; through a slow link it is the
        // floor's time again, so it is left out there.
        if (rttMs == 0)
            perTable.push_back(timeRun(QString("pertable%1.mdb").arg(run), true).first);

        QByteArray batch = "show tables;\n";
        for (int i = 0; i < n; ++i)
            batch += "show columns from " + tableName(i).toUtf8() + "; show index from " +
                     tableName(i).toUtf8() + ";\n";
        floor.push_back(client(db, batch, measured));
    }
    const double a = median(ours), b = median(floor);
    std::printf("%5d tables%s: snapshot+comparison %.3f s (snapshot %.3f s), mariadb client "
                "floor %.3f s, ratio %.3f",
                n, rttMs ? qPrintable(QString(" at %1 ms round trip").arg(rttMs)) : "", a,
                median(snapshot), b, a / b);
    if (!perTable.empty())
        std::printf("; per-table snapshot+comparison %.3f s, ratio %.2f", median(perTable),
                    median(perTable) / b);
    std::printf(" (%d statements per run, median of %d)\n", statements, kRuns);
    std::fflush(stdout);
    ref.close();
    ref = QSqlDatabase();
    QSqlDatabase::removeDatabase("ref");
    client(QString(), "drop database " + db.toUtf8());
}

// The proof before a change on one large table: the rehearsal on an empty copy and the value
// check on every row, beside the "alter table" itself, for a column change the server copies
// the table for (varchar(40) to varchar(100) in utf8mb4 crosses 255 bytes).
void measureRows(int rows) {
    const QString db = "bench_schema_rows";
    if (client(QString(), "drop database if exists " + db.toUtf8() + "; create database " +
                              db.toUtf8() + "; use " + db.toUtf8() +
                              "; create table big (id int NOT NULL auto_increment, nome "
                              "varchar(40), cidade varchar(30), valor decimal(12,2), criado "
                              "datetime, primary key (id)) engine=InnoDB; insert into big "
                              "(nome, cidade, valor, criado) select concat('nome ', seq), "
                              "concat('cidade ', seq % 1000), seq / 7, now() from seq_1_to_" +
                              QByteArray::number(rows) + ";\n") < 0)
        return;
    QSqlDatabase ref = openReference(db);
    if (!ref.isOpen())
        return;
    QTemporaryDir dir;
    const QString path = dir.filePath("krv.mdb");
    tools::buildUpdateFile(path, ref, {"000001", {}, {}});
    const UpdateFile file = openUpdateFile(path);
    file.execute("update campos set type = 'varchar(100)' where field = 'nome'");
    Conexao().Open(
        1, QString("Server=127.0.0.1:%1;Database=%2;Uid=krv;Pwd=krv;").arg(measured).arg(db));
    LerEstrutura(file, Conexao());
    prepareLookups(file);

    std::vector<double> proof, alter;
    QString algorithm, sql;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer timer;
        timer.start();
        {
            QList<SyncStep> plan = SchemaSync(file, Conexao()).plan();
            SessionScope session(Conexao());
            session.setMode(SessionScope::Strict);
            rehearse(Conexao(), plan);
            const ValueCheckResult check = checkValues(Conexao(), valueChanging(plan));
            if (!check.losses.isEmpty() || !check.refusals.isEmpty())
                std::fprintf(stderr, "unexpected: values would change\n");
            for (const SyncStep& s : plan)
                if (s.kind == SyncStep::Statement) {
                    algorithm = s.algorithm;
                    sql = s.text + s.clause;
                }
        }
        proof.push_back(timer.nsecsElapsed() / 1e9);
        timer.restart();
        Conexao().Execute(sql);
        alter.push_back(timer.nsecsElapsed() / 1e9);
        Conexao().Execute("alter table big modify column nome varchar(40)");
    }
    const double a = median(proof), b = median(alter);
    std::printf("%d rows, varchar(40) -> varchar(100) (%s): rehearsal+value check %.3f s, "
                "alter table %.3f s, ratio %.2f (median of 3)\n",
                rows, qPrintable(algorithm), a, b, a / b);
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
        std::fprintf(stderr, "usage: bench_schema PORT [--rtt-ms MS] [TABLES...]\n");
        return 2;
    }
    port = measured = QString(argv[1]).toInt();
    std::vector<int> sizes;
    int rows = 0;
    for (int i = 2; i < argc; ++i) {
        if (QString(argv[i]) == "--rtt-ms" && i + 1 < argc)
            rttMs = QString(argv[++i]).toInt();
        else if (QString(argv[i]) == "--rows" && i + 1 < argc)
            rows = QString(argv[++i]).toInt();
        else
            sizes.push_back(QString(argv[i]).toInt());
    }
    if (sizes.empty() && rows == 0)
        sizes = {100, 500, 1000};
    std::unique_ptr<bench::LatencyProxy> proxy;
    if (rttMs > 0) {
        proxy = std::make_unique<bench::LatencyProxy>(port, rttMs);
        measured = proxy->port();
    }
    for (int n : sizes)
        measure(n);
    if (rows > 0)
        measureRows(rows);
    Conexao().close();
    return 0;
}
