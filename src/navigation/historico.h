#pragma once
// The change history as the user reads and prints it: each module's section appended, line by
// line, to the history box in its fixed layout (headings, version headers, marked descriptions).
#include <QList>
#include <QString>
#include <QStringList>

class QTextEdit;

namespace krv::navigation {

// The kinds of line the history holds.
enum class LineKind { Heading = 0, Header = 1, Description = 2 };

class HistoryText {
public:
    explicit HistoryText(QTextEdit* box) : box_(box) {}

    // Appends one line of the given kind; every line but the very first starts a new
    // paragraph. Non-empty descriptions carry the list marker, nothing else does.
    void Inclui(const QString& text, LineKind kind);

    // Appends one module's section from its history records (fields 0, 1 and 2 of each):
    // heading, a header line per block of equal headers, the descriptions, closing blank line.
    void appendSection(int code, const QList<QStringList>& records);

    // The heading of a module code; empty for codes without one.
    static QString heading(int code);
    // value left-aligned in width characters: filled with blanks or cut.
    static QString slot(const QString& value, int width);
    // The box's text without leading and trailing blanks is empty.
    static bool isBlank(const QString& text);

private:
    QTextEdit* box_;
};

} // namespace krv::navigation
