// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

#include <memory>

class QMenu;
class QSystemTrayIcon;

// Pellisor's place in the desktop's tray, where there is one: the way back to a closed window.
class TrayIcon : public QObject
{
    Q_OBJECT

public:
    explicit TrayIcon(QObject *parent = nullptr);
    ~TrayIcon() override;

signals:
    void showWindowRequested();
    void addressReportRequested();
    void quitRequested();

private:
    // A menu, being a widget, cannot have a QObject parent, and the tray icon does not own it. The icon is
    // declared last so that it goes first, never pointing at a freed menu.
    std::unique_ptr<QMenu> m_menu;
    std::unique_ptr<QSystemTrayIcon> m_icon;
};
