#pragma once
// The reference update server: serves one folder over HTTP/1.1 with the update protocol
// (login, version list, change history, client log) and every other "atualsis/" path as a
// file with byte ranges. Layout of the folder: docs/update-server.md.
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

namespace krv::tools {

class UpdateServer {
public:
    explicit UpdateServer(std::filesystem::path folder);
    // Over HTTPS with the certificate (PEM, chain allowed) and its private key (PEM).
    // ready() tells whether both could be loaded.
    UpdateServer(std::filesystem::path folder, const std::filesystem::path& certificate,
                 const std::filesystem::path& key);
    ~UpdateServer();
    UpdateServer(const UpdateServer&) = delete;
    UpdateServer& operator=(const UpdateServer&) = delete;

    // False when the certificate or key of an HTTPS server could not be loaded.
    bool ready() const;
    // Binds address and port (0: any free port); false when that fails.
    bool bind(const std::string& address = "127.0.0.1", int port = 0);
    int port() const { return port_; }
    // "http://address:port/" ("https://" over TLS): the base address a client is given.
    std::string baseUrl() const;

    // Serves on the calling thread until stop().
    void run();
    // Serves on a thread of its own; returns once requests are accepted.
    void start();
    void stop();

    // "METHOD path status" of every request answered so far (query left out: it may hold a
    // password).
    std::vector<std::string> requests() const;
    // Prints each answered request on standard error as well.
    void setVerbose(bool on) { verbose_ = on; }

private:
    void routes();
    void note(const std::string& line);

    std::filesystem::path folder_;
    std::unique_ptr<httplib::Server> http_;
    bool tls_ = false;
    std::string address_;
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
    bool verbose_ = false;
};

// The protocol's answers, built from the folder's text files.
namespace answers {

// True when usuarios.txt holds a line "user TAB password" matching exactly.
bool userAccepted(const std::filesystem::path& folder, const std::string& user,
                  const std::string& password);
// The version list from versoes.txt ("code TAB name TAB version" per line).
std::string versionList(const std::filesystem::path& folder);
// The records of historico/<id>.txt ("version TAB date TAB description" per line) whose
// version sorts after installed, in file order.
std::string history(const std::filesystem::path& folder, const std::string& id,
                    const std::string& installed);
// One line "dt TAB cliente TAB modulo" appended to logcliente.txt.
void appendLog(const std::filesystem::path& folder, const std::string& dt,
               const std::string& cliente, const std::string& modulo);

// A failure the folder asks for on a path: a line "path TAB status [TAB location]" of
// falhas.txt. Status 0 when the path has none.
struct Fault {
    int status = 0;
    std::string location;
};
Fault faultFor(const std::filesystem::path& folder, const std::string& path);

// The validators a served file is sent with: an entity tag from its size and modification
// time, and that time as an HTTP date.
std::string entityTag(const std::filesystem::path& file);
std::string lastModified(const std::filesystem::path& file);

} // namespace answers

} // namespace krv::tools
