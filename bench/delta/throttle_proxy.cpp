#include "throttle_proxy.h"

#include <arpa/inet.h>
#include <chrono>
#include <functional>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace krv::bench {

namespace {

using Clock = std::chrono::steady_clock;

int connectTo(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0)
        return fd;
    if (fd >= 0)
        close(fd);
    return -1;
}

bool sendAll(int fd, const char* data, ssize_t size) {
    while (size > 0) {
        const ssize_t n = send(fd, data, size_t(size), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

// Both directions of one connection; the server's bytes leave no faster than rate. Small
// slices (4 KiB) keep the pace even: a line of that rate never delivers a burst.
void pump(int client, int server, double rate, const std::atomic<bool>& stopping) {
    char buffer[4096];
    const Clock::time_point start = Clock::now();
    double sent = 0;
    pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
    while (!stopping) {
        const int ready = poll(fds, 2, 200);
        if (ready < 0)
            break;
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t n = recv(client, buffer, sizeof buffer, 0);
            if (n <= 0 || !sendAll(server, buffer, n))
                break;
        }
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t n = recv(server, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            sent += double(n);
            const auto due = start + std::chrono::duration_cast<Clock::duration>(
                                         std::chrono::duration<double>(sent / rate));
            std::this_thread::sleep_until(due);
            if (!sendAll(client, buffer, n))
                break;
        }
    }
    close(client);
    close(server);
}

} // namespace

ThrottleProxy::ThrottleProxy(int targetPort, double bytesPerSecond)
    : targetPort_(targetPort), rate_(bytesPerSecond) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        listen(listener_, 16) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &size) != 0)
        throw std::runtime_error("throttle proxy: cannot listen on loopback");
    port_ = ntohs(a.sin_port);
    acceptor_ = std::thread([this] { accept(); });
}

ThrottleProxy::~ThrottleProxy() {
    stopping_ = true;
    shutdown(listener_, SHUT_RDWR);
    acceptor_.join();
    close(listener_);
    for (std::thread& t : pumps_)
        t.join();
}

void ThrottleProxy::accept() {
    while (!stopping_) {
        pollfd p{listener_, POLLIN, 0};
        if (poll(&p, 1, 200) <= 0 || !(p.revents & POLLIN))
            continue;
        const int client = ::accept(listener_, nullptr, nullptr);
        if (client < 0)
            continue;
        const int server = connectTo(targetPort_);
        if (server < 0) {
            close(client);
            continue;
        }
        pumps_.emplace_back(pump, client, server, rate_, std::cref(stopping_));
    }
}

} // namespace krv::bench
