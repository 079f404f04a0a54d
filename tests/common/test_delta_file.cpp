// The delta file: made by the maker's side, rebuilt by the installation's, on real PE files.
#include "common/delta_file.h"
#include "pe_builder.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

using namespace krv;

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void write(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

// Bytes no compressor shrinks on their own: only the reference makes a patch small.
QByteArray noise(int size, quint32 seed) {
    QByteArray b(size, '\0');
    QRandomGenerator g(seed);
    g.fillRange(reinterpret_cast<quint32*>(b.data()), size / 4);
    return b;
}

} // namespace

TEST(DeltaFile, RebuildsEveryMemberByteEqualAndRefusesWhatIsNotItsOwn) {
    QTemporaryDir dir;
    test::PeBuilder pe(dir.path());
    const QString oldPe = pe.withVersion("old.exe", 1, 31, 0, 0);
    const QString newPe = pe.withVersion("new.exe", 1, 32, 0, 0);
    ASSERT_FALSE(oldPe.isEmpty() || newPe.isEmpty()) << qPrintable(pe.error());
    // A program of 1000 KiB of which a few KiB change, as between two nearby builds.
    const QByteArray body = noise(1000 * 1024, 7);
    QByteArray changed = body;
    changed.replace(300000, 4096, noise(4096, 8));
    const QString installed = dir.filePath("installed"), fresh = dir.filePath("new");
    QDir().mkpath(installed);
    QDir().mkpath(fresh);
    write(installed + "/control.exe", readAll(oldPe) + body);
    write(fresh + "/control.exe", readAll(newPe) + changed);
    write(installed + "/leiame.txt", "igual");
    write(fresh + "/leiame.txt", "igual");
    write(fresh + "/novo.dll", noise(20000, 9));
    const QList<delta::Source> sources = {
        {"control.exe", fresh + "/control.exe", installed + "/control.exe"},
        {"leiame.txt", fresh + "/leiame.txt", installed + "/leiame.txt"},
        {"novo.dll", fresh + "/novo.dll", {}},
    };
    QString why;
    const QString made = dir.filePath("control01.31.00-01.32.00.delta");
    const auto info = delta::make(sources, made, &why);
    ASSERT_TRUE(info) << qPrintable(why);
    EXPECT_EQ(info->hows,
              QList<delta::How>({delta::How::Patch, delta::How::Unchanged, delta::How::Whole}));
    EXPECT_EQ(info->window, qint64(1) << 21); // old and new control.exe: 2 MiB
    // The change and the new file, little more.
    EXPECT_LT(QFile(made).size(), 20000 + 4096 + 2000);

    const QByteArray good = readAll(made);
    struct Case {
        const char* name;
        std::function<void()> spoil;
        const char* refused; // part of why; empty: every member rebuilt
        qint64 window = qint64(1) << 21;
    };
    const Case cases[] = {
        {"as made", [] {}, ""},
        {"a byte of a frame changed",
         [&] {
             QByteArray b = good;
             b[b.size() - 10000] = char(b[b.size() - 10000] ^ 1);
             write(made, b);
         },
         ":"},
        {"cut short", [&] { write(made, good.left(good.size() - 10)); }, "delta"},
        {"bytes after the last member", [&] { write(made, good + "x"); }, "além do último"},
        {"not a delta", [&] { write(made, "PK\3\4"); }, "não é um delta"},
        {"the installed file changed since",
         [&] {
             QByteArray other = body;
             other[600000] = char(other[600000] ^ 1);
             write(installed + "/control.exe", readAll(oldPe) + other);
         },
         "control.exe"},
        {"a window smaller than the files", [] {}, "control.exe", qint64(1) << 19},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        write(made, good);
        write(installed + "/control.exe", readAll(oldPe) + body);
        c.spoil();
        QDir(dir.filePath("out")).removeRecursively();
        QDir().mkpath(dir.filePath("out"));
        delta::Rebuild rebuild;
        rebuild.installed = [&](const QString& name) { return installed + "/" + name; };
        rebuild.output = [&](const QString& name) { return dir.filePath("out/" + name); };
        rebuild.expectedSize = [&](const QString& name) {
            return QFile(fresh + "/" + name).exists() ? QFile(fresh + "/" + name).size() : -1;
        };
        rebuild.window = c.window;
        QList<delta::Member> done;
        const bool ok = delta::apply(made, rebuild, done, &why);
        EXPECT_EQ(ok, QByteArray(c.refused).isEmpty()) << qPrintable(why);
        if (!ok) {
            EXPECT_TRUE(why.contains(c.refused)) << qPrintable(why);
            continue;
        }
        ASSERT_EQ(done.size(), 3);
        for (const delta::Source& s : sources)
            EXPECT_EQ(readAll(dir.filePath("out/" + s.name)), readAll(s.newPath))
                << qPrintable(s.name);
    }
}
