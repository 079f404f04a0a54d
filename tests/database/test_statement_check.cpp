#include "database/statement_check.h"

#include <gtest/gtest.h>

using namespace krv::database;

namespace {

enum class Piece { Name, Type, Attributes, Expression, Option, Kind, Prefix };

struct CheckCase {
    Piece piece;
    const char* text; // UTF-8
    bool accepted;
};

bool check(Piece piece, const QString& text) {
    switch (piece) {
    case Piece::Name:
        return isPlainIdentifier(text);
    case Piece::Type:
        return isColumnType(text);
    case Piece::Attributes:
        return isColumnAttributes(text);
    case Piece::Expression:
        return isDefaultExpression(text);
    case Piece::Option:
        return isOptionName(text);
    case Piece::Kind:
        return isIndexKind(text);
    case Piece::Prefix:
        return isPrefixLength(text);
    }
    return false;
}

const CheckCase kCases[] = {
    // Names from the test data and real schemas.
    {Piece::Name, "clientes", true},
    {Piece::Name, " Produtos ", true},
    {Piece::Name, "promoções", true},
    {Piece::Name, "idx_descrição", true},
    {Piece::Name, "PRIMARY", true},
    {Piece::Name, "Offset", true},
    {Piece::Name, "a$b_9", true},
    {Piece::Name, "", false},
    {Piece::Name, "   ", false},
    // Between backquotes any of these is one name: the statement cannot be left.
    {Piece::Name, "reply-to", true},
    {Piece::Name, "max-access", true},
    {Piece::Name, "a.b", true},
    {Piece::Name, "a b", true},
    {Piece::Name, "o'brien", true},
    {Piece::Name, "a\"b", true},
    {Piece::Name, "a;b", true},
    {Piece::Name, "a(b)", true},
    {Piece::Name, "a/*x*/", true},
    {Piece::Name, "t1 (a int); drop table menu; create table t2", true},
    {Piece::Name, "t1`; drop table menu; --", false},
    {Piece::Name, "`t1`", false},
    {Piece::Name, "a\tb", false},
    {Piece::Name, "a\nb", false},
    {Piece::Name, "a\x7f", false},
    {Piece::Name, "a\xc2\x85", false}, // a control character beyond ASCII
    {Piece::Name, "a\t", false},       // a blank at the end that is not a space
    {Piece::Name, "a\xc2\xa0", false}, // nor is a no-break space
    {Piece::Name, "abcdefghijabcdefghijabcdefghijabcdefghijabcdefghijabcdefghijabcd", true},
    {Piece::Name, "abcdefghijabcdefghijabcdefghijabcdefghijabcdefghijabcdefghijabcde", false},
    // 64 characters, 128 UTF-16 units.
    {Piece::Name,
     "\xf0\x9f\x98\x80\xf0\x9f\x98\x80\xf0\x9f\x98\x80\xf0\x9f\x98\x80\xf0\x9f\x98\x80"
     "\xf0\x9f\x98\x80\xf0\x9f\x98\x80\xf0\x9f\x98\x80\xf0\x9f\x98\x80\xf0\x9f\x98\x80"
     "\xf0\x9f\x98\x80\xf0\x9f\x98\x80\xf0\x9f\x98\x80\xf0\x9f\x98\x80\xf0\x9f\x98\x80"
     "\xf0\x9f\x98\x80"
     "abcdefghijabcdefghijabcdefghijabcdefghijabcdefgh",
     true},

    // Engines, character sets, collations, index kinds and prefix lengths.
    {Piece::Option, "InnoDB", true},
    {Piece::Option, " utf8mb4_unicode_ci ", true},
    {Piece::Option, "latin1", true},
    {Piece::Option, "MEMORY", true},
    {Piece::Option, "", false},
    {Piece::Option, "1latin", false},
    {Piece::Option, "utf8mb4 collate x", false},
    {Piece::Option, "InnoDB; drop table menu", false},
    {Piece::Option, "`InnoDB`", false},
    {Piece::Option, "promoção", false},
    {Piece::Kind, "BTREE", true},
    {Piece::Kind, "fulltext", true},
    {Piece::Kind, "SPATIAL", true},
    {Piece::Kind, "HASH", true},
    {Piece::Kind, "RTREE", false},
    {Piece::Kind, "HASH KEY", false},
    {Piece::Kind, "", false},
    {Piece::Prefix, "1", true},
    {Piece::Prefix, "764", true},
    {Piece::Prefix, "3072", true},
    {Piece::Prefix, "3073", false},
    {Piece::Prefix, "0", false},
    {Piece::Prefix, "-1", false},
    {Piece::Prefix, "12a", false},
    {Piece::Prefix, "10)", false},
    {Piece::Prefix, "00010", false},
    {Piece::Prefix, "", false},

    // Types the server reports, and what the test data holds.
    {Piece::Type, "int(11)", true},
    {Piece::Type, " VARCHAR(40) ", true},
    {Piece::Type, "decimal(10,2)", true},
    {Piece::Type, "text", true},
    {Piece::Type, "int(10) unsigned zerofill", true},
    {Piece::Type, "enum('a','b')", true},
    {Piece::Type, "enum('a''b','c')", true},
    {Piece::Type, "set('x, y','z)')", true},
    {Piece::Type, "enum('a\\\\b')", true},
    {Piece::Type, "timestamp(6)", true},
    {Piece::Type, "char(64) character set utf8mb3 collate utf8mb3_bin", true},
    {Piece::Type, "varchar(10) CHARSET latin1", true},
    {Piece::Type, "tipo_que_nao_existe", true}, // the server judges the name itself
    {Piece::Type, "", false},
    {Piece::Type, "varchar(120)), drop column nome, add column (zz int", false},
    {Piece::Type, "int; drop table menu", false},
    {Piece::Type, "int -- x", false},
    {Piece::Type, "int /* x */", false},
    {Piece::Type, "int(11) default 1", false},
    {Piece::Type, "int(11) comment 'x'", false},
    {Piece::Type, "enum('a)", false},
    {Piece::Type, "enum('a\\')", false}, // ends differently in the two escaping modes
    {Piece::Type, "enum('a\\'), drop column x, add column (y int')", false},
    {Piece::Type, "enum('a\nb')", false},
    {Piece::Type, "varchar(a)", false},
    {Piece::Type, "varchar(10", false},
    {Piece::Type, "character set", false},
    {Piece::Type, "int unsigned,", false},

    // extra and auto.
    {Piece::Attributes, "", true},
    {Piece::Attributes, "auto_increment", true},
    {Piece::Attributes, " auto_increment", true},
    {Piece::Attributes, "AUTO_INCREMENT", true},
    {Piece::Attributes, "on update current_timestamp()", true},
    {Piece::Attributes, " on update current_timestamp(6)", true},
    {Piece::Attributes, "on update CURRENT_TIMESTAMP", true},
    {Piece::Attributes, " first", true},
    {Piece::Attributes, " after nome", true},
    {Piece::Attributes, " after `descrição`", true},
    {Piece::Attributes, " comment 'nova'", true},
    {Piece::Attributes, " comment 'it''s' after nome", true},
    {Piece::Attributes, "auto_increment unique key", true},
    {Piece::Attributes, "invisible", true},
    {Piece::Attributes, "; drop table menu", false},
    {Piece::Attributes, "auto_increment; drop table menu", false},
    {Piece::Attributes, "1", false}, // a yes/no flag, not text to append
    {Piece::Attributes, "0", false},
    {Piece::Attributes, "after", false},
    {Piece::Attributes, "after a;b", false},
    {Piece::Attributes, "after `a` `b`", false},
    {Piece::Attributes, "comment 'x'), drop column y, add column (z int", false},
    {Piece::Attributes, "on update sleep(10)", false},
    {Piece::Attributes, "default 1", false},
    {Piece::Attributes, "VIRTUAL GENERATED", false},
    {Piece::Attributes, "auto_incrementfirst", false},
    {Piece::Attributes, "comment 'x'first", false},

    // Defaults: what is an expression (unquoted) and what stays a literal.
    {Piece::Expression, "current_timestamp()", true},
    {Piece::Expression, "current_timestamp(6)", true},
    {Piece::Expression, "CURRENT_TIMESTAMP", true},
    {Piece::Expression, "curdate()", true},
    {Piece::Expression, "(now() + 1)", true},
    {Piece::Expression, "(1 + 2)", true},
    {Piece::Expression, "((1 + 2) * -3)", true},
    {Piece::Expression, "concat('a', uuid())", true},
    {Piece::Expression, "unix_timestamp(current_timestamp())", true},
    {Piece::Expression, "0", false},
    {Piece::Expression, "0.00", false},
    {Piece::Expression, "-1", false},
    {Piece::Expression, "''", true},
    {Piece::Expression, "'{}'", true},
    {Piece::Expression, "'it''s'", true},
    {Piece::Expression, "'a' 'b'", false},
    {Piece::Expression, "'a\\'", false},
    {Piece::Expression, "a", false},
    {Piece::Expression, "O'Brien", false},
    {Piece::Expression, "ação", false},
    {Piece::Expression, "1+2", false}, // how a text default "1+2" is reported
    {Piece::Expression, "now() + 1", false},
    {Piece::Expression, "sleep(10)", false},
    {Piece::Expression, "load_file('/etc/passwd')", false},
    {Piece::Expression, "now(); drop table menu", false},
    {Piece::Expression, "now() -- x", false},
    {Piece::Expression, "concat('a'--  'b')", false}, // the rest of the line a comment
    {Piece::Expression, "(1--  1)", false},
    {Piece::Expression, "(--  1)", false},
    {Piece::Expression, "(- -1)", true},
    {Piece::Expression, "(1 - -1)", true},
    {Piece::Expression, "(((((((((((((((((((1)))))))))))))))))))", false},
    {Piece::Expression, "now(", false},
    {Piece::Expression, "current_date current_date", false},
    {Piece::Expression, "", false},
};

} // namespace

TEST(StatementCheck, AcceptsWhatRealSchemasHoldAndRefusesInjections) {
    for (const CheckCase& c : kCases) {
        const QString text = QString::fromUtf8(c.text);
        EXPECT_EQ(check(c.piece, text), c.accepted)
            << "piece " << int(c.piece) << ": [" << c.text << "]";
    }
}
