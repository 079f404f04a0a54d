#include "throwaway_ca.h"

#include <QFile>
#include <QProcess>
#include <stdexcept>

namespace krv::test {

namespace {

// Everything the certificates need, so that the system's openssl.cnf plays no part.
const char* const kConfig = R"([req]
distinguished_name = dn
prompt = no
[dn]
CN = unused
[authority]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[server]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = IP:127.0.0.1
authorityKeyIdentifier = keyid
)";

void openssl(const QString& folder, const QStringList& arguments) {
    QProcess p;
    p.setWorkingDirectory(folder);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start("openssl", arguments);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        throw std::runtime_error("openssl " + arguments.join(' ').toStdString() + ": " +
                                 p.readAll().toStdString() + p.errorString().toStdString());
}

} // namespace

ThrowawayCa::ThrowawayCa() {
    const QString d = dir_.path();
    QFile config(d + "/openssl.cnf");
    if (!config.open(QIODevice::WriteOnly) || config.write(kConfig) < 0)
        throw std::runtime_error("cannot write " + config.fileName().toStdString());
    config.close();
    const QStringList newKey = {"-newkey", "ec",      "-pkeyopt",   "ec_paramgen_curve:prime256v1",
                                "-nodes",  "-config", "openssl.cnf"};
    openssl(d, QStringList{"req", "-x509", "-extensions", "authority", "-days", "2", "-subj",
                           "/CN=Zelvor test authority", "-keyout", "ca.key", "-out", "ca.pem"} +
                   newKey);
    openssl(d, QStringList{"req", "-new", "-subj", "/CN=127.0.0.1", "-keyout", "server.key", "-out",
                           "server.csr"} +
                   newKey);
    openssl(d, {"x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
                "-set_serial", "2", "-days", "2", "-extfile", "openssl.cnf", "-extensions",
                "server", "-out", "server.pem"});
}

} // namespace krv::test
