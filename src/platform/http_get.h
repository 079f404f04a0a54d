#pragma once
// Opening a URL and returning its body, as the transfer control's synchronous open did. A
// transport failure (host not found, refused, time-out, dead server) gives an empty body;
// nothing is thrown.
#include <QByteArray>
#include <QString>
#include <functional>

namespace krv::platform {

struct HttpGetOptions {
    int remotePort = 0;             // replaces the URL's port when not 0
    int connectTimeoutSeconds = 15; // connecting longer than this fails
    int lowSpeedSeconds = 30;       // a transfer stalled this long fails
    // Called repeatedly while the answer is awaited (the event loop, for repainting).
    std::function<void()> whileWaiting;
};

// The body of url, whatever the HTTP status (as the transfer control did); empty on failure.
// The bytes are the server's: callers decode them (text::decodeLegacy).
QByteArray httpGet(const QString& url, const HttpGetOptions& options = {});

} // namespace krv::platform
