#pragma once
// The Internet Transfer control's stand-in: one HTTP GET at a time on libcurl's multi
// interface, driven from the user-interface thread. The body streams through a bounded
// buffer, so memory stays small whatever the file size; a dead server ends in an error.
#include "platform/http_get.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

namespace krv::platform {

class InetTransfer {
public:
    InetTransfer();
    ~InetTransfer();
    InetTransfer(const InetTransfer&) = delete;
    InetTransfer& operator=(const InetTransfer&) = delete;

    // The address of the next request.
    void setUrl(const QString& url);
    QString url() const;
    // The port of the next requests; 0 (the default) uses the one of the address.
    void setRemotePort(int port);

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

    // Time-outs of every transfer started afterwards: connecting, and the longest time the
    // server may send nothing at all before the transfer is abandoned.
    static void setTimeouts(int connectSeconds, int stallSeconds);

    // Bytes the body buffer holds at most before the transfer is held back.
    static constexpr int BufferCapacity = 256 * 1024;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace krv::platform
