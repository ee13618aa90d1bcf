// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPointer>
#include <QWidget>

class HTTPServer;
class QLabel;
class QPushButton;

// What the server is doing, and a way to start it again after it failed (typically: the port was taken).
class ServerPanel : public QWidget
{
    Q_OBJECT

public:
    // The server is watched, not owned.
    explicit ServerPanel(HTTPServer *server, QWidget *parent = nullptr);

    QString statusText() const;

private:
    void showServerState();
    void tryAgain();

    QPointer<HTTPServer> m_server;
    QLabel *m_status = nullptr;
    QPushButton *m_tryAgain = nullptr;
};
