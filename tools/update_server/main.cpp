// The reference update server on the command line:
//   krv-update-server --folder DIR [--port N] [--address A] [--cert FILE --key FILE]
//                     [--verbose]
// Prints its base address ("http://A:N/", "https://A:N/" with a certificate) on standard
// output once it accepts requests, and serves until it is ended by a signal.
#include "update_server.h"

#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

namespace {

int usage() {
    std::cerr << "usage: krv-update-server --folder DIR [--port N] [--address A] "
                 "[--cert FILE --key FILE] [--verbose]\n"
                 "  --port 0 (the default) takes any free port; the address defaults to "
                 "127.0.0.1\n"
                 "  --cert and --key (PEM) serve HTTPS instead of HTTP\n";
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    std::string folder, address = "127.0.0.1", certificate, key;
    int port = 0;
    bool verbose = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--folder" && hasValue)
            folder = argv[++i];
        else if (a == "--address" && hasValue)
            address = argv[++i];
        else if (a == "--cert" && hasValue)
            certificate = argv[++i];
        else if (a == "--key" && hasValue)
            key = argv[++i];
        else if (a == "--port" && hasValue) {
            char* end = nullptr;
            const long n = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || n < 0 || n > 65535) {
                std::cerr << "krv-update-server: not a port: " << argv[i] << "\n";
                return 2;
            }
            port = int(n);
        } else if (a == "--verbose")
            verbose = true;
        else
            return usage();
    }
    if (folder.empty() || certificate.empty() != key.empty())
        return usage();
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) {
        std::cerr << "krv-update-server: not a folder: " << folder << "\n";
        return 1;
    }

    std::unique_ptr<krv::tools::UpdateServer> served =
        certificate.empty() ? std::make_unique<krv::tools::UpdateServer>(folder)
                            : std::make_unique<krv::tools::UpdateServer>(folder, certificate, key);
    krv::tools::UpdateServer& server = *served;
    if (!server.ready()) {
        std::cerr << "krv-update-server: cannot load the certificate " << certificate
                  << " with the key " << key << "\n";
        return 1;
    }
    server.setVerbose(verbose);
    if (!server.bind(address, port)) {
        std::cerr << "krv-update-server: cannot listen on " << address << " port " << port << "\n";
        return 1;
    }
    std::cout << server.baseUrl() << std::endl;
    server.run();
    return 0;
}
