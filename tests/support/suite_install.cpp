#include "suite_install.h"

#include <QDir>
#include <QSettings>

namespace krv::test {

SuiteInstall::SuiteInstall(const QString& ultAtualizacao, const QString& atmenu) {
    folder_ = root_.path() + "/krv";
    QDir().mkpath(folder_);
    db_.exec("create table licensa (ult_atualizacao varchar(10), atmenu varchar(10))");
    db_.exec(QString("insert into licensa values ('%1', '%2')").arg(ultAtualizacao, atmenu));
    writeConfigBD(folder_, {"1", db_.connectionString(), "", "", "", "", "MariaDB"});
    setSetting("DirSis", folder_);
    setSetting("DirSisExe", folder_);
}

void SuiteInstall::setSetting(const QString& key, const QString& value) {
    QDir().mkpath(config_.path() + "/KrvSis");
    QSettings s(config_.path() + "/KrvSis/KrvSis.ini", QSettings::IniFormat);
    s.setValue("Param/" + key, value);
    s.sync();
}

RunOptions SuiteInstall::options(const QString& script, int timeoutSeconds) const {
    RunOptions o;
    o.script = script;
    o.env["XDG_CONFIG_HOME"] = config_.path();
    o.timeoutSeconds = timeoutSeconds;
    return o;
}

RunResult SuiteInstall::runZelvor(const QString& script, int timeoutSeconds) const {
    return runProgram(zelvorBinary(), options(script, timeoutSeconds));
}

} // namespace krv::test
