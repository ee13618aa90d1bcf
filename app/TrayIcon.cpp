// SPDX-License-Identifier: GPL-3.0-or-later
#include "TrayIcon.h"

#include "AppIcon.h"

#include <QMenu>
#include <QSystemTrayIcon>

TrayIcon::TrayIcon(QObject *parent)
    : QObject(parent)
    , m_menu(std::make_unique<QMenu>())
    , m_icon(std::make_unique<QSystemTrayIcon>(pellisorIcon()))
{
    m_menu->addAction(tr("Show Pellisor"), this, &TrayIcon::showWindowRequested);
    m_menu->addAction(tr("Show IP Address"), this, &TrayIcon::addressReportRequested);
    m_menu->addSeparator();
    m_menu->addAction(tr("Quit"), this, &TrayIcon::quitRequested);

    m_icon->setToolTip(QStringLiteral("Pellisor"));
    m_icon->setContextMenu(m_menu.get());
    connect(m_icon.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            emit showWindowRequested();
    });
    m_icon->show();
}

TrayIcon::~TrayIcon() = default;
