#pragma once
// Real zip archives for the tests, written with libzip.
#include <QByteArray>
#include <QFile>
#include <QString>
#include <gtest/gtest.h>
#include <vector>
#include <zip.h>

namespace krv::test {

struct ZipEntry {
    QByteArray name;
    QByteArray data;
    int unixMode = 0; // type and permission bits; 0: made on Windows (no Unix mode)
};

// Writes a zip archive with the entries, in order.
inline void makeZip(const QString& path, const std::vector<ZipEntry>& entries) {
    int code = 0;
    zip_t* z = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    ASSERT_NE(z, nullptr) << code;
    for (const ZipEntry& e : entries) {
        zip_source_t* s = zip_source_buffer(z, e.data.constData(), e.data.size(), 0);
        const zip_int64_t i = zip_file_add(z, e.name.constData(), s, ZIP_FL_ENC_UTF_8);
        ASSERT_GE(i, 0) << zip_strerror(z);
        if (e.unixMode)
            zip_file_set_external_attributes(z, i, 0, ZIP_OPSYS_UNIX,
                                             static_cast<zip_uint32_t>(e.unixMode) << 16);
        else
            zip_file_set_external_attributes(z, i, 0, ZIP_OPSYS_DOS, 0x20);
    }
    ASSERT_EQ(zip_close(z), 0);
}

inline QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

inline void writeFile(const QString& path, const QByteArray& data) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(data);
}

} // namespace krv::test
