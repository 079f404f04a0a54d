// Menu reload benchmark: a generated menu file of N lines loaded by the real menu window,
// shown under the offscreen platform, into a MariaDB on loopback. Each run is its own
// process, as the window ends the program when it is done. Prints rows per second per run
// and the median.
// Usage: bench_menu PORT [ROWS] [RUNS]   (a MariaDB on 127.0.0.1:PORT, user krv/krv)
#include "common/text.h"
#include "common/updatekrv.h"
#include "database/connection.h"
#include "platform/forms.h"
#include "platform/program.h"
#include "platform/test_hook.h"
#include "runs/frm_atual_menu.h"
#include "runs/run_session.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

using namespace krv;

namespace {

const QString kDatabase = "krv_bench_menu";

QString connectionString(int port) {
    return QString("Driver={MariaDB};Server=127.0.0.1:%1;Database=%2;Uid=krv;Pwd=krv;Option=3;")
        .arg(port)
        .arg(kDatabase);
}

// A menu of realistic records: every field used, accents, a few apostrophes.
QByteArray menuFile(int rows) {
    QByteArray out;
    out.reserve(rows * 157);
    for (int i = 0; i < rows; ++i) {
        const QString sistema = QString("Sistema %1").arg(i / 500);
        const QString menu = i % 7 ? QString("Cadastro de opção %1").arg(i) : "D'Ávila relatório";
        const QString line =
            sistema.leftJustified(50) + QString::number(i % 1000).rightJustified(3, '0') +
            menu.leftJustified(30).left(30) + QString("mnu%1").arg(i).leftJustified(20) +
            QString::number(i % 5) + QString("mnu%1").arg(i / 10).leftJustified(50) +
            QString::number(i % 2);
        out += text::toCp1252(line) + "\r\n";
    }
    return out;
}

bool exec(QSqlDatabase& db, const QString& sql) {
    QSqlQuery q(db);
    if (q.exec(sql))
        return true;
    std::fprintf(stderr, "%s: %s\n", qPrintable(sql), qPrintable(q.lastError().text()));
    return false;
}

// One reload in this process: prints the seconds from showing the window to the run's end.
int once(int argc, char** argv, int port, const QString& dirSis) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir hookDir;
    qputenv("ZELVOR_TEST_TRANSCRIPT", hookDir.filePath("transcript.txt").toUtf8());
    qputenv("ZELVOR_TEST_TIMEOUT", "0");
    QApplication app(argc, argv);
    platform::hook::install();
    database::Conexao().Open(1, connectionString(port));
    updatekrv::DirSis = dirSis;
    runs::session().values.VersaoMenu = "000099";
    runs::session().values.Atualizou = true;
    QElapsedTimer timer;
    platform::setEndHandler([&timer](int code) {
        std::printf("%s %.6f\n", code == 0 ? "ok" : "failed", timer.nsecsElapsed() / 1e9);
        std::fflush(stdout);
    });
    timer.start();
    platform::form<runs::frmAtualMenu>().show();
    return app.exec();
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && QByteArray(argv[1]) == "--once")
        return once(argc, argv, QByteArray(argv[2]).toInt(), QString::fromLocal8Bit(argv[3]));
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_menu PORT [ROWS] [RUNS]\n");
        return 2;
    }
    const int port = QByteArray(argv[1]).toInt();
    const int rows = argc > 2 ? QByteArray(argv[2]).toInt() : 20000;
    const int runs = argc > 3 ? QByteArray(argv[3]).toInt() : 5;
    QCoreApplication app(argc, argv);

    std::vector<double> seconds;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QMYSQL", "bench");
        db.setHostName("127.0.0.1");
        db.setPort(port);
        db.setUserName("krv");
        db.setPassword("krv");
        if (!db.open()) {
            std::fprintf(stderr, "MariaDB: %s\n", qPrintable(db.lastError().text()));
            return 1;
        }
        if (!exec(db, "drop database if exists " + kDatabase) ||
            !exec(db, "create database " + kDatabase + " character set utf8mb4") ||
            !exec(db, "use " + kDatabase) ||
            !exec(db, "create table menu (Sistema varchar(50), sequencia varchar(3), "
                      "Menu varchar(30), NomeInter varchar(20), Nivel int, "
                      "NivelAnterior varchar(50), Programa int)") ||
            !exec(db, "create table licensa (ult_atualizacao varchar(10), atmenu varchar(10))") ||
            !exec(db, "insert into licensa values ('000131', '000010')"))
            return 1;

        QTemporaryDir dirSis;
        const QByteArray file = menuFile(rows);
        for (int run = 0; run < runs; ++run) {
            // The run end removes the update folder: put the file back every time.
            QDir().mkpath(dirSis.filePath("update"));
            QFile f(dirSis.filePath("update/mnusis_cs.krv"));
            if (!f.open(QIODevice::WriteOnly) || f.write(file) != file.size())
                return 1;
            f.close();
            QProcess child;
            child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            child.start(QCoreApplication::applicationFilePath(),
                        {"--once", QString::number(port), dirSis.path()});
            child.waitForFinished(-1);
            const QList<QByteArray> out = child.readAllStandardOutput().trimmed().split(' ');
            QSqlQuery count(db);
            count.exec("select count(*), (select atmenu from licensa) from menu");
            count.next();
            if (out.value(0) != "ok" || count.value(0).toInt() != rows ||
                count.value(1).toString() != "000099") {
                std::fprintf(stderr, "run %d failed (%s, %d rows)\n", run + 1,
                             out.join(' ').constData(), count.value(0).toInt());
                return 1;
            }
            exec(db, "update licensa set atmenu = '000010'");
            seconds.push_back(out.value(1).toDouble());
            std::printf("run %d: %d rows in %.3f s, %.0f rows/s\n", run + 1, rows, seconds.back(),
                        rows / seconds.back());
        }
        exec(db, "drop database " + kDatabase);
    }
    QSqlDatabase::removeDatabase("bench");
    std::sort(seconds.begin(), seconds.end());
    const double median = seconds[seconds.size() / 2];
    std::printf("median: %d rows in %.3f s, %.0f rows/s (goal: 20000 rows in under 2 s)\n", rows,
                median, rows / median);
    return 0;
}
