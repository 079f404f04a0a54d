#pragma once
// Every HTTP transfer of the assistant, the protocol's requests and the downloads alike, on one
// libcurl set-up: HTTP and HTTPS only, over HTTPS the server's certificate and name always
// verified, the same time-outs, rate floor and header parsing. What differs between the two
// is in TransferOptions, made by its named constructors. Nothing is thrown.
#include "platform/transfer_fault.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace krv::platform {

// The certificate authorities an administrator names instead of the system's store: the
// file ZELVOR_CA_FILE names (PEM); empty when unset. There is deliberately no setting that
// turns verification off.
QString caFile();

// The slowest a transfer may go: fewer than bytesPerSecond on average over seconds ends it
// as timed out, so that a server dripping bytes cannot hold a run (and the suite's lock) for
// ever. ZELVOR_MIN_RATE (bytes a second, default 1024) and ZELVOR_MIN_RATE_SECONDS (default
// 60) set it; 0 for either turns the check off.
struct RateFloor {
    qint64 bytesPerSecond = 1024;
    qint64 seconds = 60;
};
RateFloor rateFloor();

// One transfer's set-up: what differs between the protocol's requests and the downloads,
// each made by its named constructor; a caller may change a field afterwards.
struct TransferOptions {
    // A protocol request: direct, its answer held in memory and limited in size.
    static TransferOptions request();
    // A download: through the environment's proxy, streamed, the event loop turned meanwhile.
    static TransferOptions download();

    int port = 0; // replaces the URL's port when not 0
    // The same for both: a server that has not accepted the connection in 15 s is taken for
    // dead, so that a login fails soon and a download goes on to its error.
    int connectTimeoutSeconds = 15;
    // Receiving nothing for this long fails the transfer: a stalled server must not hold a run
    // (and the suite's lock) for ever.
    int stallSeconds = 30;
    // Requests go direct (no proxy from the environment), as the original control was set
    // up; downloads honour the environment's proxy.
    bool direct = false;
    // Downloads read the socket in large blocks (fewer, larger reads; what reaches the caller
    // stays at most 16 KiB a delivery); 0: libcurl's default.
    long receiveBufferBytes = 0;
    // A longer answer (announced or received) is abandoned, not kept; 0: no limit. Requests
    // hold their answer in memory: a runaway server must not fill it.
    qint64 maxBodyBytes = 0;
    // Called about every 50 ms while a body is awaited: downloads give the event loop its
    // turn (platform::yield); a request, whatever its caller asks.
    std::function<void()> whileWaiting;
};

// The Internet Transfer control's stand-in: one HTTP GET at a time on libcurl's multi
// interface, driven from the user-interface thread. The body streams through a bounded
// buffer, so memory stays small whatever the file size; a dead server ends in an error.
class InetTransfer {
public:
    // A download with TransferOptions::download().
    InetTransfer();
    explicit InetTransfer(TransferOptions options);
    ~InetTransfer();
    InetTransfer(const InetTransfer&) = delete;
    InetTransfer& operator=(const InetTransfer&) = delete;

    // The address of the next request.
    void setUrl(const QString& url);
    QString url() const;
    // The port of the next requests; 0 (the default) uses the one of the address.
    void setRemotePort(int port);
    // The set-up of the next requests.
    void setOptions(TransferOptions options);
    const TransferOptions& options() const;

    // Starts a GET of url(), with optional request header lines ("Range: bytes=10-"), and
    // returns at once. A request still under way is abandoned first.
    void execute(const QStringList& requestHeaders = {});

    // True while the request runs and its answer's headers are not complete. Each call
    // moves the transfer on, waiting briefly for the network rather than spinning.
    bool stillExecuting();

    // The answer's header block, status line first ("HTTP/1.1 200 OK"), lines joined by
    // CR LF; empty when no answer came.
    QString getHeader() const;
    // One header's value (name without regard to case); empty when absent.
    QString getHeader(const QString& name) const;
    // The answer's status (200); 0 when no answer came.
    int status() const;
    // The answer's HTTP version as its status line names it ("1.0", "1.1", "2"); empty when
    // no answer came.
    QString httpVersion() const;

    // The next bytes of the body, at most size; waits (yielding to the event loop) until
    // size bytes are there or the body has ended. Empty once the body is exhausted or the
    // transfer failed.
    QByteArray getChunk(int size);

    // Abandons the request under way and frees its connection.
    void cancel();

    // An answer is pending: a request was executed and neither cancelled nor ended by a
    // failure before its headers came.
    bool hasAnswer() const;
    // The transfer ended with a transport error (refused, timed out, cut short, ...).
    bool failed() const;
    QString errorText() const;
    // What kind of transport failure ended the transfer; None unless failed().
    TransportFault fault() const;
    // The body passed the set-up's maxBodyBytes (announced or received).
    bool tooLarge() const;

    // Bytes the body buffer holds at most before the transfer is held back.
    static constexpr int BufferCapacity = 256 * 1024;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
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

// A protocol request: GETs url as the transfer control's synchronous open did, with what the
// control never told (the status, and whether the transport failed or the answer grew past a
// limit). Received only on status 200 with the whole body within maxBodyBytes; the body of
// any other answer is dropped. The bytes are the server's: callers decode them.
HttpAnswer httpRequest(const QString& url,
                       const TransferOptions& options = TransferOptions::request());

// The body of a received answer; empty on any failure.
QByteArray httpGet(const QString& url, const TransferOptions& options = TransferOptions::request());

} // namespace krv::platform
