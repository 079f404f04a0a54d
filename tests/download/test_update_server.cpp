// The reference update server: its protocol answers from the folder's files, and the files
// below atualsis/ with lengths and byte ranges, as the download component asks for them.
#include "served_folder.h"

#include "run_program.h"
#include "throwaway_ca.h"

#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <httplib.h>

using krv::test::ServedFolder;

namespace {

// One connection for all of a test's requests: the server notes each request once its answer
// is written, so only on one connection is an earlier request noted before a later is read.
httplib::Client client(const ServedFolder& s) {
    httplib::Client c("127.0.0.1", s.port());
    c.set_keep_alive(true);
    return c;
}

std::string body(httplib::Result r) {
    return r ? r->body : std::string("<no answer>");
}

QByteArray pattern(int size) {
    QByteArray b(size, '\0');
    for (int i = 0; i < size; ++i)
        b[i] = char((i * 7 + i / 251) & 0xff);
    return b;
}

} // namespace

TEST(UpdateServerProtocol, LoginChecksTheUsersFile) {
    ServedFolder s;
    s.write("usuarios.txt", "# user TAB password\r\nana\tse nha&1\r\nLoja @ Cia\t%+#\r\n");
    auto c = client(s);
    EXPECT_EQ(body(c.Get("/atualsis/atkrv.php?id=ana&pwd=se%20nha%261")), "<ok/>");
    EXPECT_EQ(body(c.Get("/atualsis/atkrv.php?id=Loja%20%40%20Cia&pwd=%25%2B%23")), "<ok/>");
    for (const char* refused :
         {"/atualsis/atkrv.php?id=ana&pwd=se%20nha", "/atualsis/atkrv.php?id=ana",
          "/atualsis/atkrv.php", "/atualsis/atkrv.php?id=%23&pwd=user%20TAB%20password"}) {
        const auto r = c.Get(refused);
        ASSERT_TRUE(r) << refused;
        EXPECT_EQ(r->body.find('<'), std::string::npos) << refused << ": " << r->body;
    }
}

TEST(UpdateServerProtocol, VersionListAndHistoryNewerThanInstalled) {
    ServedFolder s;
    s.write("versoes.txt",
            "0\tzelvor\t01.31.00\n1\tkrv\t000132\n\n5\tcontrol\t01.32.00\n11\tmenu\n");
    s.write("historico/5.txt", "01.30.00\t01/01/2024\tAntiga\n"
                               "01.31.00\t10/01/2024\tInstalada\n"
                               "01.32.00\t12/02/2024\tTela & <campo>\n"
                               "01.32.00\t12/02/2024\tBoletos\n");
    auto c = client(s);
    EXPECT_EQ(body(c.Get("/atualsis/versao.php")),
              "<versoes>\n"
              "  <modulo><codigo>0</codigo><nome>zelvor</nome><versao>01.31.00</versao></modulo>\n"
              "  <modulo><codigo>1</codigo><nome>krv</nome><versao>000132</versao></modulo>\n"
              "  <modulo><codigo>5</codigo><nome>control</nome><versao>01.32.00</versao></modulo>\n"
              "  <modulo><codigo>11</codigo><nome>menu</nome></modulo>\n"
              "</versoes>\n");
    const std::string h = body(c.Get("/atualsis/lerhistorico.php?id=5&atual=01.31.00"));
    EXPECT_EQ(h, "<historico>\n"
                 "  <item><versao>01.32.00</versao><data>12/02/2024</data>"
                 "<descricao><![CDATA[Tela & <campo>]]></descricao></item>\n"
                 "  <item><versao>01.32.00</versao><data>12/02/2024</data>"
                 "<descricao>Boletos</descricao></item>\n"
                 "</historico>\n");
    // No installed version: the whole history.
    const std::string all = body(c.Get("/atualsis/lerhistorico.php?id=5&atual="));
    EXPECT_NE(all.find("Antiga"), std::string::npos);
    // Unknown module, or an id that would name another file: an empty list.
    EXPECT_EQ(body(c.Get("/atualsis/lerhistorico.php?id=6&atual=")), "<historico>\n</historico>\n");
    EXPECT_EQ(body(c.Get("/atualsis/lerhistorico.php?id=..%2F5&atual=")),
              "<historico>\n</historico>\n");
}

TEST(UpdateServerProtocol, ClientLogAppendsOneLineARequest) {
    ServedFolder s;
    auto c = client(s);
    EXPECT_TRUE(
        c.Get("/atualsis/logcliente.php?dt=2024-03-07&cliente=Loja%20%26%20Cia&modulo=krv.mdb"));
    EXPECT_TRUE(c.Get("/atualsis/logcliente.php?dt=2024-03-07&cliente=ana&modulo=x.zip"));
    EXPECT_EQ(s.read("logcliente.txt"),
              "2024-03-07\tLoja & Cia\tkrv.mdb\n2024-03-07\tana\tx.zip\n");
}

TEST(UpdateServerFiles, WholeFileAndByteRanges) {
    ServedFolder s;
    const QByteArray data = pattern(300000);
    s.write("atualsis/control01.32.00.zip", data);
    auto c = client(s);

    auto whole = c.Get("/atualsis/control01.32.00.zip");
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->status, 200);
    EXPECT_EQ(whole->get_header_value("Content-Length"), "300000");
    EXPECT_TRUE(whole->body == data.toStdString());

    auto resumed = c.Get("/atualsis/control01.32.00.zip", {{"Range", "bytes=123456-"}});
    ASSERT_TRUE(resumed);
    EXPECT_EQ(resumed->status, 206);
    EXPECT_EQ(resumed->get_header_value("Content-Range"), "bytes 123456-299999/300000");
    EXPECT_EQ(resumed->get_header_value("Content-Length"), "176544");
    EXPECT_TRUE(resumed->body == data.mid(123456).toStdString());

    auto tail = c.Get("/atualsis/control01.32.00.zip", {{"Range", "bytes=-5"}});
    ASSERT_TRUE(tail);
    EXPECT_EQ(tail->get_header_value("Content-Range"), "bytes 299995-299999/300000");

    auto beyond = c.Get("/atualsis/control01.32.00.zip", {{"Range", "bytes=300000-"}});
    ASSERT_TRUE(beyond);
    EXPECT_EQ(beyond->status, 416);
    EXPECT_EQ(beyond->get_header_value("Content-Range"), "bytes */300000");

    auto head = c.Head("/atualsis/control01.32.00.zip");
    ASSERT_TRUE(head);
    EXPECT_EQ(head->status, 200);
    EXPECT_EQ(head->get_header_value("Content-Length"), "300000");

    // A signature beside the archive is served like any other file.
    s.write("atualsis/control01.32.00.zip.sig", "c2lnbmF0dXJl\n");
    auto sig = c.Get("/atualsis/control01.32.00.zip.sig");
    ASSERT_TRUE(sig);
    EXPECT_EQ(sig->status, 200);
    EXPECT_EQ(sig->body, "c2lnbmF0dXJl\n");

    // Validators, and a range sent only for the version the client names in If-Range.
    const std::string tag = whole->get_header_value("ETag");
    const std::string modified = whole->get_header_value("Last-Modified");
    EXPECT_EQ(tag.front(), '"');
    EXPECT_TRUE(modified.ends_with(" GMT")) << modified;
    for (const std::string& validator : {tag, modified}) {
        auto same = c.Get("/atualsis/control01.32.00.zip",
                          {{"Range", "bytes=1000-"}, {"If-Range", validator}});
        ASSERT_TRUE(same);
        EXPECT_EQ(same->status, 206) << validator;
        EXPECT_TRUE(same->body == data.mid(1000).toStdString());
    }
    auto other = c.Get("/atualsis/control01.32.00.zip",
                       {{"Range", "bytes=1000-"}, {"If-Range", "\"outra-versao\""}});
    ASSERT_TRUE(other);
    EXPECT_EQ(other->status, 200);
    EXPECT_FALSE(other->has_header("Content-Range"));
    EXPECT_TRUE(other->body == data.toStdString());
    // A changed file gets another tag.
    s.write("atualsis/control01.32.00.zip", data.left(299999));
    auto changed = c.Get("/atualsis/control01.32.00.zip");
    ASSERT_TRUE(changed);
    EXPECT_NE(changed->get_header_value("ETag"), tag);
}

TEST(UpdateServerFiles, FailuresAskedForInFalhasTxt) {
    ServedFolder s;
    s.write("usuarios.txt", "ana\tsegredo\n");
    s.write("atualsis/krv.mdb", "arquivo");
    s.write("falhas.txt", "# path TAB status [TAB location]\n"
                          "/atualsis/atkrv.php\t500\n"
                          "/atualsis/krv.mdb\t302\t/atualsis/outro.mdb\n");
    auto c = client(s);
    auto login = c.Get("/atualsis/atkrv.php?id=ana&pwd=segredo");
    ASSERT_TRUE(login);
    EXPECT_EQ(login->status, 500);
    EXPECT_EQ(login->body.rfind("<erro>", 0), 0u) << login->body; // a well-formed error page
    auto file = c.Get("/atualsis/krv.mdb");
    ASSERT_TRUE(file);
    EXPECT_EQ(file->status, 302);
    EXPECT_EQ(file->get_header_value("Location"), "/atualsis/outro.mdb");
    EXPECT_EQ(body(c.Get("/atualsis/versao.php")), "<versoes>\n</versoes>\n");
    EXPECT_EQ(s.answered("GET /atualsis/krv.mdb 302"), 1);
}

TEST(UpdateServerFiles, OnlyFilesBelowAtualsis) {
    ServedFolder s;
    s.write("usuarios.txt", "ana\tsegredo\n");
    s.write("atualsis/sub/x.zip", "x");
    auto c = client(s);
    for (const char* path :
         {"/atualsis/nada.zip", "/atualsis/../usuarios.txt", "/atualsis/%2e%2e/usuarios.txt",
          "/usuarios.txt", "/atualsis/sub", "/atualsis/sub/../../usuarios.txt"}) {
        const auto r = c.Get(path);
        ASSERT_TRUE(r) << path;
        EXPECT_EQ(r->status, 404) << path;
        EXPECT_EQ(r->body.find("segredo"), std::string::npos) << path;
    }
    EXPECT_EQ(body(c.Get("/atualsis/sub/x.zip")), "x");
    EXPECT_GE(s.answered("GET /atualsis/nada.zip 404"), 1);
}

TEST(UpdateServerCommand, PrintsItsAddressAndServesTheFolder) {
    QTemporaryDir dir;
    QDir(dir.path()).mkpath("atualsis");
    {
        QFile f(dir.path() + "/atualsis/a.txt");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("conteudo");
    }
    QProcess p;
    p.start(KRV_BINARY_DIR "/tools/krv-update-server",
            {"--folder", dir.path(), "--port", "0", "--address", "127.0.0.1"});
    ASSERT_TRUE(p.waitForStarted());
    ASSERT_TRUE(p.waitForReadyRead(20000)) << p.readAllStandardError().toStdString();
    const QString line = QString::fromUtf8(p.readLine()).trimmed();
    const auto m = QRegularExpression("^http://127\\.0\\.0\\.1:(\\d+)/$").match(line);
    ASSERT_TRUE(m.hasMatch()) << line.toStdString();
    httplib::Client c("127.0.0.1", m.captured(1).toInt());
    EXPECT_EQ(body(c.Get("/atualsis/a.txt")), "conteudo");
    p.terminate();
    EXPECT_TRUE(p.waitForFinished(10000));

    // Over HTTPS with a certificate and its key: a client that trusts the authority reads it.
    const krv::test::ThrowawayCa authority, stranger;
    QProcess tls;
    tls.start(
        KRV_BINARY_DIR "/tools/krv-update-server",
        {"--folder", dir.path(), "--cert", authority.certificate(), "--key", authority.key()});
    ASSERT_TRUE(tls.waitForStarted());
    ASSERT_TRUE(tls.waitForReadyRead(20000)) << tls.readAllStandardError().toStdString();
    const QString tlsLine = QString::fromUtf8(tls.readLine()).trimmed();
    const auto t = QRegularExpression("^https://127\\.0\\.0\\.1:(\\d+)/$").match(tlsLine);
    ASSERT_TRUE(t.hasMatch()) << tlsLine.toStdString();
    httplib::SSLClient sc("127.0.0.1", t.captured(1).toInt());
    sc.set_ca_cert_path(authority.caFile().toLocal8Bit().constData());
    sc.enable_server_certificate_verification(true);
    EXPECT_EQ(body(sc.Get("/atualsis/a.txt")), "conteudo");
    tls.terminate();
    EXPECT_TRUE(tls.waitForFinished(10000));

    struct Bad {
        QStringList args;
        int exitCode;
        QByteArray said;
    };
    const QList<Bad> bads = {
        {{"--folder", dir.path() + "/none"}, 1, "not a folder"},
        {{"--folder", dir.path(), "--cert", authority.certificate()}, 2, "usage"},
        {{"--folder", dir.path(), "--cert", authority.certificate(), "--key", stranger.key()},
         1,
         "cannot load the certificate"},
    };
    for (const Bad& b : bads) {
        QProcess bad;
        bad.start(KRV_BINARY_DIR "/tools/krv-update-server", b.args);
        ASSERT_TRUE(bad.waitForFinished(10000)) << b.args.join(' ').toStdString();
        EXPECT_EQ(bad.exitCode(), b.exitCode) << b.args.join(' ').toStdString();
        EXPECT_TRUE(bad.readAllStandardError().contains(b.said)) << b.said.toStdString();
    }
}
