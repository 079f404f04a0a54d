// Delta updates against full archives: the same modules (two builds of each) fetched from the
// reference update server through a line held to 8 Mbit/s, once as zip archives unpacked into
// a suite and once as deltas rebuilt against the installed files, in the same run.
//   bench_delta OLD_DIR NEW_DIR [runs] [big-file-name]
// OLD_DIR and NEW_DIR hold the modules by the same names; big-file-name (in both) is rebuilt
// alone in a process of its own for its time and peak memory.
#include "common/delta_file.h"
#include "runs/fetch_update_file.h"
#include "runs/mod_add_zip.h"
#include "throttle_proxy.h"
#include "update_server.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zip.h>

using namespace krv;

namespace {

constexpr double kLineBytesPerSecond = 8e6 / 8; // 8 Mbit/s
constexpr qint64 kWindow = qint64(256) * 1024 * 1024;

QByteArray digest(const QString& path) {
    QFile f(path);
    QCryptographicHash h(QCryptographicHash::Sha256);
    return f.open(QIODevice::ReadOnly) && h.addData(&f) ? h.result() : QByteArray();
}

bool zipOne(const QString& archive, const QString& file, const QString& name) {
    int code = 0;
    zip_t* z = zip_open(QFile::encodeName(archive).constData(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    zip_source_t* s = z ? zip_source_file(z, QFile::encodeName(file).constData(), 0, -1) : nullptr;
    return s && zip_file_add(z, name.toUtf8().constData(), s, 0) >= 0 && zip_close(z) == 0;
}

// Rebuilds one delta (the --rebuild mode, run as a process of its own so that its peak memory
// is its own).
int rebuildMode(const QString& deltaPath, const QString& installed, const QString& out) {
    krv::delta::Rebuild how;
    how.installed = [&](const QString& n) { return installed + "/" + n; };
    how.output = [&](const QString& n) { return out + "/" + n; };
    how.expectedSize = [](const QString&) { return qint64(1) << 40; };
    how.window = kWindow;
    QList<krv::delta::Member> done;
    QString why;
    if (!krv::delta::apply(deltaPath, how, done, &why)) {
        std::fprintf(stderr, "rebuild: %s\n", qPrintable(why));
        return 1;
    }
    return 0;
}

struct Child {
    double seconds = 0;
    long peakKiB = 0;
    bool ok = false;
};

Child runRebuild(const QString& deltaPath, const QString& installed, const QString& out) {
    QElapsedTimer clock;
    clock.start();
    const QByteArray self = QFile::encodeName(QCoreApplication::applicationFilePath());
    const QByteArray args[] = {self, "--rebuild", QFile::encodeName(deltaPath),
                               QFile::encodeName(installed), QFile::encodeName(out)};
    const pid_t pid = fork();
    if (pid == 0) {
        execl(args[0].constData(), args[0].constData(), args[1].constData(), args[2].constData(),
              args[3].constData(), args[4].constData(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    return {clock.nsecsElapsed() / 1e9, usage.ru_maxrss,
            WIFEXITED(status) && WEXITSTATUS(status) == 0};
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 5 && QByteArray(argv[1]) == "--rebuild")
        return rebuildMode(QFile::decodeName(argv[2]), QFile::decodeName(argv[3]),
                           QFile::decodeName(argv[4]));
    QCoreApplication app(argc, argv);
    const QStringList a = app.arguments();
    if (a.size() < 3) {
        std::fprintf(stderr, "usage: bench_delta OLD_DIR NEW_DIR [runs] [big-file-name]\n");
        return 2;
    }
    const QString oldDir = a[1], newDir = a[2], big = a.value(4);
    const int runs = a.size() > 3 ? std::max(1, a[3].toInt()) : 3;
    QStringList modules;
    for (const QString& m : QDir(newDir).entryList(QDir::Files, QDir::Name)) {
        // A module both builds hold alike would not be due in a real run.
        if (m != big && digest(oldDir + "/" + m) == digest(newDir + "/" + m))
            std::printf("%s: the same in both builds, left out\n", qPrintable(m));
        else if (m != big)
            modules << m;
    }
    QTemporaryDir work;
    const QString served = work.filePath("served/atualsis"), update = work.filePath("update");
    QDir().mkpath(served);
    QDir().mkpath(update);

    // The maker's side: one full archive and one delta per module.
    QElapsedTimer clock;
    qint64 archiveBytes = 0, deltaBytes = 0, newBytes = 0;
    double makerSeconds = 0;
    for (const QString& m : modules) {
        if (!zipOne(served + "/" + m + ".zip", newDir + "/" + m, m))
            return std::fprintf(stderr, "cannot zip %s\n", qPrintable(m)), 1;
        clock.start();
        QString why;
        if (!krv::delta::make({{m, newDir + "/" + m, oldDir + "/" + m}},
                              served + "/" + m + ".delta", &why))
            return std::fprintf(stderr, "%s\n", qPrintable(why)), 1;
        makerSeconds += clock.nsecsElapsed() / 1e9;
        const qint64 zipped = QFileInfo(served + "/" + m + ".zip").size(),
                     patched = QFileInfo(served + "/" + m + ".delta").size();
        std::printf("  %s: %lld bytes, archive %lld, delta %lld (%.3f of the archive)\n",
                    qPrintable(m), static_cast<long long>(QFileInfo(newDir + "/" + m).size()),
                    static_cast<long long>(zipped), static_cast<long long>(patched),
                    double(patched) / double(zipped));
        archiveBytes += zipped;
        deltaBytes += patched;
        newBytes += QFileInfo(newDir + "/" + m).size();
    }

    tools::UpdateServer server(work.filePath("served").toStdString());
    if (!server.bind("127.0.0.1", 0))
        return std::fprintf(stderr, "cannot bind the update server\n"), 1;
    server.start();
    bench::ThrottleProxy line(server.port(), kLineBytesPerSecond);
    const QString base = QString("http://127.0.0.1:%1/atualsis/").arg(line.port());

    std::vector<double> fullWall, deltaWall, rebuildOnly;
    for (int run = 0; run < runs; ++run) {
        for (const bool viaDelta : {false, true}) {
            const QString suite = work.filePath(viaDelta ? "suite-delta" : "suite-full");
            QDir(suite).removeRecursively();
            QDir().mkpath(suite);
            for (const QString& m : modules)
                QFile::copy(oldDir + "/" + m, suite + "/" + m);
            double rebuild = 0;
            clock.start();
            for (const QString& m : modules) {
                const QString name = m + (viaDelta ? ".delta" : ".zip");
                QFile::remove(update + "/" + name);
                const runs::FetchOutcome got =
                    runs::fetchQuietly(base + name, update + "/" + name, -1);
                if (!got.whole)
                    return std::fprintf(stderr, "%s: %s\n", qPrintable(name),
                                        qPrintable(got.reason)),
                           1;
                if (!viaDelta) {
                    runs::Descompacta(update + "/" + name, "*.*", suite, 0);
                    continue;
                }
                QElapsedTimer r;
                r.start();
                krv::delta::Rebuild how;
                how.installed = [&](const QString& n) { return suite + "/" + n; };
                how.output = [&](const QString& n) { return suite + "/" + n + ".new"; };
                how.expectedSize = [&](const QString& n) {
                    return QFileInfo(newDir + "/" + n).size();
                };
                how.window = kWindow;
                QList<krv::delta::Member> done;
                QString why;
                if (!krv::delta::apply(update + "/" + name, how, done, &why) ||
                    !QFile::remove(suite + "/" + m) ||
                    !QFile::rename(suite + "/" + m + ".new", suite + "/" + m))
                    return std::fprintf(stderr, "%s: %s\n", qPrintable(name), qPrintable(why)), 1;
                rebuild += r.nsecsElapsed() / 1e9;
            }
            (viaDelta ? deltaWall : fullWall).push_back(clock.nsecsElapsed() / 1e9);
            if (viaDelta)
                rebuildOnly.push_back(rebuild);
            for (const QString& m : modules)
                if (digest(suite + "/" + m) != digest(newDir + "/" + m))
                    return std::fprintf(stderr, "%s differs after the update\n", qPrintable(m)), 1;
        }
    }
    server.stop();

    const double full = median(fullWall), viaDelta = median(deltaWall);
    std::printf("modules: %s (%lld bytes new)\n", qPrintable(modules.join(", ")),
                static_cast<long long>(newBytes));
    std::printf("maker: deltas made in %.2f s (level 19, long-distance matching)\n", makerSeconds);
    std::printf("bytes fetched: full archives %lld, deltas %lld, ratio %.3f (goal <= 0.3)\n",
                static_cast<long long>(archiveBytes), static_cast<long long>(deltaBytes),
                double(deltaBytes) / double(archiveBytes));
    std::printf("wall time at 8 Mbit/s (fetch + unpack or rebuild), median of %d: full %.3f s, "
                "delta %.3f s, ratio %.3f (goal <= 0.35)\n",
                runs, full, viaDelta, viaDelta / full);
    std::printf("rebuild of the modules (median): %.3f s\n", median(rebuildOnly));

    if (!big.isEmpty()) {
        const QString bigDir = work.filePath("big"), out = work.filePath("big-out");
        QDir().mkpath(bigDir);
        QDir().mkpath(out);
        QFile::copy(oldDir + "/" + big, bigDir + "/" + big);
        clock.start();
        QString why;
        if (!krv::delta::make({{big, newDir + "/" + big, oldDir + "/" + big}},
                              work.filePath("big.delta"), &why))
            return std::fprintf(stderr, "%s\n", qPrintable(why)), 1;
        const double made = clock.nsecsElapsed() / 1e9;
        std::vector<double> times;
        long peak = 0;
        for (int run = 0; run < runs; ++run) {
            const Child c = runRebuild(work.filePath("big.delta"), bigDir, out);
            if (!c.ok || digest(out + "/" + big) != digest(newDir + "/" + big))
                return std::fprintf(stderr, "the rebuild of %s failed\n", qPrintable(big)), 1;
            times.push_back(c.seconds);
            peak = std::max(peak, c.peakKiB);
        }
        const double size = QFileInfo(newDir + "/" + big).size();
        std::printf("%s: %.1f MB, delta %lld bytes (%.3f of the file) made in %.2f s; rebuilt in "
                    "%.3f s (median, goal < 1 s), peak memory %.1f MiB (goal < file + 64 MiB = "
                    "%.1f MiB)\n",
                    qPrintable(big), size / 1e6,
                    static_cast<long long>(QFileInfo(work.filePath("big.delta")).size()),
                    double(QFileInfo(work.filePath("big.delta")).size()) / size, made,
                    median(times), peak / 1024.0, size / 1048576.0 + 64);
    }
    return 0;
}
