#include "update_server.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <sys/stat.h>

namespace krv::tools {

namespace fs = std::filesystem;

namespace answers {

namespace {

std::vector<std::vector<std::string>> readTable(const fs::path& file) {
    std::vector<std::vector<std::string>> rows;
    std::ifstream in(file, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string> cells;
        std::size_t start = 0;
        for (;;) {
            const std::size_t tab = line.find('\t', start);
            cells.push_back(line.substr(start, tab - start));
            if (tab == std::string::npos)
                break;
            start = tab + 1;
        }
        rows.push_back(std::move(cells));
    }
    return rows;
}

// Texts go out as they are: the client turns every "&" into "@" before parsing, so an
// escaped "&amp;" would reach the user mangled. A "<" is kept inside a CDATA section.
std::string element(const std::string& name, const std::string& value) {
    const bool raw = value.find('<') == std::string::npos;
    return "<" + name + ">" + (raw ? value : "<![CDATA[" + value + "]]>") + "</" + name + ">";
}

std::string cell(const std::vector<std::string>& row, std::size_t i) {
    return i < row.size() ? row[i] : std::string();
}

} // namespace

bool userAccepted(const fs::path& folder, const std::string& user, const std::string& password) {
    for (const auto& row : readTable(folder / "usuarios.txt"))
        if (row.size() >= 2 && row[0] == user && row[1] == password)
            return true;
    return false;
}

std::string versionList(const fs::path& folder) {
    std::string out = "<versoes>\n";
    for (const auto& row : readTable(folder / "versoes.txt")) {
        // A line with fewer cells gives a record with fewer fields, as a faulty list would.
        static const char* const names[] = {"codigo", "nome", "versao"};
        std::string fields;
        for (std::size_t i = 0; i < 3 && i < row.size(); ++i)
            fields += element(names[i], row[i]);
        out += "  <modulo>" + fields + "</modulo>\n";
    }
    return out + "</versoes>\n";
}

std::string history(const fs::path& folder, const std::string& id, const std::string& installed) {
    std::string out = "<historico>\n";
    // Only plain module numbers name a file: nothing else of the folder is reachable.
    const bool numeric = !id.empty() && id.find_first_not_of("0123456789") == std::string::npos;
    if (numeric)
        for (const auto& row : readTable(folder / "historico" / (id + ".txt")))
            if (cell(row, 0) > installed)
                out += "  <item>" + element("versao", cell(row, 0)) +
                       element("data", cell(row, 1)) + element("descricao", cell(row, 2)) +
                       "</item>\n";
    return out + "</historico>\n";
}

void appendLog(const fs::path& folder, const std::string& dt, const std::string& cliente,
               const std::string& modulo) {
    std::ofstream out(folder / "logcliente.txt", std::ios::binary | std::ios::app);
    out << dt << '\t' << cliente << '\t' << modulo << '\n';
}

Fault faultFor(const fs::path& folder, const std::string& path) {
    for (const auto& row : readTable(folder / "falhas.txt"))
        if (row.size() >= 2 && row[0] == path) {
            Fault f;
            try {
                f.status = std::stoi(row[1]);
            } catch (const std::exception&) {
                continue;
            }
            f.location = cell(row, 2);
            return f;
        }
    return {};
}

std::string entityTag(const fs::path& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0)
        return {};
    char tag[80];
    std::snprintf(tag, sizeof tag, "\"%llx-%llx.%lx\"", static_cast<unsigned long long>(st.st_size),
                  static_cast<unsigned long long>(st.st_mtim.tv_sec), long(st.st_mtim.tv_nsec));
    return tag;
}

std::string lastModified(const fs::path& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0)
        return {};
    std::tm tm{};
    gmtime_r(&st.st_mtim.tv_sec, &tm);
    char text[64];
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &tm);
    return text;
}

} // namespace answers

namespace {

// A file below atualsis/ named by the request path; empty when the name could leave it.
fs::path servedFile(const fs::path& folder, const std::string& name) {
    if (name.empty() || name.find('\0') != std::string::npos)
        return {};
    const fs::path rel(name);
    for (const auto& part : rel)
        if (part == ".." || part == ".")
            return {};
    if (rel.is_absolute())
        return {};
    return folder / "atualsis" / rel;
}

// A range request is answered only when one of its ranges lies within the file.
bool rangesSatisfiable(const httplib::Ranges& ranges, std::uintmax_t size) {
    if (ranges.empty())
        return true;
    for (const auto& [first, last] : ranges) {
        if (first < 0 ? last > 0 && size > 0 : std::uintmax_t(first) < size)
            return true;
    }
    return false;
}

} // namespace

UpdateServer::UpdateServer(fs::path folder)
    : folder_(std::move(folder)), http_(std::make_unique<httplib::Server>()) {
    routes();
}

UpdateServer::UpdateServer(fs::path folder, const fs::path& certificate, const fs::path& key)
    : folder_(std::move(folder)),
      http_(std::make_unique<httplib::SSLServer>(certificate.c_str(), key.c_str())), tls_(true) {
    routes();
}

bool UpdateServer::ready() const {
    return http_->is_valid();
}

UpdateServer::~UpdateServer() {
    stop();
}

void UpdateServer::note(const std::string& line) {
    std::lock_guard lock(mutex_);
    requests_.push_back(line);
    if (verbose_) {
        std::cerr << line << std::endl;
    }
}

std::vector<std::string> UpdateServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::string UpdateServer::baseUrl() const {
    return (tls_ ? "https://" : "http://") + address_ + ":" + std::to_string(port_) + "/";
}

void UpdateServer::routes() {
    auto& s = *http_;
    // Noted before the answer goes out (httplib's logger runs after it), so a client that has
    // its answer finds the request in requests().
    s.set_post_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        note(req.method + " " + req.path + " " + std::to_string(res.status));
    });
    // Failures asked for in falhas.txt come before any route: the protocol's requests and the
    // files alike. The page is well-formed XML, so a client that reads it as an answer shows it.
    s.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        const answers::Fault fault = answers::faultFor(folder_, req.path);
        if (fault.status == 0)
            return httplib::Server::HandlerResponse::Unhandled;
        res.status = fault.status;
        if (!fault.location.empty())
            res.set_header("Location", fault.location);
        res.set_content("<erro><codigo>" + std::to_string(fault.status) +
                            "</codigo><texto>falha pedida em falhas.txt</texto></erro>",
                        "text/xml; charset=utf-8");
        return httplib::Server::HandlerResponse::Handled;
    });

    s.Get("/atualsis/atkrv.php", [this](const httplib::Request& req, httplib::Response& res) {
        if (answers::userAccepted(folder_, req.get_param_value("id"), req.get_param_value("pwd")))
            res.set_content("<ok/>", "text/xml; charset=utf-8");
        else
            res.set_content("Usuário ou senha inválidos.", "text/plain; charset=utf-8");
    });
    s.Get("/atualsis/versao.php", [this](const httplib::Request&, httplib::Response& res) {
        res.set_content(answers::versionList(folder_), "text/xml; charset=utf-8");
    });
    s.Get("/atualsis/lerhistorico.php",
          [this](const httplib::Request& req, httplib::Response& res) {
              res.set_content(answers::history(folder_, req.get_param_value("id"),
                                               req.get_param_value("atual")),
                              "text/xml; charset=utf-8");
          });
    s.Get("/atualsis/logcliente.php", [this](const httplib::Request& req, httplib::Response& res) {
        {
            std::lock_guard lock(mutex_);
            answers::appendLog(folder_, req.get_param_value("dt"), req.get_param_value("cliente"),
                               req.get_param_value("modulo"));
        }
        res.set_content("OK", "text/plain");
    });
    // Every other file below atualsis/, streamed; httplib answers a "Range" request with 206
    // and "Content-Range" from the provider's length.
    s.Get("/atualsis/(.+)", [this](const httplib::Request& req, httplib::Response& res) {
        const fs::path file = servedFile(folder_, req.matches[1]);
        std::error_code ec;
        if (file.empty() || !fs::is_regular_file(file, ec)) {
            res.status = 404;
            res.set_content("Not Found", "text/plain");
            return;
        }
        const auto size = fs::file_size(file, ec);
        if (ec) {
            res.status = 404;
            return;
        }
        const std::string tag = answers::entityTag(file);
        const std::string modified = answers::lastModified(file);
        res.set_header("ETag", tag);
        res.set_header("Last-Modified", modified);
        // A range for another version of the file must not be sent: the whole file instead.
        // The ranges were parsed before this handler; the request object is the server's own
        // and not const, only the handler's view of it is.
        if (req.has_header("If-Range")) {
            const std::string validator = req.get_header_value("If-Range");
            if (validator != tag && validator != modified)
                const_cast<httplib::Request&>(req).ranges.clear();
        }
        if (!rangesSatisfiable(req.ranges, size)) {
            res.status = 416;
            res.set_header("Content-Range", "bytes */" + std::to_string(size));
            return;
        }
        auto in = std::make_shared<std::ifstream>(file, std::ios::binary);
        res.set_content_provider(
            size, "application/octet-stream",
            [in](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                char buffer[64 * 1024];
                in->clear();
                in->seekg(std::streamoff(offset));
                const auto want = std::min<std::size_t>(length, sizeof buffer);
                in->read(buffer, std::streamsize(want));
                const auto got = std::size_t(in->gcount());
                if (got == 0)
                    return false;
                return sink.write(buffer, got);
            });
    });
}

bool UpdateServer::bind(const std::string& address, int port) {
    address_ = address;
    if (!ready())
        return false;
    if (port == 0) {
        port_ = http_->bind_to_any_port(address);
        return port_ > 0;
    }
    port_ = port;
    return http_->bind_to_port(address, port);
}

void UpdateServer::run() {
    http_->listen_after_bind();
}

void UpdateServer::start() {
    auto ended = std::make_shared<std::atomic<bool>>(false);
    thread_ = std::thread([this, ended] {
        run();
        *ended = true;
    });
    // stop() only reaches a server that is running: wait for it to be.
    while (!http_->is_running() && !*ended)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void UpdateServer::stop() {
    if (http_)
        http_->stop();
    if (thread_.joinable())
        thread_.join();
}

} // namespace krv::tools
