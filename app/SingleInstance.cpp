// SPDX-License-Identifier: GPL-3.0-or-later
#include "SingleInstance.h"

#include "SystemLog.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>

#include <unistd.h>

namespace {

constexpr char reopenRequest[] = "reopen\n";
// Followed by a path, percent-encoded so that no character of it can end the line.
constexpr QByteArrayView libraryRequest("library ");
constexpr QByteArrayView musicFolderRequest("music-folder ");
constexpr QByteArrayView serveFolderRequest("serve-folder "); // as long as the one above, which peek() relies on
// Anything longer without a line end is not one of ours.
constexpr qint64 longestRequest = 64;
// A path holds up to PATH_MAX (4096) bytes, each of which may take three when encoded.
constexpr qint64 longestPathRequest = 3 * 4096 + 32;

QByteArray pathRequest(QByteArrayView request, const QString &path)
{
    return path.isEmpty() ? QByteArray() : request.toByteArray() + path.toUtf8().toPercentEncoding() + '\n';
}

// Local sockets connect or fail at once; these only bound a peer that is alive but not answering.
constexpr int connectTimeLimitMs = 1000;
constexpr int writeTimeLimitMs = 1000;
// Two launches at the same moment take turns deciding which of them is the first.
constexpr int decisionTimeLimitMs = 5000;

} // namespace

SingleInstance::SingleInstance(QString name, QObject *parent)
    : QObject(parent)
    , m_name(std::move(name))
{
}

QString SingleInstance::nameForCurrentUser(const QString &homePath)
{
    const QByteArray home = homePath.toUtf8();
    const QByteArray digest = QCryptographicHash::hash(home, QCryptographicHash::Sha256).toHex().left(16);
    return QStringLiteral("pellisor-%1-%2").arg(::getuid()).arg(QString::fromLatin1(digest));
}

bool SingleInstance::handOverToRunningInstance(const QString &library, const QString &musicFolder,
                                               const QString &servedFolder)
{
    QLockFile decision(QDir(QDir::tempPath()).filePath(m_name + QStringLiteral(".lock")));
    const bool decidingAlone = decision.tryLock(decisionTimeLimitMs);
    const QByteArray choices = pathRequest(libraryRequest, library) + pathRequest(musicFolderRequest, musicFolder)
                               + pathRequest(serveFolderRequest, servedFolder);
    if (askRunningInstanceToReopen(choices))
        return true;
    listen();
    if (decidingAlone)
        decision.unlock();
    return false;
}

bool SingleInstance::askRunningInstanceToReopen(const QByteArray &choices)
{
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(connectTimeLimitMs))
        return false;
    socket.write(choices + reopenRequest);
    socket.waitForBytesWritten(writeTimeLimitMs);
    socket.disconnectFromServer();
    return true;
}

void SingleInstance::listen()
{
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // Nobody answered: whatever socket file is left belongs to an instance that ended without removing it.
    QLocalServer::removeServer(m_name);
    if (!m_server->listen(m_name)) {
        systemLog(QStringLiteral("Pellisor: later launches will not find this one: %1").arg(m_server->errorString()));
        return;
    }
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::acceptRequests);
}

void SingleInstance::acceptRequests()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readRequest(socket); });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        readRequest(socket);
    }
}

void SingleInstance::readRequest(QLocalSocket *socket)
{
    while (socket->canReadLine()) {
        const QByteArray line = socket->readLine();
        const auto path = [&line](QByteArrayView request) {
            return QString::fromUtf8(QByteArray::fromPercentEncoding(line.sliced(request.size()).chopped(1)));
        };
        if (line == reopenRequest)
            emit reopenRequested();
        else if (line.startsWith(libraryRequest))
            emit libraryChosen(path(libraryRequest));
        else if (line.startsWith(musicFolderRequest))
            emit musicFolderChosen(path(musicFolderRequest));
        else if (line.startsWith(serveFolderRequest))
            emit serveFolderRequested(path(serveFolderRequest));
    }
    const QByteArray start = socket->peek(musicFolderRequest.size());
    const bool pathFollows = start.startsWith(libraryRequest) || start.startsWith(musicFolderRequest)
                            || start.startsWith(serveFolderRequest);
    if (socket->bytesAvailable() > (pathFollows ? longestPathRequest : longestRequest))
        socket->abort();
}
