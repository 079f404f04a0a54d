// A connection string as Config.BD holds it; and the string the repair path writes, read
// back, for values that hold none of the string's own separators.
#include "database/connection_string.h"
#include "scratch_file.h"

#include <QStringList>

namespace {

bool plain(const QString& v) {
    for (QChar c : v)
        if (c == ';' || c == '=' || c == '{' || c == '}' || c == ':' || c.isSpace())
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace krv;
    using namespace krv::database;
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    (void)parseConnectionString(text);

    const QStringList parts = text.split('\n');
    if (parts.size() != 5)
        return 0;
    for (const QString& v : parts)
        if (v.isEmpty() || !plain(v))
            return 0;
    const ConnectionParams back = parseConnectionString(
        odbcConnectionString(parts[0], parts[1], parts[2], parts[3], parts[4]));
    if (back.driver != parts[0] || back.host != parts[1] || back.database != parts[2] ||
        back.user != parts[3] || back.password != parts[4] || back.port != 3306)
        fuzz::fail("the repair's connection string does not read back");
    return 0;
}
