#pragma once
// What a program run unattended writes on standard output, for a person reading the log later:
// one line per message box and status text, and the program's own notes, each as local time,
// source (a box's title, a status text's window, the program) and text, separated by tabs.
#include <QString>
#include <QStringList>

namespace krv::platform {

// The line for a transcript line of the test hook (kind and fields); empty for the kinds not
// shown.
QString unattendedLine(const QString& time, const QString& kind, const QStringList& fields);

// Writes the line for a transcript line now, when it has one: a hook sink.
void printUnattended(const QString& kind, const QStringList& fields);

// Writes a note of the program's own now.
void printUnattendedNote(const QString& source, const QString& text);

} // namespace krv::platform
