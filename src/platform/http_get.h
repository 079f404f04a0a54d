#pragma once
// Opening a URL and returning its answer, as the transfer control's synchronous open did, with
// what the control never told: the HTTP status, and whether the transport failed or the
// answer grew past a limit. Nothing is thrown.
#include <QByteArray>
#include <QString>
#include <functional>

namespace krv::platform {

// Why a transfer ended without its answer, in the terms a user can act on.
enum class TransportFault {
    None,
    TimedOut,     // nothing came for too long, or connecting took too long
    Refused,      // nothing listens there, or the host cannot be reached
    HostNotFound, // the server's name does not resolve
    Reset,        // the connection was cut by the other side or the network
    CutShort,     // the answer ended before the length it announced
    NoAnswer,     // the server closed the connection without answering
    Untrusted,    // HTTPS: the server's certificate (or its name in it) failed verification
    NoCaFile,     // HTTPS: the certificate authorities to verify against could not be read
    TlsFailed,    // HTTPS: the secure connection could not be set up
    Other,
};

// A libcurl result code as a fault.
TransportFault transportFault(int curlCode);
// A fault of the secure connection: retrying or another password cannot mend it.
bool isTlsFault(TransportFault fault);
// The fault as a user reads it (Portuguese), with the library's own words for Other and the
// secure connection's faults.
QString describeFault(TransportFault fault, const QString& detail = {});

struct HttpGetOptions {
    int remotePort = 0;                     // replaces the URL's port when not 0
    int connectTimeoutSeconds = 15;         // connecting longer than this fails
    int lowSpeedSeconds = 30;               // a transfer stalled this long fails
    qint64 maxBodyBytes = 16 * 1024 * 1024; // a longer answer is abandoned, not kept
    // Called repeatedly while the answer is awaited (the event loop, for repainting).
    std::function<void()> whileWaiting;
};

struct HttpAnswer {
    enum class Failure { None, Transport, Status, TooLarge };
    Failure failure = Failure::None;
    TransportFault fault = TransportFault::None; // with Failure::Transport
    int status = 0;                              // the final answer's status; 0 when none came
    QString statusLine;                          // "HTTP/1.1 500 Internal Server Error"
    QString detail;                              // the library's words for a transport failure
    QByteArray body;                             // the server's bytes; empty unless received
    bool received() const { return failure == Failure::None; }
};

// GETs url. Received only on status 200 with the whole body within maxBodyBytes; the body
// of any other answer is dropped. The bytes are the server's: callers decode them.
HttpAnswer httpRequest(const QString& url, const HttpGetOptions& options = {});

// The body of a received answer; empty on any failure.
QByteArray httpGet(const QString& url, const HttpGetOptions& options = {});

} // namespace krv::platform
