#include "runs/archive_names.h"

namespace krv::runs {

namespace {

// Iterative glob with backtracking to the last "*": linear enough for file names.
bool glob(QStringView name, QStringView mask, Qt::CaseSensitivity cs) {
    qsizetype n = 0, m = 0, starM = -1, starN = 0;
    auto same = [cs](QChar a, QChar b) {
        return cs == Qt::CaseSensitive ? a == b : a.toCaseFolded() == b.toCaseFolded();
    };
    while (n < name.size()) {
        if (m < mask.size() && (mask[m] == '?' || (mask[m] != '*' && same(mask[m], name[n])))) {
            ++n;
            ++m;
        } else if (m < mask.size() && mask[m] == '*') {
            starM = m++;
            starN = n;
        } else if (starM >= 0) {
            m = starM + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == '*')
        ++m;
    return m == mask.size();
}

} // namespace

bool matchesMask(const QString& name, const QString& mask, Qt::CaseSensitivity cs) {
    if (glob(name, mask, cs))
        return true;
    if (mask.endsWith(".*") && !name.contains('.'))
        return glob(name, QStringView(mask).chopped(2), cs);
    return false;
}

QString flatMemberName(const QString& stored) {
    const qsizetype cut = std::max(stored.lastIndexOf('/'), stored.lastIndexOf('\\'));
    const QString last = stored.mid(cut + 1);
    if (last.isEmpty() || last == "." || last == "..")
        return {};
    return last;
}

} // namespace krv::runs
