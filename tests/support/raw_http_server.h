#pragma once
// A controllable HTTP server for tests and benchmarks, on raw sockets on 127.0.0.1 with an
// ephemeral port. Each path answers as configured: any version and status, a body given or
// generated, ranges served or ignored, a connection dropped half-way or stalled.
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace krv::test {

struct RawRequest {
    std::string method, path, raw; // raw: the whole request head
    // A header's value (name without regard to case); empty when absent.
    std::string header(const std::string& name) const;
};

struct RawResponse {
    std::string version = "HTTP/1.1";
    int status = 200;
    std::string reason = "OK";
    std::vector<std::pair<std::string, std::string>> headers; // sent after the usual ones
    std::string body;
    std::int64_t patternSize = -1; // >= 0: a generated body of this size instead of body
    bool sendContentLength = true;
    std::int64_t contentLength = -1; // >= 0: announced instead of the real length
    bool honourRange = false;        // "Range: bytes=N-" gets 206 and the bytes from N
    std::string contentRange;        // with honourRange: announced instead of the true one
    std::int64_t dropAfter = -1;     // >= 0: close after this many body bytes
    std::int64_t stallAfter = -1;    // >= 0: send nothing more after this many body bytes
    std::int64_t resetAfter = -1;    // >= 0: reset the connection after this many body bytes
    int dripMs = 0;                  // > 0: the body goes out 1 KiB at a time, this far apart
    bool stallBeforeAnswer = false;  // read the request, then answer nothing
};

class RawHttpServer {
public:
    RawHttpServer();
    ~RawHttpServer();
    RawHttpServer(const RawHttpServer&) = delete;
    RawHttpServer& operator=(const RawHttpServer&) = delete;

    // What a path answers; unknown paths get 404.
    void serve(const std::string& path, RawResponse response);

    int port() const { return port_; }
    std::string url(const std::string& path) const;
    // The requests received so far, in order.
    std::vector<RawRequest> requests() const;

    // The generated body's byte at position i, and a stretch of it.
    static char patternByte(std::int64_t i);
    static std::string pattern(std::int64_t from, std::int64_t count);

private:
    void acceptLoop();
    void handle(int fd);
    void stallUntilStopped();

    int listenFd_ = -1;
    int port_ = 0;
    bool stopping_ = false;
    mutable std::mutex mutex_;
    std::condition_variable stopped_;
    std::map<std::string, RawResponse> routes_;
    std::vector<RawRequest> requests_;
    std::vector<int> connections_;
    std::vector<std::thread> workers_;
    std::thread acceptor_;
};

} // namespace krv::test
