#include "platform/program.h"

#include "platform/test_hook.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <unistd.h>
#include <utility>
#include <vector>

namespace krv::platform {

namespace {
std::function<void(int)>& endHandler() {
    static std::function<void(int)> handler;
    return handler;
}
std::vector<std::function<void(int)>>& endCallbacks() {
    static std::vector<std::function<void(int)>> callbacks;
    return callbacks;
}
} // namespace

std::function<void()>& windowsAtEnd() {
    static std::function<void()> hide;
    return hide;
}

void atProgramEnd(std::function<void(int)> fn) {
    endCallbacks().push_back(std::move(fn));
}

void yield() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

QString programFolder() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec)
        return QString::fromStdString(exe.parent_path().string());
    return QCoreApplication::applicationDirPath();
}

void endProgram(int code) {
    hook::record("end", {QString::number(code)});
    for (const auto& fn : std::exchange(endCallbacks(), {}))
        fn(code);
    if (auto& handler = endHandler())
        handler(code);
    // The original's End: windows gone and the process over, no cleanup of the caller runs.
    if (auto& hide = windowsAtEnd())
        hide();
    std::fflush(nullptr);
    ::_exit(code);
}

void endProgramAs(const QString& program, const QStringList& arguments) {
    hook::record("exec", QStringList{program} + arguments);
    const QByteArray path = QFile::encodeName(program);
    if (::access(path.constData(), X_OK) != 0) {
        std::fprintf(stderr, "%s: %s\n", path.constData(), std::strerror(errno));
        endProgram(1);
    }
    for (const auto& fn : std::exchange(endCallbacks(), {}))
        fn(0);
    std::vector<QByteArray> owned{path};
    for (const QString& a : arguments)
        owned.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& a : owned)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::fflush(nullptr);
    ::execv(path.constData(), argv.data());
    std::fprintf(stderr, "%s: %s\n", path.constData(), std::strerror(errno));
    std::fflush(nullptr);
    ::_exit(1);
}

void setEndHandler(std::function<void(int)> handler) {
    endHandler() = std::move(handler);
}

} // namespace krv::platform
