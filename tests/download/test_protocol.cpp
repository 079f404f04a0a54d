// The protocol's addresses, its XML reading by position, and its requests against the
// reference update server on loopback.
#include "download/protocol.h"
#include "raw_http_server.h"
#include "served_folder.h"

#include <QUrl>
#include <QUrlQuery>
#include <gtest/gtest.h>

using namespace krv::protocol;
using krv::test::ServedFolder;

namespace {

// Sets ZELVOR_BASE_URL for the lifetime of the guard.
class BaseUrl {
public:
    explicit BaseUrl(const QString& url) : old_(qgetenv("ZELVOR_BASE_URL")) {
        qputenv("ZELVOR_BASE_URL", url.toUtf8());
    }
    ~BaseUrl() {
        if (old_.isEmpty())
            qunsetenv("ZELVOR_BASE_URL");
        else
            qputenv("ZELVOR_BASE_URL", old_);
    }

private:
    QByteArray old_;
};

// The query of url decoded as a standard server decodes it.
QString param(const QString& url, const QString& name) {
    return QUrlQuery(QUrl(url)).queryItemValue(name, QUrl::FullyDecoded);
}

} // namespace

TEST(ProtocolRequests, AddressesFollowTheBaseAddress) {
    BaseUrl base("http://example.test:81/");
    EXPECT_EQ(versionListUrl(), "http://example.test:81/atualsis/versao.php");
    EXPECT_EQ(fileUrl("krvsis01.31.05.zip"), "http://example.test:81/atualsis/krvsis01.31.05.zip");
    EXPECT_EQ(historyUrl(1, "000131"),
              "http://example.test:81/atualsis/lerhistorico.php?id=1&atual=000131");
    EXPECT_EQ(
        clientLogUrl(QDate(2024, 3, 7), "ana", "krv.mdb"),
        "http://example.test:81/atualsis/logcliente.php?dt=2024-03-07&cliente=ana&modulo=krv.mdb");
    EXPECT_EQ(loginUrl("ana", "x"), "http://example.test:81/atualsis/atkrv.php?id=ana&pwd=x");
}

TEST(ProtocolRequests, ValuesArriveAsTypedExceptTheUserNamesAmpersand) {
    BaseUrl base("http://h/");
    const QString password = "a&b=c #d+e%f g";
    const QString login = loginUrl("Loja & Cia", password);
    EXPECT_EQ(param(login, "id"), "Loja @ Cia");
    EXPECT_EQ(param(login, "pwd"), password);
    EXPECT_FALSE(login.contains(' '));
    EXPECT_EQ(QUrlQuery(QUrl(login)).queryItems().size(), 2);

    const QString log = clientLogUrl(QDate(2024, 12, 31), "Loja & Cia", "krvsis01.31.05.zip");
    EXPECT_EQ(param(log, "cliente"), "Loja & Cia"); // no "@" here: the name as typed
    EXPECT_EQ(param(log, "modulo"), "krvsis01.31.05.zip");
    EXPECT_EQ(param(log, "dt"), "2024-12-31");

    EXPECT_EQ(param(historyUrl(12, "01.31.00"), "atual"), "01.31.00");
    EXPECT_EQ(param(historyUrl(7, ""), "id"), "7");
}

TEST(ProtocolXml, RecordsAreTheRootsChildrenAndTheirFirstThreeChildren) {
    const XmlAnswer a = readRecords("<versoes>\n"
                                    "  <modulo>\n    <c>1</c>\n    <n>krv</n>\n    <v>000132</v>\n"
                                    "    <extra>ignored</extra>\n  </modulo>\n"
                                    "\t<x><a>5</a><b>control</b><c>01.32.00</c></x>\n"
                                    "</versoes>\n");
    ASSERT_TRUE(a.wellFormed);
    ASSERT_EQ(a.records.size(), 2);
    EXPECT_EQ(a.records[0].fields, (QStringList{"1", "krv", "000132"}));
    EXPECT_EQ(a.records[1].fields, (QStringList{"5", "control", "01.32.00"}));
}

TEST(ProtocolXml, FieldTextIncludesDescendantsAndAmpersandsBecomeAt) {
    const XmlAnswer a =
        readRecords("<h><i><v>01.32.00</v><d>12/02</d>"
                    "<t>Nova <b>tela</b> de <i>caixa &amp; banco</i></t></i>"
                    "<i><v>x</v><d>y</d><t>Boletos & remessas <![CDATA[<cnab>]]></t></i></h>");
    ASSERT_TRUE(a.wellFormed);
    ASSERT_EQ(a.records.size(), 2);
    EXPECT_EQ(a.records[0].field(2), "Nova tela de caixa @amp; banco");
    EXPECT_EQ(a.records[1].field(2), "Boletos @ remessas <cnab>");
}

TEST(ProtocolXml, WhatComesBeforeTheRootYieldsNoRecords) {
    const QString records = "<v><m><a>1</a><b>krv</b><c>2</c></m></v>";
    EXPECT_EQ(readRecords(records).records.size(), 1);
    for (const QString& prefix : {QString("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"),
                                  QString("<!-- versoes -->"), QString("<?php x?>")}) {
        const XmlAnswer a = readRecords(prefix + records);
        EXPECT_TRUE(a.wellFormed) << prefix.toStdString();
        EXPECT_TRUE(a.records.isEmpty()) << prefix.toStdString();
    }
}

TEST(ProtocolXml, MissingFieldsAndNonElementRecords) {
    const XmlAnswer a = readRecords("<v><m><a>9</a><b>so</b></m><m/>texto solto<!--c--></v>");
    ASSERT_TRUE(a.wellFormed);
    ASSERT_EQ(a.records.size(), 4);
    EXPECT_EQ(a.records[0].fields.size(), 2);
    EXPECT_FALSE(a.records[0].hasField(2));
    EXPECT_EQ(a.records[0].field(2), "");
    EXPECT_TRUE(a.records[1].fields.isEmpty());
    EXPECT_TRUE(a.records[2].fields.isEmpty());
    EXPECT_TRUE(a.records[3].fields.isEmpty());
    // A comment inside a record still takes a field's place; blank text between elements not.
    const XmlAnswer b = readRecords("<v><m> <!--c--> <a>1</a>  <b>2</b></m></v>");
    ASSERT_EQ(b.records.size(), 1);
    EXPECT_EQ(b.records[0].fields, (QStringList{"c", "1", "2"}));
}

TEST(ProtocolXml, MalformedAndEmptyAnswersAreNotDocuments) {
    for (const QString& body :
         {QString(""), QString("Usuário ou senha inválidos."), QString("<a><b></a>"),
          QString("<html><body><p>404<br></body></html>"), QString("<a/><b/>"),
          QString("  \r\n")}) {
        EXPECT_FALSE(isWellFormed(body)) << body.toStdString();
        const XmlAnswer a = readRecords(body);
        EXPECT_FALSE(a.wellFormed) << body.toStdString();
        EXPECT_TRUE(a.records.isEmpty());
    }
    EXPECT_TRUE(isWellFormed("<ok/>"));
    EXPECT_TRUE(isWellFormed("<?xml version=\"1.0\"?><ok>a & b</ok>"));
    EXPECT_TRUE(isWellFormed("<r>ação</r>"));
}

TEST(ProtocolTransport, AnswersOfTheReferenceServer) {
    ServedFolder served;
    BaseUrl base(served.baseUrl());
    served.write("usuarios.txt", "Loja @ Cia\ta&b=c #d+e%f g\n");
    served.write("versoes.txt", "1\tkrv\t000132\n5\tcontrol\t01.32.00\n");
    // An older server's history in Windows-1252: "relatório".
    served.write("historico/5.txt", "01.32.00\t12/02/2024\tNovo relat\xf3rio & boletos\n");

    Inet inet;
    EXPECT_TRUE(isWellFormed(inet.OpenURL(loginUrl("Loja & Cia", "a&b=c #d+e%f g"))));
    EXPECT_FALSE(isWellFormed(inet.OpenURL(loginUrl("Loja & Cia", "a"))));

    const XmlAnswer versions = readRecords(inet.OpenURL(versionListUrl()));
    ASSERT_EQ(versions.records.size(), 2);
    EXPECT_EQ(versions.records[1].fields, (QStringList{"5", "control", "01.32.00"}));

    const XmlAnswer history = readRecords(inet.OpenURL(historyUrl(5, "01.31.00")));
    ASSERT_EQ(history.records.size(), 1);
    EXPECT_EQ(history.records[0].field(2), "Novo relatório @ boletos");

    sendClientLog("Loja & Cia", "control01.32.00.zip");
    EXPECT_EQ(served.read("logcliente.txt"), QDate::currentDate().toString("yyyy-MM-dd").toUtf8() +
                                                 "\tLoja & Cia\tcontrol01.32.00.zip\n");
}

TEST(ProtocolTransport, RemotePortReplacesTheAddressesPort) {
    ServedFolder served;
    served.write("versoes.txt", "11\tmenu\t000020\n");
    BaseUrl base(QString("http://127.0.0.1:%1/").arg(krv::test::closedPort()));
    Inet inet;
    EXPECT_EQ(inet.OpenURL(versionListUrl()), "");
    inet.RemotePort = served.port();
    EXPECT_EQ(readRecords(inet.OpenURL(versionListUrl())).records.size(), 1);
    // The client log goes out on a control of its own, without that port.
    sendClientLog("ana", "mnusis_cs.krv");
    EXPECT_EQ(served.answered("GET /atualsis/logcliente.php"), 0);
}

TEST(ProtocolTransport, FailuresAreAnEmptyBody) {
    Inet inet;
    EXPECT_EQ(inet.OpenURL(
                  QString("http://127.0.0.1:%1/atualsis/versao.php").arg(krv::test::closedPort())),
              "");
    EXPECT_EQ(inet.OpenURL("http://host.invalid/atualsis/versao.php"), "");
    EXPECT_EQ(inet.OpenURL("not a url"), "");
    EXPECT_TRUE(readRecords(inet.OpenURL("http://host.invalid/")).records.isEmpty());
}

TEST(ProtocolTransport, AnAnswerThatCannotBeReadIsAFailureNeverAnEmptyList) {
    using krv::test::RawHttpServer;
    using krv::test::RawResponse;
    RawHttpServer server;
    struct Case {
        const char* name;
        int status;
        std::string body;
        std::int64_t patternSize;
        QString said; // part of the reason given to the user
        std::int64_t dropAfter = -1;
        bool announced = true; // the length in the headers
    };
    const std::string list = "<versoes><m><c>5</c><n>krvsis</n><v>01.32.00</v></m></versoes>";
    const QList<Case> cases = {
        {"/erro500", 500, list, -1, "HTTP 500"},
        {"/erro503", 503, "<erro/>", -1, "HTTP 503"},
        {"/mudou", 302, list, -1, "HTTP 302"},
        {"/texto", 200, "Service temporarily unavailable", -1, "XML"},
        {"/vazio", 200, "", -1, "XML"},
        {"/nul", 200, std::string("<versoes><m>\0</m></versoes>", 27), -1, "XML"},
        {"/enorme", 200, {}, 20 * 1024 * 1024, "16 MiB"},
        {"/enorme-sem-tamanho", 200, {}, 20 * 1024 * 1024, "16 MiB", -1, false},
        {"/cortada", 200, {}, 100000, "encerrada antes do fim", 40000},
    };
    Inet inet;
    for (const Case& c : cases) {
        RawResponse r;
        r.status = c.status;
        r.body = c.body;
        r.patternSize = c.patternSize;
        r.dropAfter = c.dropAfter;
        r.sendContentLength = c.announced;
        server.serve(c.name, r);
        const QString url = QString::fromStdString(server.url(c.name));
        const ListAnswer a = requestList(inet, url);
        EXPECT_FALSE(a.ok) << c.name;
        EXPECT_TRUE(a.records.isEmpty()) << c.name;
        EXPECT_TRUE(a.failure.contains(c.said)) << c.name << ": " << a.failure.toStdString();
        // The login counts any of them as refused, a well-formed page with an error status too.
        EXPECT_FALSE(isWellFormed(inet.OpenURL(url))) << c.name;
    }
    // A well-formed empty list is a list.
    RawResponse empty;
    empty.body = "<versoes/>";
    server.serve("/nada", empty);
    const ListAnswer none = requestList(inet, QString::fromStdString(server.url("/nada")));
    EXPECT_TRUE(none.ok);
    EXPECT_TRUE(none.records.isEmpty());
    // A dead server says so.
    const ListAnswer dead = requestList(
        inet, QString("http://127.0.0.1:%1/atualsis/versao.php").arg(krv::test::closedPort()));
    EXPECT_FALSE(dead.ok);
    EXPECT_TRUE(dead.failure.contains("conexão")) << dead.failure.toStdString();
}
