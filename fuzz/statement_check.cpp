// The checks on the pieces of an update file that go into statements. Beyond not crashing,
// whatever a check accepts must stay one piece of one statement as MariaDB reads it: once
// its quoted texts are taken out (with MariaDB's own escapes), no separator, comment or
// unbalanced parenthesis may be left that would end the piece early.
#include "database/statement_check.h"
#include "scratch_file.h"

#include <optional>

namespace {

// The text as MariaDB's lexer sees it outside quotes: each '...' or "..." text and each
// `...` name becomes one "0", a value like any other (a doubled quote stands for one; with
// backslashEscapes, the server's default mode, a backslash in a text escapes the next character).
// Empty when a quoted piece is not closed.
std::optional<QString> outsideQuotes(const QString& text, bool backslashEscapes) {
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c != '\'' && c != '"' && c != '`') {
            out += c;
            continue;
        }
        bool closed = false;
        for (++i; i < text.size(); ++i) {
            if (text[i] == '\\' && backslashEscapes && c != '`') {
                ++i;
            } else if (text[i] == c) {
                if (i + 1 < text.size() && text[i + 1] == c) {
                    ++i;
                    continue;
                }
                closed = true;
                break;
            }
        }
        if (!closed)
            return std::nullopt;
        out += '0';
    }
    return out;
}

// One piece: nothing that ends it or comments it out; parentheses balanced and no comma
// outside them (a comma at the top level would start another clause).
bool staysOnePiece(const QString& text, bool backslashEscapes) {
    const auto outside = outsideQuotes(text, backslashEscapes);
    if (!outside)
        return false;
    int depth = 0;
    for (qsizetype i = 0; i < outside->size(); ++i) {
        const QChar c = outside->at(i);
        const QChar next = i + 1 < outside->size() ? outside->at(i + 1) : QChar();
        if (c == ';' || c == '#' || c == '\\' || c.category() == QChar::Other_Control)
            return false;
        const QChar after = i + 2 < outside->size() ? outside->at(i + 2) : QChar(' ');
        if ((c == '/' && next == '*') || (c == '*' && next == '/') ||
            (c == '-' && next == '-' &&
             (after.isSpace() || after.category() == QChar::Other_Control)))
            return false;
        if (c == '(')
            ++depth;
        else if (c == ')' && --depth < 0)
            return false;
        else if (c == ',' && depth == 0)
            return false;
    }
    return depth == 0;
}

// In both of the server's escaping modes: the suite's server may run in either.
bool staysOnePiece(const QString& text) {
    return staysOnePiece(text, true) && staysOnePiece(text, false);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace krv;
    using namespace krv::database;
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    if (isPlainIdentifier(text)) {
        // Safe between backquotes: none inside, nothing that ends or splits the statement.
        const QString name = text.trimmed();
        if (name.isEmpty() || name.size() > 128)
            fuzz::fail("an identifier that is empty or too long");
        for (QChar c : name)
            if (c == '`' || c.unicode() < 0x20 || c.unicode() == 0x7f)
                fuzz::fail("an identifier with a backquote or a control character");
    }
    if (isOptionName(text) || isIndexKind(text) || isPrefixLength(text))
        for (QChar c : text.trimmed())
            if (!(c.isLetterOrNumber() || c == '_') || c.unicode() > 0x7e)
                fuzz::fail("an option name, index kind or prefix length beyond ASCII words");
    const QString trimmed = text.trimmed();
    if (isColumnType(text) && !staysOnePiece(trimmed))
        fuzz::fail("a column type that does not stay one piece");
    if (isColumnAttributes(text) && !staysOnePiece(trimmed))
        fuzz::fail("column attributes that do not stay one piece");
    if (isDefaultExpression(text) && !staysOnePiece(trimmed))
        fuzz::fail("a default expression that does not stay one piece");
    return 0;
}
