#include "shell.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <unistd.h>

#include "platform/sysinfo.h"

namespace ui {

QString LocateHelpFile(const QString& programDir) {
    const QString candidates[] = {
        programDir + "/" + kHelpFile,
        QFileInfo(programDir).dir().path() + "/help/" + kHelpFile,
        QFileInfo(programDir).dir().path() + "/share/twprinter/help/" + kHelpFile,
    };
    for (const QString& c : candidates)
        if (::access(QFile::encodeName(c).constData(), R_OK) == 0) return c;
    return kHelpFile;
}

std::string ApplicationName() {
    const std::string& name = platform::ProgramName();
    return name.empty() ? "twprinter" : name;
}

QString DataHome() {
    const QByteArray env = qgetenv("XDG_DATA_HOME");
    if (!env.isEmpty()) return QString::fromLocal8Bit(env);
    return QDir::homePath() + "/.local/share";
}

namespace {

// 1 written, 0 unchanged, -1 failed.
int WriteIfChanged(const QString& path, const QByteArray& content) {
    if (!QDir().mkpath(QFileInfo(path).path())) return -1;
    QFile old(path);
    if (old.open(QIODevice::ReadOnly) && old.readAll() == content) return 0;
    old.close();
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return -1;
    if (f.write(content) != content.size()) return -1;
    return 1;
}

void Refresh(const char* tool, const QString& dir) {
    const QString exe = QStandardPaths::findExecutable(tool);
    if (!exe.isEmpty()) QProcess::startDetached(exe, {dir});
}

QString DesktopQuote(const QString& s) {
    if (!s.contains(QRegularExpression("[ \"'\\\\$`]"))) return s;
    QString q = s;
    q.replace("\\", "\\\\").replace("\"", "\\\"").replace("$", "\\$").replace("`", "\\`");
    return "\"" + q + "\"";
}

} // namespace

int RegisterSessionFileType() {
    // The open command follows the program as started last, from the current
    // directory, the way the shell association has always been written.
    const QString program =
        QString::fromStdString(platform::JoinPath(platform::CurrentDirectory(), ApplicationName()));
    const QString home = DataHome();
    const QString iconPath = home + "/icons/hicolor/scalable/apps/twprinter.svg";

    QFile iconRes(":/icons/twprinter.svg");
    if (!iconRes.open(QIODevice::ReadOnly)) return 0;
    const int icon = WriteIfChanged(iconPath, iconRes.readAll());
    if (icon < 0) return 0;

    const QByteArray mime = QString(R"(<?xml version="1.0" encoding="UTF-8"?>
<mime-info xmlns="http://www.freedesktop.org/standards/shared-mime-info">
  <mime-type type="%1">
    <comment>twprinter session file</comment>
    <icon name="twprinter"/>
    <glob pattern="*.twr"/>
  </mime-type>
</mime-info>
)")
                                .arg(kSessionMimeType)
                                .toUtf8();
    const int mimeChanged = WriteIfChanged(home + "/mime/packages/twprinter.xml", mime);
    if (mimeChanged < 0) return 0;

    const QByteArray desktop =
        QString("[Desktop Entry]\n"
                "Type=Application\n"
                "Name=twprinter\n"
                "Comment=TN3270E network printer client\n"
                "Exec=%1 %f\n"
                "Icon=%2\n"
                "MimeType=%3;\n"
                "Terminal=false\n"
                "Categories=Utility;\n"
                "X-Twprinter-Class=%4\n")
            .arg(DesktopQuote(program), iconPath, kSessionMimeType, kSessionClass)
            .toUtf8();
    const int desktopChanged = WriteIfChanged(home + "/applications/twprinter.desktop", desktop);
    if (desktopChanged < 0) return 0;

    if (mimeChanged > 0) Refresh("update-mime-database", home + "/mime");
    if (desktopChanged > 0) Refresh("update-desktop-database", home + "/applications");
    return 1;
}

} // namespace ui
