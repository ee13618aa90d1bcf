// SPDX-License-Identifier: GPL-3.0-or-later
#include "ServerPanel.h"

#include "HTTPServer.h"
#include "PanelStyle.h"
#include "ServerStatusText.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

ServerPanel::ServerPanel(HTTPServer *server, QWidget *parent)
    : QWidget(parent)
    , m_server(server)
{
    m_status = plainLabel(this);
    m_status->setObjectName(QStringLiteral("serverStatus"));

    m_tryAgain = new QPushButton(tr("&Try Again"), this);
    m_tryAgain->setObjectName(QStringLiteral("tryAgain"));
    connect(m_tryAgain, &QPushButton::clicked, this, &ServerPanel::tryAgain);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    layout->addWidget(m_status, 1);
    layout->addWidget(m_tryAgain, 0, Qt::AlignTop);

    if (m_server)
        connect(m_server, &HTTPServer::stateChanged, this, &ServerPanel::showServerState);
    showServerState();
}

QString ServerPanel::statusText() const
{
    return m_status->text();
}

void ServerPanel::showServerState()
{
    m_status->setText(m_server ? serverStatusText(*m_server) : tr("Stopped"));
    // Offered only where starting again can help: the server is idle because it failed, not because it was stopped.
    m_tryAgain->setVisible(m_server && m_server->state() == HTTPServer::HTTPServerStateIdle && m_server->lastError());
}

void ServerPanel::tryAgain()
{
    if (m_server)
        m_server->start();
}
