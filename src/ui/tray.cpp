// The notification-area icon and the ways into and out of it.
#include <QMenu>
#include <QSystemTrayIcon>

#include "main_window.h"
#include "uitext.h"

namespace ui {

void MainWindow::BuildTray() {
    tray_ = new QSystemTrayIcon(this);
    trayMenu_ = new QMenu(this);
    trayMenu_->addAction("Show setup window", this, &MainWindow::ShowFromTray);
    trayMenu_->addAction("Advanced settings...", this, &MainWindow::OpenAdvancedSettings);
    tray_->setContextMenu(trayMenu_);
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        if (r == QSystemTrayIcon::DoubleClick) ShowFromTray();
    });
}

void MainWindow::HideCommand() {
    // Without a notification area the taskbar entry is the way back.
    if (QSystemTrayIcon::isSystemTrayAvailable())
        hide();
    else
        showMinimized();
}

void MainWindow::ShowFromTray() {
    showNormal();
    raise();
    activateWindow();
}

void MainWindow::UpdateTrayIcon(bool online, TrayAction action) {
    if (action == TrayAction::Delete) {
        tray_->hide();
        trayShown_ = false;
        return;
    }
    static const QIcon onlineIcon(":/icons/online.svg");
    static const QIcon offlineIcon(":/icons/offline.svg");
    tray_->setIcon(online ? onlineIcon : offlineIcon);
    tray_->setToolTip(UiText(online ? config::MSG_ONLINE : config::MSG_OFFLINE).left(63));
    trayOnline_ = online;
    if (action == TrayAction::Add) {
        tray_->show();
        trayShown_ = true;
    }
}

} // namespace ui
