// Times Descompacta against "unzip -o -j -q" on one archive of 1,000 files / 200 MB,
// extracted into a folder that already holds older files of the same names.
#include "platform/krv_error.h"
#include "runs/mod_add_zip.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>
#include <zip.h>

namespace {

constexpr int kFiles = 1000;
constexpr qint64 kTotal = 200ll * 1000 * 1000;

// Module-like content: stretches of random bytes between repeated text, so the archive
// compresses to roughly half, as programs and libraries do.
QByteArray content(int index, qint64 size, quint32 salt) {
    QByteArray b(size, Qt::Uninitialized);
    quint32 x = 0x9E3779B9u ^ (index * 2654435761u) ^ salt;
    const QByteArray text =
        QByteArray("KRV modulo %1 recurso texto ").replace("%1", QByteArray::number(index));
    qint64 i = 0;
    while (i < size) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        const qint64 run = std::min<qint64>(size - i, 64 + x % 192);
        if (x & 1) {
            for (qint64 k = 0; k < run; ++k) {
                x = x * 1664525u + 1013904223u;
                b[i + k] = static_cast<char>(x >> 24);
            }
        } else {
            for (qint64 k = 0; k < run; ++k)
                b[i + k] = text[k % text.size()];
        }
        i += run;
    }
    return b;
}

qint64 sizeOf(int index) {
    // 40 KB to 360 KB, averaging 200 KB.
    return kTotal / kFiles - 160000 + (index * 7919 % 1000) * 320;
}

bool writeFile(const QString& path, const QByteArray& data) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

bool makeArchive(const QString& path) {
    int code = 0;
    zip_t* z = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (!z)
        return false;
    std::vector<QByteArray> keep;
    keep.reserve(kFiles);
    for (int i = 0; i < kFiles; ++i) {
        keep.push_back(content(i, sizeOf(i), 1));
        zip_source_t* s = zip_source_buffer(z, keep.back().constData(), keep.back().size(), 0);
        const QByteArray name =
            "modulos/sub" + QByteArray::number(i % 10) + "/arq" + QByteArray::number(i) + ".dll";
        if (zip_file_add(z, name.constData(), s, 0) < 0)
            return false;
    }
    return zip_close(z) == 0;
}

// Puts the older files back, so every round replaces 1,000 existing files.
bool resetDestination(const QString& dest, const std::vector<QByteArray>& old) {
    QDir(dest).removeRecursively();
    QDir().mkpath(dest);
    for (int i = 0; i < kFiles; ++i)
        if (!writeFile(dest + "/arq" + QString::number(i) + ".dll", old[i]))
            return false;
    return true;
}

bool sameAsArchive(const QString& dest) {
    for (int i = 0; i < kFiles; i += 97) {
        QFile f(dest + "/arq" + QString::number(i) + ".dll");
        if (!f.open(QIODevice::ReadOnly) || f.readAll() != content(i, sizeOf(i), 1))
            return false;
    }
    return true;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    const QString base = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QDir::tempPath();
    QTemporaryDir work(base + "/bench-unzip-XXXXXX");
    const QString archive = work.path() + "/modulos.zip";
    const QString dest = work.path() + "/suite";
    std::printf("preparing %d files, %lld bytes ...\n", kFiles, kTotal);
    if (!makeArchive(archive)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(archive));
        return 1;
    }
    std::vector<QByteArray> old;
    for (int i = 0; i < kFiles; ++i)
        old.push_back(content(i, sizeOf(i) / 2, 2));
    std::printf("archive: %lld bytes\n", QFileInfo(archive).size());

    std::vector<double> ours, theirs;
    for (int r = 0; r < rounds; ++r) {
        // Alternate which goes first so that neither always meets a warmer cache.
        for (int turn = 0; turn < 2; ++turn) {
            const bool oursNow = (r + turn) % 2 == 0;
            if (!resetDestination(dest, old))
                return 1;
            ::sync();
            QElapsedTimer t;
            t.start();
            if (oursNow) {
                try {
                    krv::runs::Descompacta(archive, "*.*", dest, 0);
                } catch (const krv::KrvError& e) {
                    std::fprintf(stderr, "%s\n", qPrintable(e.description()));
                    return 1;
                }
            } else {
                const int rc = QProcess::execute("unzip", {"-o", "-j", "-q", archive, "-d", dest});
                if (rc != 0) {
                    std::fprintf(stderr, "unzip failed (%d)\n", rc);
                    return 1;
                }
            }
            const double s = t.nsecsElapsed() / 1e9;
            (oursNow ? ours : theirs).push_back(s);
            std::printf("round %d: %s %.3f s\n", r + 1, oursNow ? "Descompacta" : "unzip", s);
            std::fflush(stdout);
            if (!sameAsArchive(dest)) {
                std::fprintf(stderr, "extracted files differ from the archive\n");
                return 1;
            }
        }
    }
    const double a = median(ours), b = median(theirs);
    std::printf("Descompacta median %.3f s, unzip -o -j -q median %.3f s (%d rounds)\n", a, b,
                rounds);
    std::printf("ratio %.2f\n", a / b);
    return 0;
}
