#pragma once
// Small text helpers shared by the rooms: code pages, the runtime's number forms, and
// reading text files whose lines end in CR LF or LF.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

namespace krv::text {

// Windows-1252 (the system's ANSI code page) to text and back. Characters that code
// page cannot hold become "?".
QString fromCp1252(const QByteArray& bytes);
QByteArray toCp1252(const QString& text);

// Text from the update server or a settings file: UTF-8 when the bytes are valid UTF-8,
// otherwise Windows-1252.
QString decodeLegacy(const QByteArray& bytes);

// Splits into lines at CR LF or LF; a last line without its end counts, an empty tail does not.
QStringList splitLines(const QString& text);

// Reads a whole text file decoded with decodeLegacy and split into lines; empty when it
// cannot be read.
std::optional<QStringList> readTextLines(const QString& path);

// The runtime's Format(n, "000000") and Format(n, "00"): zero-padded, never cut, the
// minus sign before the digits.
QString formatZeros(long long value, int digits);

// The runtime's print form of a number: a blank (or the minus sign) before the digits and
// a blank after them, as "Print #" wrote it.
QString printForm(long long value);

} // namespace krv::text
