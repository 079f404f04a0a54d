#include "download/frm_download.h"
#include "engine_fixture.h"
#include "hook_tap.h"

#include <QCoreApplication>

using namespace krv;
using namespace krv::download;
using namespace krv::test;

namespace {

struct Captions {
    QString heading, percent, bytes, time, rate;
    int bar;
    bool operator==(const Captions&) const = default;
};

Captions captionsOf(const frmDownload& w) {
    return {w.Label1->text(), w.lblp->text(),  w.lblt->text(),
            w.lbltl->text(),  w.lbltr->text(), w.pb1->value()};
}

void PrintTo(const Captions& c, std::ostream* os) {
    *os << qPrintable(QStringList({c.heading, c.percent, c.bytes, c.time, c.rate}).join(" | "))
        << " | " << c.bar;
}

} // namespace

TEST(FrmDownload, OpensWithItsInitialCaptionsAndPlaces) {
    // The owner outlives the window it owns.
    QWidget owner;
    frmDownload w;
    EXPECT_EQ(w.objectName(), "frmDownload");
    EXPECT_EQ(w.size(), QSize(312, 108));
    EXPECT_EQ(captionsOf(w), (Captions{"Baixando Atualizações...", "0%", "", "Time Remaining - ",
                                       "Transfer Rate - ", 0}));
    EXPECT_EQ(w.pb1->minimum(), 0);
    EXPECT_EQ(w.pb1->maximum(), 100);
    EXPECT_TRUE(w.Label1->font().bold());
    EXPECT_EQ(w.Dl1->objectName(), "Dl1");
    EXPECT_EQ(w.Dl1->geometry(), QRect(3, 69, 32, 32));
    EXPECT_EQ(w.Dl1->CHUNK(), 1024);
    for (const char* name : {"Label1", "pb1", "lblp", "lblt", "lbltl", "lbltr"})
        EXPECT_NE(w.findChild<QWidget*>(name), nullptr) << name;

    owner.setGeometry(100, 100, 600, 400);
    owner.show();
    w.showOwnedBy(&owner);
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(w.isModal());
    EXPECT_EQ(w.parentWidget(), &owner);
    w.hide();
}

TEST(FrmDownload, EventsBecomePortugueseCaptions) {
    frmDownload w;
    w.Label1->setText("Baixando atualização...");
    emit w.Dl1->Rate("");
    emit w.Dl1->TimeLeft("2 min 5 sec");
    emit w.Dl1->Percent(45);
    emit w.Dl1->DLError("Error Downloading File from : x");
    emit w.Dl1->DLECode(1);
    QCoreApplication::processEvents();
    EXPECT_EQ(captionsOf(w),
              (Captions{"Baixando atualização...", "45%", "", "Tempo restante - 2 min 5 sec",
                        "Taxa de transferência - ", 0}));
    EXPECT_EQ(w.lastErrorCode(), 1);
    EXPECT_FALSE(w.completed());

    emit w.Dl1->Rate("1.5 KB/S");
    emit w.Dl1->DLComplete();
    EXPECT_EQ(w.lbltr->text(), "Taxa de transferência - 1.5 KB/S");
    EXPECT_EQ(w.Label1->text(), "Download Completo!");
    EXPECT_TRUE(w.completed());
}

class FrmDownloadRun : public EngineTest {};

TEST_F(FrmDownloadRun, CaptionsFollowEachEventOfARealDownload) {
    serveBytes("/f.zip", 10240);
    frmDownload w;
    w.show();
    w.Dl1->setUrl(url("/f.zip"));
    w.Dl1->setSaveLocation(file("f.zip"));
    w.Dl1->GetFileInformation();
    w.pb1->setMaximum(w.Dl1->FileSize());

    // After each event has reached the window, the event loop runs and the captions show.
    QStringList seen;
    QObject::connect(w.Dl1, &DownLoad::RecievedBytes, &w, [&](std::int32_t) {
        QCoreApplication::processEvents();
        seen << w.lblt->text() + "/" + QString::number(w.pb1->value()) + "/" + w.lblp->text();
    });
    QObject::connect(w.Dl1, &DownLoad::Percent, &w, [&](std::int32_t p) {
        QCoreApplication::processEvents();
        EXPECT_EQ(w.lblp->text(), QString::number(p) + "%");
    });
    QObject::connect(w.Dl1, &DownLoad::TimeLeft, &w, [&](const QString& t) {
        QCoreApplication::processEvents();
        EXPECT_EQ(w.lbltl->text(), "Tempo restante - " + t);
    });
    QObject::connect(w.Dl1, &DownLoad::Rate, &w, [&](const QString& r) {
        QCoreApplication::processEvents();
        EXPECT_EQ(w.lbltr->text(), "Taxa de transferência - " + r);
    });
    w.Dl1->Download();
    ASSERT_EQ(seen.size(), 11);
    EXPECT_EQ(seen[0], "Recebidos 1024 de 10240./1024/0%");
    EXPECT_EQ(seen[1], "Recebidos 2048 de 10240./2048/10%");
    EXPECT_EQ(seen[10], "Recebidos 10240 de 10240./10240/100%");
    EXPECT_TRUE(w.completed());
    EXPECT_EQ(w.lastErrorCode(), 0);
    EXPECT_EQ(w.Label1->text(), "Download Completo!");
    EXPECT_EQ(read(file("f.zip")), pattern(0, 10240));
}

TEST_F(FrmDownloadRun, AFailedDownloadLeavesTheCaptionsAsTheyWere) {
    RawResponse cut;
    cut.patternSize = 4096;
    cut.dropAfter = 2048;
    server.serve("/cut", cut);
    frmDownload w;
    w.Label1->setText("Baixando atualização...");
    w.Dl1->setUrl(url("/cut"));
    w.Dl1->setSaveLocation(file("cut"));
    w.Dl1->GetFileInformation();
    w.pb1->setMaximum(w.Dl1->FileSize());
    w.Dl1->Download();
    QCoreApplication::processEvents();
    EXPECT_FALSE(w.completed());
    EXPECT_EQ(w.lastErrorCode(), 1);
    EXPECT_EQ(w.lastError(), "Error Downloading File from : " + url("/cut"));
    EXPECT_EQ(w.Label1->text(), "Baixando atualização...");
    EXPECT_EQ(w.lblt->text(), "Recebidos 2048 de 4096.");
    EXPECT_EQ(w.lblp->text(), "50%");
}

TEST_F(FrmDownloadRun, ClosingWhileItDownloadsAsksWhetherToStop) {
    RawResponse slow;
    slow.patternSize = 48 * 1024;
    slow.dripMs = 20;
    server.serve("/slow", slow);
    for (const QString answer : {"Yes", "No"}) {
        frmDownload w;
        w.show();
        w.running = true;
        w.Dl1->setUrl(url("/slow"));
        w.Dl1->setSaveLocation(file(answer));
        w.Dl1->GetFileInformation();
        bool closed = false;
        QObject::connect(w.Dl1, &DownLoad::RecievedBytes, &w, [&](std::int32_t n) {
            if (closed || n < 4096)
                return;
            closed = true;
            EXPECT_FALSE(w.close()); // the window stays while it works
        });
        queue("msgbox " + answer + "\n");
        HookTap tap;
        w.Dl1->Download();
        w.running = false;
        ASSERT_EQ(tap.messages().size(), 1) << answer.toStdString();
        EXPECT_TRUE(tap.messages()[0].startsWith("Deseja interromper a atualização?"));
        EXPECT_EQ(tap.lines()[0].fields.mid(0, 3), QStringList({"Aviso!", "question", "YesNo"}));
        const bool stopped = answer == "Yes";
        EXPECT_EQ(w.completed(), !stopped) << answer.toStdString();
        EXPECT_EQ(w.lastErrorCode(), stopped ? 4 : 0) << answer.toStdString();
        EXPECT_EQ(read(file(answer)).size() < 48 * 1024, stopped) << answer.toStdString();
        // Once the caller is done the window closes without asking.
        EXPECT_TRUE(w.close());
        EXPECT_EQ(tap.messages().size(), 1);
    }
}
