#include "scratch_file.h"

#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

namespace krv::fuzz {

QString scratchFolder() {
    static QTemporaryDir dir;
    if (!dir.isValid())
        fail("no scratch folder");
    return dir.path();
}

QString writeScratch(const QString& name, const std::uint8_t* data, std::size_t size) {
    const QString path = scratchFolder() + '/' + name;
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        f.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size)) !=
            static_cast<qint64>(size))
        fail("cannot write the scratch file");
    return path;
}

void fail(const char* what) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

} // namespace krv::fuzz
