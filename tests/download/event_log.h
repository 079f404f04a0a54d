#pragma once
// Records every event of a download component as "Name:argument", in the order raised,
// and lets a test act from inside a handler, as a host would.
#include "download/download_control.h"

#include <QStringList>

#include <functional>

namespace krv::test {

class EventLog {
public:
    explicit EventLog(download::DownLoad& dl) {
        using D = download::DownLoad;
        auto add = [this](const QString& e) {
            events << e;
            if (onEvent)
                onEvent(e);
        };
        QObject::connect(&dl, &D::DLComplete, [add] { add("DLComplete"); });
        QObject::connect(&dl, &D::DLError, [add](const QString& s) { add("DLError:" + s); });
        QObject::connect(&dl, &D::DLECode,
                         [add](std::int32_t c) { add("DLECode:" + QString::number(c)); });
        QObject::connect(&dl, &D::RecievedBytes,
                         [add](std::int32_t n) { add("RecievedBytes:" + QString::number(n)); });
        QObject::connect(&dl, &D::Percent,
                         [add](std::int32_t n) { add("Percent:" + QString::number(n)); });
        QObject::connect(&dl, &D::StatusChange,
                         [add](const QString& s) { add("StatusChange:" + s); });
        QObject::connect(&dl, &D::Rate, [add](const QString& s) { add("Rate:" + s); });
        QObject::connect(&dl, &D::TimeLeft, [add](const QString& s) { add("TimeLeft:" + s); });
        QObject::connect(&dl, &D::ConnectionState,
                         [add](const QString& s) { add("ConnectionState:" + s); });
    }

    // The recorded events whose name is one of names, in order.
    QStringList only(const QStringList& names) const {
        QStringList out;
        for (const QString& e : events)
            if (names.contains(e.section(':', 0, 0)))
                out << e;
        return out;
    }
    bool has(const QString& e) const { return events.contains(e); }
    void clear() { events.clear(); }

    QStringList events;
    std::function<void(const QString&)> onEvent;
};

} // namespace krv::test
