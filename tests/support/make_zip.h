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

// Raw edits of a written archive, for archives no zip writer would make.
inline quint32 le(const QByteArray& b, qsizetype at, int bytes) {
    quint32 v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(b[at + i]);
    return v;
}
inline void putLe(QByteArray& b, qsizetype at, int bytes, quint32 v) {
    for (int i = 0; i < bytes; ++i)
        b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
// Where the central-directory entry of member starts; -1 when there is none.
inline qsizetype centralEntry(const QByteArray& zip, const QByteArray& member) {
    const QByteArray sig("PK\x01\x02", 4);
    for (qsizetype at = zip.indexOf(sig); at >= 0; at = zip.indexOf(sig, at + 4))
        if (zip.mid(at + 46, le(zip, at + 28, 2)) == member)
            return at;
    return -1;
}
// Adds central-directory entries under new names that point at member's data: entries
// sharing one compressed stream.
inline QByteArray withSharedEntries(const QByteArray& zip, const QByteArray& member,
                                    const QList<QByteArray>& names) {
    const qsizetype at = centralEntry(zip, member);
    const qsizetype eocd = zip.lastIndexOf(QByteArray("PK\x05\x06", 4));
    if (at < 0 || eocd < 0)
        return {};
    const qsizetype nameLen = le(zip, at + 28, 2);
    const qsizetype rest = le(zip, at + 30, 2) + le(zip, at + 32, 2);
    QByteArray added;
    for (const QByteArray& name : names) {
        QByteArray entry = zip.mid(at, 46) + name + zip.mid(at + 46 + nameLen, rest);
        putLe(entry, 28, 2, static_cast<quint32>(name.size()));
        added += entry;
    }
    QByteArray out = zip.left(eocd) + added + zip.mid(eocd);
    const qsizetype end = eocd + added.size();
    putLe(out, end + 8, 2, le(out, end + 8, 2) + names.size());
    putLe(out, end + 10, 2, le(out, end + 10, 2) + names.size());
    putLe(out, end + 12, 4, le(out, end + 12, 4) + added.size());
    return out;
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
