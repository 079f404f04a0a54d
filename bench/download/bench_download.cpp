// Downloads one large file from a loopback server through the progress window (live,
// default chunk of 1024 bytes) and with "curl -s -o" from the same server, alternating,
// and prints the medians, the throughput ratio and the peak memory of this process.
#include "download/frm_download.h"
#include "raw_http_server.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

using krv::download::frmDownload;
using krv::test::RawHttpServer;
using krv::test::RawResponse;

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double cpuSeconds(int who) {
    rusage u{};
    getrusage(who, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long peakKiB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const qint64 mib = argc > 1 ? QByteArray(argv[1]).toLongLong() : 512;
    const int runs = argc > 2 ? QByteArray(argv[2]).toInt() : 3;
    const qint64 size = mib * 1024 * 1024;

    RawHttpServer server;
    RawResponse r;
    r.patternSize = size;
    server.serve("/big.zip", r);
    const QString url = QString::fromStdString(server.url("/big.zip"));
    QTemporaryDir dir;
    const QString target = dir.filePath("big.zip");
    const long startKiB = peakKiB();

    std::vector<double> ours, curl, oursCpu, curlCpu;
    bool allWhole = true;
    // Each download starts with no dirty pages of the one before it waiting to be written.
    auto settle = [&] {
        QFile::remove(target);
        ::sync();
    };
    auto runCurl = [&] {
        QElapsedTimer t;
        const double cpu0 = cpuSeconds(RUSAGE_CHILDREN);
        t.start();
        const int rc = QProcess::execute("curl", {"-s", "-o", target, url});
        curl.push_back(t.nsecsElapsed() / 1e9);
        curlCpu.push_back(cpuSeconds(RUSAGE_CHILDREN) - cpu0);
        allWhole = allWhole && rc == 0 && QFile(target).size() == size;
        settle();
    };
    auto runOurs = [&] {
        auto* w = new frmDownload;
        w->Label1->setText("Baixando atualização...");
        w->showOwnedBy(nullptr);
        app.processEvents();
        QElapsedTimer t;
        // The download runs on this thread; the server has threads of its own.
        const double cpu0 = cpuSeconds(RUSAGE_THREAD);
        t.start();
        w->Dl1->setUrl(url);
        w->Dl1->setSaveLocation(target);
        w->Dl1->GetFileInformation();
        w->pb1->setMaximum(w->Dl1->FileSize());
        w->Dl1->Download();
        ours.push_back(t.nsecsElapsed() / 1e9);
        oursCpu.push_back(cpuSeconds(RUSAGE_THREAD) - cpu0);
        allWhole = allWhole && w->completed() && QFile(target).size() == size;
        delete w;
        settle();
    };
    for (int i = 0; i < runs; ++i) {
        // Alternate who goes first.
        if (i % 2) {
            runOurs();
            runCurl();
        } else {
            runCurl();
            runOurs();
        }
        std::printf("run %d: curl %.3f s (cpu %.3f), frmDownload %.3f s (cpu %.3f)\n", i + 1,
                    curl.back(), curlCpu.back(), ours.back(), oursCpu.back());
        std::fflush(stdout);
    }
    const double mc = median(curl), mo = median(ours);
    std::printf("file %lld MiB, chunk 1024, %d runs\n", mib, runs);
    std::printf("curl -s -o:  median %.3f s (%.0f MiB/s)\n", mc, mib / mc);
    std::printf("frmDownload: median %.3f s (%.0f MiB/s)\n", mo, mib / mo);
    std::printf("throughput ratio (frmDownload / curl): %.2fx\n", mc / mo);
    std::printf("processor time, median: curl %.3f s, frmDownload %.3f s (ratio %.2fx)\n",
                median(curlCpu), median(oursCpu), median(curlCpu) / median(oursCpu));
    std::printf("peak memory of this process: %.1f MiB (%.1f MiB before the downloads)\n",
                peakKiB() / 1024.0, startKiB / 1024.0);
    std::printf("every file whole: %s\n", allWhole ? "yes" : "NO");
    return allWhole ? 0 : 1;
}
