// The release manifest as the installation reads it from a server or a medium: whatever the
// bytes, the reader either refuses them or yields a manifest that survives being written and
// read again unchanged, with only plain, distinct file names and hashes of 64 hex digits.
#include "common/release_manifest.h"
#include "scratch_file.h"

#include <QSet>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace krv;
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    QString why;
    const auto m = manifest::parse(input, &why);
    if (!m) {
        if (why.isEmpty())
            fuzz::fail("a refused manifest without a reason");
        return 0;
    }
    if (m->expires <= m->issued)
        fuzz::fail("a manifest that expires before it is issued");
    QSet<QString> names;
    for (const manifest::Entry& e : m->files) {
        if (e.name.contains('/') || e.name.contains('\\') || e.name.isEmpty() || e.name == ".." ||
            e.sha256.size() != 64 || e.size < 0)
            fuzz::fail("an entry that is not a plain, sized, hashed file");
        if (names.contains(e.name.toLower()))
            fuzz::fail("a name listed twice");
        names.insert(e.name.toLower());
        if (m->find(e.name.toUpper()) != &e)
            fuzz::fail("an entry not found by its name in other case");
    }
    const auto again = manifest::parse(manifest::serialize(*m));
    if (!again || again->serial != m->serial || again->expires != m->expires ||
        again->files.size() != m->files.size())
        fuzz::fail("a manifest that does not read back as written");
    for (qsizetype i = 0; i < m->files.size(); ++i) {
        const manifest::Entry &a = m->files[i], &b = again->files[i];
        if (a.name != b.name || a.size != b.size || a.sha256 != b.sha256 || a.kind != b.kind ||
            a.version != b.version)
            fuzz::fail("an entry that does not read back as written");
    }
    return 0;
}
