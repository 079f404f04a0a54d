// The login window end to end: the real zelvor, copied into a folder of its own (port.cfg
// lies next to the program), against a throwaway suite installation and the reference
// update server on loopback.
#include "served_folder.h"
#include "suite_install.h"

#include <QSettings>
#include <gtest/gtest.h>

using namespace krv::test;

namespace {

const QString kRefused = "Ocorreu um erro ao consultar o servidor, verifique se o usuário e a "
                         "senha estão corretos e tente novamente!";

class LoginWindow : public testing::Test {
protected:
    void SetUp() override {
        zelvor_ = programDir_.path() + "/zelvor";
        ASSERT_TRUE(QFile::copy(zelvorBinary(), zelvor_));
        QFile::setPermissions(zelvor_, QFile::permissions(zelvorBinary()));
        served_.write("usuarios.txt", "ana\tx&y #1+%\nbia\tsenha2\n");
        served_.write("versoes.txt", "");
    }

    // Runs the copied zelvor: start window, "Internet", then script.
    RunResult run(const QString& script, const QString& baseUrl = {}) {
        RunOptions o = install_.options("click frmSel.SSCommand1\n" + script);
        o.env["ZELVOR_BASE_URL"] = baseUrl.isEmpty() ? served_.baseUrl() : baseUrl;
        return runProgram(zelvor_, o);
    }

    QString stored(const QString& key) const {
        QSettings s(install_.configHome() + "/KrvSis/KrvSis.ini", QSettings::IniFormat);
        return s.value("Param/" + key, "<none>").toString();
    }

    void writePortFile(const QByteArray& bytes) {
        QFile f(programDir_.path() + "/port.cfg");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray portFile() const {
        QFile f(programDir_.path() + "/port.cfg");
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<none>");
    }

    int logins() const { return served_.answered("GET /atualsis/atkrv.php 200"); }

    static QString login(const QString& user, const QString& password) {
        return "type frmInicio.txtUsuario " + user + "\ntype frmInicio.txtSenha " + password +
               "\nclick frmInicio.cmdContinua\n";
    }

    SuiteInstall install_;
    ServedFolder served_;
    QTemporaryDir programDir_;
    QString zelvor_;
};

void expectEnded(const RunResult& r) {
    EXPECT_FALSE(r.timedOut) << r.transcriptText().toStdString();
    EXPECT_FALSE(r.crashed) << r.transcriptText().toStdString();
    EXPECT_TRUE(r.of("error").isEmpty()) << r.transcriptText().toStdString();
}

} // namespace

TEST_F(LoginWindow, RefusedLoginSaysSoAndKeepsTheWindow) {
    const RunResult r = run(login("ana", "errada") + "check frmInicio.chkGravar 1\n" +
                            login("ninguem", "x") + "close frmInicio\n");
    expectEnded(r);
    const auto boxes = r.of("msgbox");
    ASSERT_EQ(boxes.size(), 3) << r.transcriptText().toStdString(); // backup warning, two refusals
    EXPECT_EQ(boxes[1].fields, (QStringList{"Aviso!", "critical", "OK", kRefused, "OK"}));
    EXPECT_EQ(boxes[2].fields[3], kRefused);
    EXPECT_EQ(logins(), 2);
    EXPECT_EQ(stored("atuser"), "<none>");
    EXPECT_EQ(stored("atpwd"), "<none>");
    // The window was the login window with its own title.
    bool shown = false;
    for (const auto& l : r.of("show"))
        shown |= l.fields.value(0) == "frmInicio" &&
                 l.fields.value(1) == "Assistente de atualização Norvale";
    EXPECT_TRUE(shown) << r.transcriptText().toStdString();
}

TEST_F(LoginWindow, ServerThatCannotBeReachedOrAnswersAnErrorIsARefusal) {
    // Good credentials each time; the server's answer is what fails. The error pages are
    // well-formed XML: only the status tells them from a login.
    struct Case {
        const char* fault; // a line of falhas.txt; empty: nothing listens
    };
    for (const Case c :
         {Case{""}, Case{"/atualsis/atkrv.php\t500\n"}, Case{"/atualsis/atkrv.php\t503\n"},
          Case{"/atualsis/atkrv.php\t302\t/atualsis/versao.php\n"}}) {
        served_.write("falhas.txt", c.fault);
        const QString base =
            *c.fault ? served_.baseUrl() : QString("http://127.0.0.1:%1/").arg(closedPort());
        const RunResult r = run(login("ana", "x&y #1+%") + "close frmInicio\n", base);
        expectEnded(r);
        EXPECT_TRUE(r.messages().contains(kRefused)) << r.transcriptText().toStdString();
        EXPECT_EQ(served_.answered("GET /atualsis/versao.php"), 0) << c.fault;
    }
}

TEST_F(LoginWindow, StoredCredentialsAndGravar) {
    // A password with "&", "#", "+", "%" and a blank logs in; "Gravar" stores both boxes.
    RunResult r = run("type frmInicio.txtUsuario ana\ntype frmInicio.txtSenha x&y #1+%\n"
                      "check frmInicio.chkGravar 1\nclick frmInicio.cmdContinua\n"
                      "close frmInicio\n");
    expectEnded(r);
    EXPECT_FALSE(r.messages().contains(kRefused)) << r.transcriptText().toStdString();
    EXPECT_EQ(stored("atuser"), "ana");
    EXPECT_EQ(stored("atpwd"), "x&y #1+%");

    // The next start fills the boxes from the store: the login needs no typing.
    r = run("click frmInicio.cmdContinua\nclose frmInicio\n");
    expectEnded(r);
    EXPECT_FALSE(r.messages().contains(kRefused)) << r.transcriptText().toStdString();

    // ... and ticks "Gravar", so another user's good login replaces them.
    r = run(login("bia", "senha2") + "close frmInicio\n");
    expectEnded(r);
    EXPECT_EQ(stored("atuser"), "bia");
    EXPECT_EQ(stored("atpwd"), "senha2");
    EXPECT_EQ(logins(), 3);

    // An empty stored user name leaves "Gravar" unticked: nothing is overwritten.
    install_.setSetting("atuser", "");
    r = run(login("ana", "x&y #1+%") + "close frmInicio\n");
    expectEnded(r);
    EXPECT_FALSE(r.messages().contains(kRefused)) << r.transcriptText().toStdString();
    EXPECT_EQ(stored("atuser"), "");
    EXPECT_EQ(stored("atpwd"), "senha2");
}

TEST_F(LoginWindow, PortFromPortCfgReplacesTheAddressesPort) {
    // The base address names a port where nothing listens; port.cfg names the server's.
    const QString deadBase = QString("http://127.0.0.1:%1/").arg(closedPort());
    writePortFile(QByteArray::number(served_.port()) + "\r\nignored\r\n");
    RunResult r = run(login("bia", "senha2") + "close frmInicio\n", deadBase);
    expectEnded(r);
    EXPECT_FALSE(r.messages().contains(kRefused)) << r.transcriptText().toStdString();
    EXPECT_EQ(logins(), 1);

    // A port that is not a number is reported and nothing is sent.
    writePortFile("oitenta\r\n");
    r = run(login("bia", "senha2") + "close frmInicio\n", deadBase);
    expectEnded(r);
    ASSERT_EQ(r.messages().size(), 2) << r.transcriptText().toStdString();
    EXPECT_TRUE(r.messages()[1].contains("oitenta")) << r.transcriptText().toStdString();
    EXPECT_EQ(logins(), 1);
}

TEST_F(LoginWindow, ConnectionSettingsWriteThePortForTheNextLogin) {
    const QString deadBase = QString("http://127.0.0.1:%1/").arg(closedPort());
    const QString port = QString::number(served_.port());

    // Cancelling leaves no file behind.
    RunResult r = run("click frmInicio.cmdConfig\ntype frmConfig.txtPorta 1234\n"
                      "click frmConfig.cmdCanc\nclose frmInicio\n",
                      deadBase);
    expectEnded(r);
    EXPECT_EQ(portFile(), "<none>");

    // Saving without a file keeps the box's default, 80.
    r = run("click frmInicio.cmdConfig\nclick frmConfig.cmdOK\nclose frmInicio\n", deadBase);
    expectEnded(r);
    EXPECT_EQ(portFile(), "80\r\n");

    // A first line of blanks shows 80 too; a saved port counts at once, without a restart.
    writePortFile("   \r\n");
    r = run("click frmInicio.cmdConfig\nclick frmConfig.cmdOK\n"
            "click frmInicio.cmdConfig\ntype frmConfig.txtPorta " +
                port + "\nclick frmConfig.cmdOK\n" + login("bia", "senha2") + "close frmInicio\n",
            deadBase);
    expectEnded(r);
    EXPECT_EQ(portFile(), port.toUtf8() + "\r\n");
    EXPECT_FALSE(r.messages().contains(kRefused)) << r.transcriptText().toStdString();
    EXPECT_EQ(logins(), 1);
}
