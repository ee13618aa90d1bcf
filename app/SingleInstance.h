// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

// Keeps one Pellisor per user and home folder. A second launch finds the first through a local socket, asks it to
// reopen its window and then leaves, before it could ever take the server's port.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    explicit SingleInstance(QString name, QObject *parent = nullptr);

    // Derived from the user id and the home folder, so that a test with a home of its own never meets the
    // user's real instance.
    static QString nameForCurrentUser(const QString &homePath);

    // True when a running instance was found and asked to reopen: this process should then exit.
    // Otherwise this process becomes the instance that later launches find. A library or music folder
    // chosen on this launch's command line goes to the running instance first.
    bool handOverToRunningInstance(const QString &library = {}, const QString &musicFolder = {},
                                   const QString &servedFolder = {});

signals:
    void reopenRequested();
    void libraryChosen(const QString &path);
    void musicFolderChosen(const QString &path);
    void serveFolderRequested(const QString &path);

private:
    bool askRunningInstanceToReopen(const QByteArray &choices);
    void listen();
    void acceptRequests();
    void readRequest(QLocalSocket *socket);

    const QString m_name;
    QLocalServer *m_server = nullptr;
};
