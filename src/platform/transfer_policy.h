#pragma once
// What every transfer of the assistant is allowed: HTTP and HTTPS only, and over HTTPS the
// server's certificate and name always verified. Both transfer paths (the protocol's requests
// and the downloads) apply it, so they cannot drift apart.
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
// authorities' file on an easy handle. Call after curl_easy_reset.
void applyTransferPolicy(CURL* easy);

} // namespace krv::platform
