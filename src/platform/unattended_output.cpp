#include "platform/unattended_output.h"

#include "platform/test_hook.h"

#include <QDateTime>
#include <cstdio>

namespace krv::platform {

namespace {

void writeLine(const QString& line) {
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

QString now() {
    return QDateTime::currentDateTime().toString(Qt::ISODate);
}

} // namespace

QString unattendedLine(const QString& time, const QString& kind, const QStringList& fields) {
    using hook::escape;
    if (kind == "msgbox")
        return time + '\t' + escape(fields.value(0)) + '\t' + escape(fields.value(3));
    if (kind == "status")
        return time + '\t' + escape(fields.value(0)) + '\t' + escape(fields.value(1));
    return {};
}

void printUnattended(const QString& kind, const QStringList& fields) {
    const QString line = unattendedLine(now(), kind, fields);
    if (!line.isEmpty())
        writeLine(line);
}

void printUnattendedNote(const QString& source, const QString& text) {
    writeLine(now() + '\t' + hook::escape(source) + '\t' + hook::escape(text));
}

} // namespace krv::platform
