// Test runner entry: the QApplication is created only when tests run, never while listing
// them (test discovery runs the program without the test environment). Dialogs are
// answered by the test hook, whose transcript goes to a file of this run.
#include "platform/test_hook.h"
#include "platform/windowed.h"
#include "scripting/script_runner.h"

#include <QApplication>
#include <QDir>
#include <gtest/gtest.h>
#include <unistd.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const QString transcript =
        QDir::temp().filePath(QString("krv-test-transcript-%1.txt").arg(::getpid()));
    QFile::remove(transcript);
    qputenv("ZELVOR_TEST_TRANSCRIPT", transcript.toUtf8());
    qunsetenv("ZELVOR_TEST_SCRIPT");
    qputenv("ZELVOR_TEST_TIMEOUT", "0");
    QApplication app(argc, argv);
    app.setApplicationName("zelvor-tests");
    krv::scripting::install();
    krv::platform::installWindowed();
    krv::platform::hook::install();
    const int rc = RUN_ALL_TESTS();
    QFile::remove(transcript);
    return rc;
}
