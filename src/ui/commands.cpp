// The commands of the window's buttons and menus, and the rules of Exit.
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include "advanced.h"
#include "config/ini.h"
#include "config/utilities.h"
#include "main_window.h"
#include "printer_choice.h"
#include "uitext.h"

namespace ui {

bool MainWindow::Ask(const QString& text) {
    return Hooks().messageBox(this, text, MessageKind::Question);
}
void MainWindow::Tell(const QString& text, MessageKind kind) {
    Hooks().messageBox(this, text, kind);
}

void MainWindow::RequestExit() {
    if (exitAfterStop_) return;
    if (running_ || stopping_ || SessionRunning()) {
        // One question; the stop's end finishes the exit.
        if (!Ask("Stop the printer client and exit?")) return;
        exitAfterStop_ = true;
        if (!stopping_) StopClient();
        return;
    }
    if (!Ask(UiText(config::MSG_CONFIRM_EXIT))) return;
    FinishExit();
}

void MainWindow::FinishExit() {
    if (AnyFieldModified() && Ask(UiText(config::MSG_SAVE_CHANGES))) SaveFieldsToIni();
    UpdateTrayIcon(false, TrayAction::Delete);
    if (config::DebugLogOpen()) config::DebugClose();
    hide();
    emit exited();
}

void MainWindow::reject() {
    RequestExit();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    RequestExit();
}

void MainWindow::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    menu.addAction("Advanced settings...", this, &MainWindow::OpenAdvancedSettings);
    menu.exec(event->globalPos());
}

void MainWindow::OpenAdvancedSettings() {
    AdvancedSettingsDialog dlg(this);
    // As the window holds them, saved or not: OK changes nothing on disk, Save does.
    const std::map<std::string, std::string> saved = dlg.Values();
    dlg.Apply(pendingAdvanced_);
    dlg.SetSocketPort(socketPort_->text());
    if (dlg.exec() != QDialog::Accepted) return;
    pendingAdvanced_.clear();
    for (const auto& [key, value] : dlg.Values())
        if (saved.at(key) != value) pendingAdvanced_[key] = value;
    const QString socket = dlg.SocketPort();
    if (socket != socketPort_->text()) {
        socketPort_->setText(socket);
        socketPort_->setModified(false);
    }
    // The socket printer has a field of the window too, but no field of a Start.
    if (socket.toStdString() != config::IniGet("SOCKETPORT", ""))
        pendingAdvanced_["SOCKETPORT"] = socket.toStdString();
    UpdateStartButton();
}

void MainWindow::SaveCommand() {
    SaveFieldsToIni();
    ClearModifiedFlags();
    sessionFileInForce_ = false;
    const QString path = Hooks().saveSessionFile(this);
    if (!path.isEmpty()) WriteSessionFile(path);
}

void MainWindow::UndoCommand() {
    if (AnyFieldModified()) {
        UndoFieldChanges();
        sessionFileInForce_ = false;
    }
}

void MainWindow::PrinterSetup() {
    const auto pending = pendingAdvanced_.find("PAPER");
    const std::string paper =
        pending != pendingAdvanced_.end() ? pending->second : config::IniGet("PAPER", "");
    const PrinterPick pick =
        Hooks().choosePrinter(this, printer_->Name(), QString::fromStdString(paper));
    if (!pick.chosen) return;
    // The printer is kept at once, as the printer list keeps it; the paper is an
    // Advanced setting: the next Start uses it, Save writes it, Undo takes it back.
    config::IniSet("PRINTER", pick.printer.toStdString());
    ShowChosenPrinter();
    if (!pick.paper.isEmpty()) {
        if (pick.paper.toStdString() == config::IniGet("PAPER", ""))
            pendingAdvanced_.erase("PAPER");
        else
            pendingAdvanced_["PAPER"] = pick.paper.toStdString();
    }
    UpdateStartButton();
}

void MainWindow::ShowHelp() {
    if (!Hooks().openHelp(helpPath_)) ShowHelpInViewer();
}

void MainWindow::ShowHelpInViewer() {
    const QFileInfo file(helpPath_);
    if (!file.isReadable()) {
        Tell("The help file " + helpPath_ +
                 " was not found beside the program, in ../help or in ../share/twprinter/help.",
             MessageKind::Warning);
        return;
    }
    if (!helpViewer_) {
        // No desktop launcher answered: the bundled page in a viewer of our own.
        helpViewer_ = new QDialog(this);
        helpViewer_->setWindowTitle("twprinter help");
        auto* browser = new QTextBrowser;
        browser->setOpenExternalLinks(true);
        browser->setSource(QUrl::fromLocalFile(file.absoluteFilePath()));
        auto* close = new QDialogButtonBox(QDialogButtonBox::Close);
        connect(close, &QDialogButtonBox::rejected, helpViewer_, &QDialog::hide);
        auto* v = new QVBoxLayout(helpViewer_);
        v->addWidget(browser);
        v->addWidget(close);
        helpViewer_->resize(720, 560);
    }
    helpViewer_->show();
    helpViewer_->raise();
}

} // namespace ui
