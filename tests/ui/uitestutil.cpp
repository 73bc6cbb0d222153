#include "uitestutil.h"

#include <signal.h>
#include <unistd.h>

#include <cstdlib>

#include "config/ini.h"
#include "config/utilities.h"
#include "platform/profile.h"
#include "platform/sysinfo.h"

namespace uitest {

Env::Env(const std::string& extraCommandLine) {
    setenv("TWPRINTER_DIR", dir_.path().c_str(), 1);
    setenv("XDG_DATA_HOME", dir_.file("data").c_str(), 1);
    char buf[4096];
    oldCwd_ = getcwd(buf, sizeof buf) ? buf : "/";
    if (chdir(dir_.path().c_str()) != 0) std::abort();
    platform::SetCommandLine("twprinter" +
                             (extraCommandLine.empty() ? "" : " " + extraCommandLine));
    config::SetIniPathFromProgram("twprinter");
    config::gDebug = 0;
    auto& hooks = ui::Hooks();
    hooks.messageBox = [this](QWidget*, const QString& text, ui::MessageKind kind) {
        shown << text;
        kinds << kind;
        if (kind != ui::MessageKind::Question) return true;
        const bool a = !answers.empty() && answers.front();
        if (!answers.empty()) answers.pop_front();
        return a;
    };
    hooks.saveSessionFile = [this](QWidget*) { return saveAs; };
    hooks.chooseFile = [this](QWidget*, const QString&, const QString&) { return openAs; };
    hooks.openHelp = [this](const QString&) { return launcher; };
    hooks.openFolder = [this](const QString& folder) { foldersOpened << folder; };
}

Env::~Env() {
    if (chdir(oldCwd_.c_str()) != 0) std::abort();
}

void Env::Set(const QString& assignments) const {
    for (const QString& a : assignments.split(' ', Qt::SkipEmptyParts))
        platform::ProfileWriteString("CONFIGURATION", a.section('=', 0, 0).toStdString(),
                                     a.section('=', 1).toStdString(), ini());
}

QString Env::Get(const QString& keys) const {
    QStringList values;
    for (const QString& key : keys.split(' '))
        values << QString::fromStdString(
            platform::ProfileGetString("CONFIGURATION", key.toStdString(), "<missing>", ini()));
    return values.join('|');
}

static std::vector<std::string> HostArgs(const Env& env, const std::string& script,
                                         const std::string& captures) {
    testutil::WriteFile(env.file("host.script"), script);
    return {HOSTSIM_PATH, "--port", "0",         "--script", env.file("host.script"),
            "--timeout",  "60000",  "--clients", "5",        "--pcap",
            captures};
}

HostSim::HostSim(const Env& env, const std::string& script)
    : proc(HostArgs(env, script, captures.path())) {
    if (proc.WaitFor("PORT "))
        port = std::atoi(proc.text().c_str() + proc.text().find("PORT ") + 5);
}

HostSim::~HostSim() {
    proc.Stop(SIGTERM);
    const std::string flagged = testutil::DissectorFlags(captures.path(), port);
    if (!flagged.empty())
        QTest::qFail(("the dissector flags frames the window sent:\n" + flagged).c_str(), __FILE__,
                     __LINE__);
}

QString Texts(Dialog& d, std::initializer_list<int> ids) {
    QStringList texts;
    for (int id : ids) {
        if (auto* choice = d.ControlAs<QComboBox>(id))
            texts << choice->currentText();
        else
            texts << E(d, id)->text();
    }
    return texts.join('|');
}

QString Flags(Dialog& d, std::initializer_list<int> ids, bool (*on)(QWidget*)) {
    QString s;
    for (int id : ids)
        s += on(d.Control(id)) ? '1' : '0';
    return s;
}

void Type(Dialog& d, std::initializer_list<int> ids, const QString& texts) {
    const QStringList list = texts.split('|');
    auto text = list.begin();
    for (int id : ids) {
        if (auto* choice = d.ControlAs<QComboBox>(id)) {
            // Keys typed in quick succession search as one word.
            QTest::qWait(QApplication::keyboardInputInterval() + 50);
            QTest::keyClicks(choice, *text++);
            continue;
        }
        E(d, id)->selectAll();
        QTest::keyClick(E(d, id), Qt::Key_Delete);
        QTest::keyClicks(E(d, id), *text);
        if (!E(d, id)->isEnabled()) E(d, id)->setText(*text);
        ++text;
    }
}

QString Connection(const config::Settings& s) {
    return QString::fromStdString(s.service + "|" + s.sessionId.value_or("") + "|" +
                                  s.luAddress.value_or("") + "|" + s.fileName + "|" + s.portName);
}

void StartAndStop(Dialog& d) {
    d.StartClient();
    d.StopClient();
    QTRY_VERIFY_WITH_TIMEOUT(!d.stopping(), 10000);
}

} // namespace uitest
