#include "latency_proxy.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <deque>
#include <fcntl.h>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace krv::bench {

namespace {

using Clock = std::chrono::steady_clock;

// Bytes read from one side, due on the other side at a given time; an empty chunk stands
// for the end of the stream.
struct Chunk {
    Clock::time_point due;
    std::string data;
    size_t sent = 0;
};

// One direction of one connection.
struct Direction {
    int from = -1, to = -1;
    std::deque<Chunk> queue;
    bool readDone = false;  // from has ended
    bool writeDone = false; // the end was passed on to to
};

struct Link {
    Direction up, down; // client to server, server to client
    bool finished() const { return up.writeDone && down.writeDone; }
};

void noDelay(int fd) {
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

int connectTo(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        if (fd >= 0)
            close(fd);
        return -1;
    }
    noDelay(fd);
    return fd;
}

} // namespace

LatencyProxy::LatencyProxy(int targetPort, int roundTripMs)
    : targetPort_(targetPort), oneWayMs_(roundTripMs / 2) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        listen(listener_, 16) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &size) != 0 || pipe(wake_) != 0)
        throw std::runtime_error("latency proxy: cannot listen on loopback");
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { run(); });
}

LatencyProxy::~LatencyProxy() {
    const char c = 0;
    while (write(wake_[1], &c, 1) < 0 && errno == EINTR) {
    }
    thread_.join();
    close(listener_);
    close(wake_[0]);
    close(wake_[1]);
}

void LatencyProxy::run() {
    std::vector<std::unique_ptr<Link>> links;
    const auto delay = std::chrono::milliseconds(oneWayMs_);
    for (;;) {
        const Clock::time_point now = Clock::now();
        std::vector<pollfd> fds{{wake_[0], POLLIN, 0}, {listener_, POLLIN, 0}};
        std::vector<Direction*> owners{nullptr, nullptr};
        int timeout = -1;
        for (auto& link : links)
            for (Direction* d : {&link->up, &link->down}) {
                if (!d->readDone) {
                    fds.push_back({d->from, POLLIN, 0});
                    owners.push_back(d);
                }
                if (!d->queue.empty()) {
                    if (d->queue.front().due <= now) {
                        fds.push_back({d->to, POLLOUT, 0});
                        owners.push_back(d);
                    } else {
                        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(
                            d->queue.front().due - now);
                        if (timeout < 0 || wait.count() < timeout)
                            timeout = int(wait.count());
                    }
                }
            }
        if (poll(fds.data(), fds.size(), timeout) < 0)
            continue;
        if (fds[0].revents)
            break;
        if (fds[1].revents & POLLIN) {
            const int client = accept(listener_, nullptr, nullptr);
            const int server = client >= 0 ? connectTo(targetPort_) : -1;
            if (server >= 0) {
                noDelay(client);
                auto link = std::make_unique<Link>();
                link->up.from = link->down.to = client;
                link->up.to = link->down.from = server;
                links.push_back(std::move(link));
            } else if (client >= 0) {
                close(client);
            }
        }
        const Clock::time_point read = Clock::now();
        for (size_t i = 2; i < fds.size(); ++i) {
            Direction* d = owners[i];
            if ((fds[i].events & POLLIN) && (fds[i].revents & (POLLIN | POLLHUP | POLLERR))) {
                char buffer[65536];
                const ssize_t n = recv(d->from, buffer, sizeof buffer, 0);
                if (n > 0) {
                    d->queue.push_back({read + delay, std::string(buffer, size_t(n))});
                } else {
                    d->readDone = true;
                    d->queue.push_back({read + delay, {}});
                }
            }
            if ((fds[i].events & POLLOUT) && (fds[i].revents & (POLLOUT | POLLHUP | POLLERR))) {
                Chunk& c = d->queue.front();
                if (c.data.empty()) {
                    shutdown(d->to, SHUT_WR);
                    d->writeDone = true;
                    d->queue.clear();
                    continue;
                }
                const ssize_t n =
                    send(d->to, c.data.data() + c.sent, c.data.size() - c.sent, MSG_NOSIGNAL);
                if (n < 0) { // the other side is gone: drop what is left
                    d->queue.clear();
                    d->readDone = d->writeDone = true;
                    continue;
                }
                c.sent += size_t(n);
                if (c.sent == c.data.size())
                    d->queue.pop_front();
            }
        }
        for (auto it = links.begin(); it != links.end();) {
            if ((*it)->finished()) {
                close((*it)->up.from);
                close((*it)->up.to);
                it = links.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& link : links) {
        close(link->up.from);
        close(link->up.to);
    }
}

} // namespace krv::bench
