// Start and stop of the printer session, and the session's reports on the window.
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTime>
#include <cstdlib>

#include "config/messages.h"
#include "config/report.h"
#include "config/utilities.h"
#include "job_list.h"
#include "main_window.h"
#include "qt_report.h"
#include "queued_call.h"
#include "session/printer_session.h"
#include "uitext.h"

namespace ui {

config::Reporter& MainWindow::Report() {
    return *report_;
}

bool MainWindow::SessionRunning() const {
    return session_ && session_->Running();
}

void MainWindow::SetStatus(const QString& text) {
    status_->setPlainText(text);
    emit statusShown(text);
}

void MainWindow::StartClient() {
    if (ValidateFields() != 1) {
        Tell(UiText(validationMessage_), MessageKind::Warning);
        return;
    }
    QString path;
    if (FindSessionFileArgument(path)) {
        ReadSessionFile(path);
        sessionFileInForce_ = true;
    }
    if (AnyFieldModified()) sessionFileInForce_ = true;
    if (stopper_.joinable()) stopper_.join();
    if (SessionRunning()) return;
    config::Settings s;
    const config::Result rc = SettingsForStart(s);
    if (rc.code == config::kConflictingNames) std::exit(10);
    started_ = s;
    lastReason_.clear();
    if (rc.ok()) {
        session_ = std::make_unique<session::PrinterSession>(s, *report_);
        if (!session_->Start()) return;
    }
    start_->setEnabled(false);
    stop_->setEnabled(true);
    SetStatus(UiText(config::MSG_ATTEMPTING_CONNECT));
    running_ = true;
    if (!rc.ok()) {
        // Settings that cannot be read end the run before it connects.
        const std::string text = rc.Text();
        Tell(QString::fromStdString(text), MessageKind::Critical);
        if (config::gDebug) config::DebugPrint(text + "\n");
        ShowOnlineState(false);
    }
}

void MainWindow::StopClient() {
    if (stopping_) return;
    stopping_ = true;
    stop_->setEnabled(false);
    if (stopper_.joinable()) stopper_.join();
    // The join runs beside the window thread, which goes on serving the
    // session's reports (a blocking question among them) until it ends.
    session::PrinterSession* session = session_.get();
    stopper_ = std::thread([this, session] {
        if (session) session->Stop();
        PostQueued(this, [this] { FinishStop(); });
    });
}

void MainWindow::FinishStop() {
    if (stopper_.joinable()) stopper_.join();
    start_->setEnabled(true);
    stopping_ = false;
    running_ = false;
    SetStatus(UiText(config::MSG_OFFLINE));
    UpdateTrayIcon(false, TrayAction::Modify);
    emit onlineChanged(false);
    if (exitAfterStop_) {
        exitAfterStop_ = false;
        FinishExit();
    }
}

void MainWindow::ShowOnlineState(bool online) {
    stop_->setEnabled(online);
    start_->setEnabled(!online);
    SetStatus(UiText(online ? config::MSG_ONLINE : config::MSG_OFFLINE));
    UpdateTrayIcon(online, TrayAction::Modify);
    running_ = online;
    emit onlineChanged(online);
}

void MainWindow::ShowStatusMessage(int code, const QString& reported) {
    QString text = reported.isEmpty() ? UiText(code) : reported;
    const QString delaying = UiText(config::MSG_DELAYING);
    if (code != config::MSG_ATTEMPTING_CONNECT && !text.endsWith(delaying)) text += "\n" + delaying;
    if (code != config::MSG_ATTEMPTING_CONNECT)
        lastReason_ = text.left(text.size() - delaying.size()).trimmed();
    SetStatus(text);
}

void MainWindow::StatusLine(const QString& text) {
    SetStatus(running_ ? UiText(config::MSG_ONLINE) + "\n" + text : text);
    if (config::gDebug == 1) config::DebugPrint(text.toStdString() + "\n");
}

void MainWindow::JobReported(const config::JobReport& job) {
    StatusLine(QString::fromStdString(JobLine(job)));
    jobList_->Add(job);
}

void MainWindow::ShowFinalMessage(const QString& text) {
    // The run ended without a Stop: always a failure, said with the last reason given
    // (the host, port and system reason of a failed connection).
    const bool more = !lastReason_.isEmpty() && !text.contains(lastReason_);
    Tell(more ? text + "\n" + lastReason_ : text, MessageKind::Critical);
}

} // namespace ui
