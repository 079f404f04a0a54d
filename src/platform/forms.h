#pragma once
// Windows are single instances created on first use and living until unloaded, as the
// original's forms were.
#include <QPointer>
#include <QWidget>

namespace krv::platform {

template <class W> W& form() {
    static QPointer<W> instance;
    if (!instance)
        instance = new W;
    return *instance;
}

// Closes the window and destroys it; the next form<W>() creates a fresh one.
inline void unload(QWidget* w) {
    if (!w)
        return;
    w->hide();
    w->deleteLater();
}

} // namespace krv::platform
