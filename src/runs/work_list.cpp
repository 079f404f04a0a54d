#include "runs/work_list.h"

#include "common/updatekrv.h"
#include "platform/paths.h"

#include <algorithm>

namespace krv::runs {

QStringList WorkList::files() const {
    QStringList names;
    for (const WorkItem& item : items)
        names << item.file;
    return names;
}

bool WorkList::has(WorkItem::Kind kind) const {
    return std::any_of(items.begin(), items.end(),
                       [kind](const WorkItem& item) { return item.kind == kind; });
}

QString updatePath(const QString& file) {
    return platform::winJoin(updatekrv::DirSis, "\\update\\" + file);
}

QString updatePath(WorkItem::Kind kind) {
    return updatePath(kind == WorkItem::Kind::Menu ? "mnusis_cs.krv" : "krv.mdb");
}

} // namespace krv::runs
