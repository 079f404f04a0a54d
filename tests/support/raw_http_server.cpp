#include "raw_http_server.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace krv::test {

namespace {

constexpr std::int64_t Period = 251;

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

bool sendAll(int fd, const char* data, std::size_t n) {
    while (n > 0) {
        const ssize_t sent = ::send(fd, data, n, MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        data += sent;
        n -= std::size_t(sent);
    }
    return true;
}

// One period of the generated body repeated, so any stretch is a plain slice of it.
const std::string& patternBlock() {
    static const std::string block = RawHttpServer::pattern(0, 64 * 1024 + Period);
    return block;
}

} // namespace

std::string RawRequest::header(const std::string& name) const {
    const std::string wanted = "\r\n" + lower(name) + ":";
    const std::string head = lower(raw);
    const auto at = head.find(wanted);
    if (at == std::string::npos)
        return {};
    const auto start = at + wanted.size();
    const auto end = raw.find("\r\n", start);
    std::string value = raw.substr(start, end - start);
    value.erase(0, value.find_first_not_of(' '));
    return value;
}

char RawHttpServer::patternByte(std::int64_t i) {
    return char((i % Period) * 7 + 3);
}

std::string RawHttpServer::pattern(std::int64_t from, std::int64_t count) {
    std::string s(std::size_t(count), '\0');
    for (std::int64_t k = 0; k < count; ++k)
        s[std::size_t(k)] = patternByte(from + k);
    return s;
}

RawHttpServer::RawHttpServer() {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 64) != 0)
        throw std::runtime_error("test server: cannot listen on loopback");
    socklen_t len = sizeof addr;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    acceptor_ = std::thread([this] { acceptLoop(); });
}

RawHttpServer::~RawHttpServer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        for (int fd : connections_)
            ::shutdown(fd, SHUT_RDWR);
    }
    stopped_.notify_all();
    ::shutdown(listenFd_, SHUT_RDWR);
    acceptor_.join();
    ::close(listenFd_);
    std::vector<std::thread> workers;
    {
        std::lock_guard lock(mutex_);
        workers.swap(workers_);
    }
    for (auto& w : workers)
        w.join();
}

void RawHttpServer::serve(const std::string& path, RawResponse response) {
    std::lock_guard lock(mutex_);
    routes_[path] = std::move(response);
}

std::string RawHttpServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<RawRequest> RawHttpServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void RawHttpServer::acceptLoop() {
    for (;;) {
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        std::lock_guard lock(mutex_);
        if (fd < 0 || stopping_) {
            if (fd >= 0)
                ::close(fd);
            return;
        }
        connections_.push_back(fd);
        workers_.emplace_back([this, fd] { handle(fd); });
    }
}

void RawHttpServer::stallUntilStopped() {
    std::unique_lock lock(mutex_);
    stopped_.wait(lock, [this] { return stopping_; });
}

void RawHttpServer::handle(int fd) {
    std::string head;
    char buf[4096];
    while (head.find("\r\n\r\n") == std::string::npos) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        head.append(buf, std::size_t(n));
    }
    RawRequest req;
    req.raw = head.substr(0, head.find("\r\n\r\n") + 2);
    const auto sp1 = head.find(' ');
    const auto sp2 = head.find(' ', sp1 + 1);
    if (sp1 != std::string::npos && sp2 != std::string::npos) {
        req.method = head.substr(0, sp1);
        req.path = head.substr(sp1 + 1, sp2 - sp1 - 1);
    }
    RawResponse r;
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(req);
        const auto it = routes_.find(req.path);
        if (it != routes_.end()) {
            r = it->second;
        } else {
            r.status = 404;
            r.reason = "Not Found";
            r.body = "not found";
        }
    }

    if (!r.stallBeforeAnswer) {
        const std::int64_t size = r.patternSize >= 0 ? r.patternSize : std::int64_t(r.body.size());
        std::int64_t from = 0;
        std::string extra;
        const std::string range = req.header("Range");
        if (r.honourRange && range.rfind("bytes=", 0) == 0) {
            const std::string rangeText = range.substr(6);
            if (!rangeText.empty() && std::isdigit(static_cast<unsigned char>(rangeText[0])) &&
                rangeText.back() == '-') {
                from = std::min<std::int64_t>(std::stoll(rangeText), size);
                r.status = 206;
                r.reason = "Partial Content";
                extra = "Content-Range: " +
                        (r.contentRange.empty()
                             ? "bytes " + std::to_string(from) + "-" + std::to_string(size - 1) +
                                   "/" + std::to_string(size)
                             : r.contentRange) +
                        "\r\n";
            }
        }
        const std::int64_t length = size - from;
        std::string answer = r.version + " " + std::to_string(r.status) + " " + r.reason + "\r\n";
        if (r.sendContentLength)
            answer += "Content-Length: " +
                      std::to_string(r.contentLength >= 0 ? r.contentLength : length) + "\r\n";
        answer += extra;
        answer += "Connection: close\r\n";
        for (const auto& [name, value] : r.headers)
            answer += name + ": " + value + "\r\n";
        answer += "\r\n";
        bool ok = sendAll(fd, answer.data(), answer.size());

        std::int64_t limit = length;
        if (r.dropAfter >= 0)
            limit = std::min(limit, r.dropAfter);
        if (r.stallAfter >= 0)
            limit = std::min(limit, r.stallAfter);
        if (r.resetAfter >= 0)
            limit = std::min(limit, r.resetAfter);
        const std::string& block = patternBlock();
        const std::int64_t piece = r.dripMs > 0 ? 1024 : 64 * 1024;
        for (std::int64_t sent = 0; ok && sent < limit;) {
            if (r.dripMs > 0 && sent > 0) {
                std::unique_lock lock(mutex_);
                if (stopped_.wait_for(lock, std::chrono::milliseconds(r.dripMs),
                                      [this] { return stopping_; }))
                    break;
            }
            const std::int64_t n = std::min<std::int64_t>(piece, limit - sent);
            const std::int64_t at = from + sent;
            ok = r.patternSize >= 0 ? sendAll(fd, block.data() + at % Period, std::size_t(n))
                                    : sendAll(fd, r.body.data() + at, std::size_t(n));
            sent += n;
        }
        if (ok && r.stallAfter >= 0 && r.stallAfter < length)
            stallUntilStopped();
        if (ok && r.resetAfter >= 0 && r.resetAfter < length) {
            // Closing with a zero linger time sends a reset instead of the orderly end.
            const linger reset{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
            std::lock_guard lock(mutex_);
            connections_.erase(std::remove(connections_.begin(), connections_.end(), fd),
                               connections_.end());
            ::close(fd);
            return;
        }
    } else {
        stallUntilStopped();
    }
    ::shutdown(fd, SHUT_WR);
    // Let the client read to the end before the socket goes.
    while (::recv(fd, buf, sizeof buf, 0) > 0) {
    }
    std::lock_guard lock(mutex_);
    connections_.erase(std::remove(connections_.begin(), connections_.end(), fd),
                       connections_.end());
    ::close(fd);
}

} // namespace krv::test
