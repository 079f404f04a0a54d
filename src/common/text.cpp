#include "common/text.h"

#include <QFile>
#include <QStringDecoder>

namespace krv::text {

namespace {
// 0x80..0x9F of Windows-1252; the rest of the code page equals Latin-1. Written out here
// because Qt's own converters cover this code page only when built with ICU.
const char16_t kCp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                  0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
} // namespace

QString fromCp1252(const QByteArray& bytes) {
    QString out;
    out.reserve(bytes.size());
    for (char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        out += (b >= 0x80 && b < 0xA0) ? QChar(kCp1252High[b - 0x80]) : QChar(b);
    }
    return out;
}

QByteArray toCp1252(const QString& text) {
    QByteArray out;
    out.reserve(text.size());
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
            out += char(u);
            continue;
        }
        char mapped = '?';
        for (int i = 0; i < 32; ++i)
            if (kCp1252High[i] == u)
                mapped = char(0x80 + i);
        out += mapped;
    }
    return out;
}

QString decodeLegacy(const QByteArray& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString s = utf8.decode(bytes);
    if (!utf8.hasError())
        return s;
    return fromCp1252(bytes);
}

QStringList splitLines(const QString& text) {
    QStringList lines = text.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QString& l : lines)
        if (l.endsWith('\r'))
            l.chop(1);
    return lines;
}

std::optional<QStringList> readTextLines(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    return splitLines(decodeLegacy(f.readAll()));
}

QString formatZeros(long long value, int digits) {
    const QString body = QString::number(value < 0 ? -value : value).rightJustified(digits, '0');
    return value < 0 ? '-' + body : body;
}

QString printForm(long long value) {
    return (value < 0 ? QString("-") : QString(" ")) + QString::number(value < 0 ? -value : value) +
           ' ';
}

} // namespace krv::text
