#pragma once
// A TCP proxy on loopback that holds every byte for half a round trip in each direction,
// so that a local server answers as one across a slow link would. Bandwidth is not limited:
// bytes sent back to back arrive back to back, each late by the same amount. Ours because
// the kernel's netem queueing discipline is not available on these machines.
#include <atomic>
#include <thread>

namespace krv::bench {

class LatencyProxy {
public:
    // Forwards connections on a free loopback port to 127.0.0.1:targetPort with the given
    // round trip. Throws std::runtime_error when it cannot listen.
    LatencyProxy(int targetPort, int roundTripMs);
    ~LatencyProxy();
    LatencyProxy(const LatencyProxy&) = delete;
    LatencyProxy& operator=(const LatencyProxy&) = delete;

    int port() const { return port_; }

private:
    void run();

    int targetPort_;
    int oneWayMs_;
    int listener_ = -1;
    int wake_[2] = {-1, -1};
    int port_ = 0;
    std::thread thread_;
};

} // namespace krv::bench
