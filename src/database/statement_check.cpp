#include "database/statement_check.h"

#include <array>

namespace krv::database {

namespace {

// The server's limit on a name's length.
constexpr qsizetype kMaxIdentifier = 64;
// Longer texts are no reasonable type, attribute list or default.
constexpr qsizetype kMaxText = 4096;
// Expression nesting a default may use; deeper is refused rather than recursed into.
constexpr int kMaxDepth = 16;

bool isAsciiLetter(QChar c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}
bool isDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}
bool isIdentifierChar(QChar c) {
    return c.isLetter() || isDigit(c) || c == u'_' || c == u'$';
}

// A hand-written scanner: the grammar is small, and a parser library would add a far larger
// surface to an input that must be refused when in doubt.
class Scanner {
public:
    explicit Scanner(const QString& text) : s_(text) {
        while (begin_ < s_.size() && s_[begin_] == u' ')
            ++begin_;
        end_ = s_.size();
        while (end_ > begin_ && s_[end_ - 1] == u' ')
            --end_;
        pos_ = begin_;
    }

    bool atEnd() const { return pos_ >= end_; }
    bool empty() const { return begin_ == end_; }
    qsizetype length() const { return end_ - begin_; }
    QChar peek() const { return atEnd() ? QChar() : s_[pos_]; }

    // Blanks between tokens; returns whether there were any.
    bool blanks() {
        const qsizetype start = pos_;
        while (!atEnd() && s_[pos_] == u' ')
            ++pos_;
        return pos_ > start;
    }

    bool accept(QChar c) {
        if (peek() != c)
            return false;
        ++pos_;
        return true;
    }

    // An ASCII word (letters, digits, "_", starting with a letter), in lower case; empty
    // when none starts here.
    QString word() {
        if (atEnd() || !isAsciiLetter(s_[pos_]))
            return {};
        const qsizetype start = pos_;
        while (!atEnd() && (isAsciiLetter(s_[pos_]) || isDigit(s_[pos_]) || s_[pos_] == u'_'))
            ++pos_;
        return s_.mid(start, pos_ - start).toLower();
    }

    // Takes word w (case ignored) when it comes next, followed by a non-word character.
    bool keyword(const char* w) {
        const qsizetype save = pos_;
        if (word() == QLatin1String(w))
            return true;
        pos_ = save;
        return false;
    }

    bool number() {
        const qsizetype start = pos_;
        while (!atEnd() && isDigit(s_[pos_]))
            ++pos_;
        if (pos_ == start || pos_ - start > 30)
            return false;
        if (accept(u'.')) {
            const qsizetype fraction = pos_;
            while (!atEnd() && isDigit(s_[pos_]))
                ++pos_;
            return pos_ > fraction;
        }
        return true;
    }

    // A plain identifier, bare or between backquotes.
    bool identifier() {
        const bool quoted = accept(u'`');
        const qsizetype start = pos_;
        while (!atEnd() && isIdentifierChar(s_[pos_]))
            ++pos_;
        const qsizetype n = pos_ - start;
        if (n == 0 || n > kMaxIdentifier)
            return false;
        return !quoted || accept(u'`');
    }

    // A text between apostrophes. A doubled apostrophe stands for one. A backslash may
    // stand anywhere except right before an apostrophe in an odd run: there the server's
    // two escaping modes would disagree on where the text ends.
    bool quoted() {
        if (!accept(u'\''))
            return false;
        while (!atEnd()) {
            const QChar c = s_[pos_];
            if (c.unicode() < 0x20 || c.unicode() == 0x7f)
                return false;
            if (c == u'\\') {
                qsizetype run = 0;
                while (!atEnd() && s_[pos_] == u'\\') {
                    ++run;
                    ++pos_;
                }
                if (run % 2 == 1 && peek() == u'\'')
                    return false;
                continue;
            }
            ++pos_;
            if (c == u'\'') {
                if (peek() != u'\'')
                    return true;
                ++pos_;
            }
        }
        return false;
    }

private:
    QString s_; // shared, not copied
    qsizetype begin_ = 0, end_ = 0, pos_ = 0;
};

bool typeArgument(Scanner& in) {
    in.blanks();
    const bool ok = in.peek() == u'\'' ? in.quoted() : in.number();
    in.blanks();
    return ok;
}

// character set / charset / collate names: words of letters, digits and "_".
bool nameAfter(Scanner& in) {
    return in.blanks() && !in.word().isEmpty();
}

bool typeAttribute(Scanner& in) {
    const QString w = in.word();
    if (w == "unsigned" || w == "signed" || w == "zerofill" || w == "binary" || w == "ascii" ||
        w == "unicode" || w == "byte")
        return true;
    if (w == "charset" || w == "collate")
        return nameAfter(in);
    if (w == "character")
        return in.blanks() && in.keyword("set") && nameAfter(in);
    return false;
}

// "(n)" or "()" after current_timestamp and its kin.
bool optionalPrecision(Scanner& in) {
    if (!in.accept(u'('))
        return true;
    in.blanks();
    if (in.peek() != u')' && !in.number())
        return false;
    in.blanks();
    return in.accept(u')');
}

bool columnAttribute(Scanner& in) {
    const QString w = in.word();
    if (w == "auto_increment" || w == "first" || w == "invisible")
        return true;
    if (w == "after")
        return in.blanks() && in.identifier();
    if (w == "comment") {
        in.blanks();
        return in.quoted();
    }
    if (w == "on")
        return in.blanks() && in.keyword("update") && in.blanks() &&
               in.keyword("current_timestamp") && optionalPrecision(in);
    if (w == "unique") {
        Scanner probe = in;
        if (probe.blanks() && probe.keyword("key"))
            in = probe;
        return true;
    }
    if (w == "primary")
        return in.blanks() && in.keyword("key");
    return false;
}

// Functions a default may call. Only these: a default is evaluated on every insert, so a
// call that reads files or waits has no place there.
constexpr std::array kFunctions = {"current_timestamp",
                                   "now",
                                   "localtime",
                                   "localtimestamp",
                                   "current_date",
                                   "curdate",
                                   "current_time",
                                   "curtime",
                                   "utc_timestamp",
                                   "utc_date",
                                   "utc_time",
                                   "sysdate",
                                   "unix_timestamp",
                                   "from_unixtime",
                                   "uuid",
                                   "uuid_short",
                                   "rand",
                                   "concat",
                                   "coalesce",
                                   "ifnull",
                                   "lower",
                                   "upper",
                                   "abs",
                                   "round",
                                   "floor",
                                   "ceiling",
                                   "year",
                                   "month",
                                   "date",
                                   "time",
                                   "current_user",
                                   "user"};
// Keywords that name a value without parentheses.
constexpr std::array kKeywords = {"current_timestamp", "current_date",   "current_time",
                                  "localtime",         "localtimestamp", "current_user"};

template <size_t N> bool among(const QString& w, const std::array<const char*, N>& list) {
    for (const char* item : list)
        if (w == QLatin1String(item))
            return true;
    return false;
}

bool expression(Scanner& in, int depth);

// "--" before a blank starts a comment to the server, which would cut the statement short:
// two minus signs must stand apart.
bool term(Scanner& in, int depth) {
    in.blanks();
    if (in.accept(u'-'))
        return in.peek() != u'-' && term(in, depth);
    if (in.accept(u'+'))
        return term(in, depth);
    if (isDigit(in.peek()))
        return in.number();
    if (in.peek() == u'\'')
        return in.quoted();
    if (in.accept(u'(')) {
        if (!expression(in, depth + 1))
            return false;
        in.blanks();
        return in.accept(u')');
    }
    const QString w = in.word();
    if (w.isEmpty())
        return false;
    Scanner probe = in;
    probe.blanks();
    if (!probe.accept(u'('))
        return among(w, kKeywords);
    if (!among(w, kFunctions))
        return false;
    in = probe;
    in.blanks();
    if (in.accept(u')'))
        return true;
    do {
        if (!expression(in, depth + 1))
            return false;
        in.blanks();
    } while (in.accept(u','));
    return in.accept(u')');
}

bool expression(Scanner& in, int depth) {
    if (depth > kMaxDepth || !term(in, depth))
        return false;
    for (;;) {
        Scanner probe = in;
        probe.blanks();
        const QChar op = probe.peek();
        if (op != u'+' && op != u'-' && op != u'*' && op != u'/')
            return true;
        probe.accept(op);
        if (op == u'-' && probe.peek() == u'-')
            return false;
        in = probe;
        if (!term(in, depth))
            return false;
    }
}

} // namespace

bool isPlainIdentifier(const QString& name) {
    // The spaces around a name are not part of it; any other blank at either end stays and
    // is judged below.
    qsizetype begin = 0, end = name.size();
    while (begin < end && name[begin] == u' ')
        ++begin;
    while (end > begin && name[end - 1] == u' ')
        --end;
    if (begin == end)
        return false;
    qsizetype characters = 0;
    for (qsizetype i = begin; i < end; ++i) {
        const QChar c = name[i];
        if (c == u'`' || c.category() == QChar::Other_Control)
            return false;
        // The server counts characters, not UTF-16 units; a lone surrogate is no character.
        if (c.isHighSurrogate()) {
            if (i + 1 >= end || !name[i + 1].isLowSurrogate())
                return false;
            ++i;
        } else if (c.isLowSurrogate()) {
            return false;
        }
        if (++characters > kMaxIdentifier)
            return false;
    }
    return !name[end - 1].isSpace();
}

bool isOptionName(const QString& name) {
    Scanner in(name);
    if (in.length() > kMaxIdentifier)
        return false;
    return !in.word().isEmpty() && in.atEnd();
}

bool isIndexKind(const QString& kind) {
    Scanner in(kind);
    const QString w = in.word();
    return in.atEnd() && (w == "btree" || w == "fulltext" || w == "spatial" || w == "hash");
}

bool isPrefixLength(const QString& length) {
    Scanner in(length);
    if (in.empty() || in.length() > 4)
        return false;
    int value = 0;
    while (!in.atEnd()) {
        const QChar c = in.peek();
        if (!isDigit(c))
            return false;
        value = value * 10 + (c.unicode() - u'0');
        in.accept(c);
    }
    return value >= 1 && value <= kMaxPrefixLength;
}

bool isColumnType(const QString& type) {
    Scanner in(type);
    if (in.length() > kMaxText || in.word().isEmpty())
        return false;
    Scanner probe = in;
    probe.blanks();
    if (probe.accept(u'(')) {
        in = probe;
        do {
            if (!typeArgument(in))
                return false;
        } while (in.accept(u','));
        if (!in.accept(u')'))
            return false;
    }
    while (!in.atEnd())
        if (!in.blanks() || !typeAttribute(in))
            return false;
    return true;
}

bool isColumnAttributes(const QString& text) {
    Scanner in(text);
    if (in.length() > kMaxText)
        return false;
    while (!in.atEnd()) {
        if (!columnAttribute(in))
            return false;
        // Attributes are separated by blanks; "after" names and quoted comments end where
        // they end, so a further attribute needs a blank first.
        if (!in.atEnd() && !in.blanks())
            return false;
    }
    return true;
}

bool isDefaultExpression(const QString& text) {
    Scanner in(text);
    if (in.empty() || in.length() > kMaxText)
        return false;
    // The server reports an expression default as a function call, a date keyword,
    // arithmetic between parentheses, or (for text and blob columns) a text already between
    // apostrophes; a bare number or text (even "1+2") is a literal.
    const QChar first = in.peek();
    if (first == u'\'')
        return in.quoted() && in.atEnd();
    if (first != u'(' && !isAsciiLetter(first))
        return false;
    return term(in, 0) && in.atEnd();
}

bool isJsonCheck(const QString& check, const QString& field) {
    QString c = check.simplified().toLower();
    c.remove(u' ');
    const QString f = field.trimmed().toLower();
    return isPlainIdentifier(field) &&
           (c == "json_valid(`" + f + "`)" || c == "json_valid(" + f + ")");
}

} // namespace krv::database
