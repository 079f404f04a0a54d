#pragma once
// A TCP proxy on loopback that holds the server's answers to a fixed rate, so that a local
// server answers as one behind a slow line would (the kernel's netem and tbf are not available
// on these machines). Requests pass unthrottled; each connection gets the whole rate.
#include <atomic>
#include <thread>
#include <vector>

namespace krv::bench {

class ThrottleProxy {
public:
    // Forwards connections on a free loopback port to 127.0.0.1:targetPort at bytesPerSecond
    // towards the client. Throws std::runtime_error when it cannot listen.
    ThrottleProxy(int targetPort, double bytesPerSecond);
    ~ThrottleProxy();
    ThrottleProxy(const ThrottleProxy&) = delete;
    ThrottleProxy& operator=(const ThrottleProxy&) = delete;

    int port() const { return port_; }

private:
    void accept();

    int targetPort_;
    double rate_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptor_;
    std::vector<std::thread> pumps_;
};

} // namespace krv::bench
