#pragma once
// How every transfer of the assistant is set up, and what it is allowed: HTTP and HTTPS only,
// and over HTTPS the server's certificate and name always verified. Both transfer paths (the
// protocol's requests and the downloads) set their handles up here, so they cannot drift
// apart; what differs between them is a parameter of TransferSetup.
#include <QByteArray>
#include <QString>
#include <curl/curl.h>
#include <deque>
#include <utility>

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

// A transfer's progress against the floor, fed from libcurl's progress callback.
class RateWatch {
public:
    explicit RateWatch(RateFloor floor = rateFloor()) : floor_(floor) {}
    // bytes: the body bytes received so far; nowMs: a steady clock. True once the average
    // over the last floor.seconds fell under the floor.
    bool tooSlow(qint64 nowMs, qint64 bytes);
    // Forgets what was seen: a transfer we hold back ourselves is not slow.
    void restart() { samples_.clear(); }

private:
    RateFloor floor_;
    std::deque<std::pair<qint64, qint64>> samples_; // (time, bytes), oldest first
};

// Sets the allowed protocols (requests and redirects) and, when caFile() names one, the
// authorities' file on an easy handle. Part of setUpTransfer.
void applyTransferPolicy(CURL* easy);

// libcurl's process-wide set-up, done once; false when it failed.
bool initTransfers();

// One transfer's set-up. The defaults are the downloads'; the protocol's requests differ.
struct TransferSetup {
    QByteArray url;
    int port = 0;                   // replaces the URL's port when not 0
    int connectTimeoutSeconds = 20; // requests: 15, a login should fail sooner
    int stallSeconds = 30;          // receiving nothing for this long fails the transfer
    // Requests go direct (no proxy from the environment), as the original control was set
    // up; downloads honour the environment's proxy.
    bool direct = false;
    // Downloads ask for HTTP/1.1: the engine reads the status at its place in "HTTP/1.1 200"
    // and takes version 1.1 for resume support; requests take libcurl's choice.
    bool http11 = true;
    // Downloads read the socket in large blocks (fewer, larger reads; what reaches the caller
    // stays at most 16 KiB a delivery); 0: libcurl's default.
    long receiveBufferBytes = 128L * 1024;
    // Requests: an announced length over this fails before any body is read; 0: no limit.
    qint64 maxBodyBytes = 0;
};

// Sets up an easy handle fresh from curl_easy_init or curl_easy_reset for a GET: the address
// and port, the policy above, time-outs and the stall check, no signals, and errorBuffer
// (CURL_ERROR_SIZE bytes) for libcurl's words on a failure. The callbacks are the caller's.
void setUpTransfer(CURL* easy, const TransferSetup& setup, char* errorBuffer);

} // namespace krv::platform
