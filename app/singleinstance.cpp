#include "singleinstance.h"

#include "platform/platform.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <QThread>

#include <cstdio>

namespace {
const char NamePrefix[] = "tessel-";
// How long a second start waits for the first to listen: it takes the lock just before.
const int AnswerWaitMs = 10000;
const int RetryMs = 50;

// The name as a file name: the local socket and the lock file are files in the temp folder.
QString fileSafe(QString name)
{
    for (QChar &c : name) {
        if (c.unicode() > 127 || !(c.isLetterOrNumber() || c == '-' || c == '.'))
            c = QLatin1Char('_');
    }
    return name;
}
} // namespace

SingleInstance::SingleInstance(const QString &session)
    : QObject(nullptr), name(fileSafe(QLatin1String(NamePrefix) + session)),
      lock(QDir(QDir::tempPath()).filePath(name + QStringLiteral(".lock")))
{
    // Only a lock whose process is gone is stale, never one that is merely old.
    lock.setStaleLockTime(0);
}

SingleInstance::~SingleInstance() = default;

SingleInstance::Role SingleInstance::start()
{
    QElapsedTimer waited;
    waited.start();
    bool yielded = false;
    for (;;) {
        // A lock left by a crash names a process that is gone: tryLock takes it over.
        if (lock.tryLock(0)) {
            // The same goes for the socket, which only the lock's holder may replace.
            QLocalServer::removeServer(name);
            server.setSocketOptions(QLocalServer::UserAccessOption);
            if (!server.listen(name))
                std::fprintf(stderr, "tessel: a second start will not find this one: %s\n",
                             qPrintable(server.errorString()));
            connect(&server, &QLocalServer::newConnection, this, &SingleInstance::answer);
            return Role::First;
        }
        if (!yielded) {
            platform::yieldFront();
            yielded = true;
        }
        QLocalSocket socket;
        socket.connectToServer(name);
        if (socket.waitForConnected(RetryMs)) {
            socket.disconnectFromServer();
            return Role::Handed;
        }
        if (waited.elapsed() > AnswerWaitMs)
            return Role::Unanswered;
        // Two starts at once: the other one holds the lock but may not listen yet.
        QThread::msleep(RetryMs);
    }
}

void SingleInstance::answer()
{
    // A connection is the whole message.
    while (QLocalSocket *socket = server.nextPendingConnection()) {
        socket->abort();
        socket->deleteLater();
    }
    emit startedAgain();
}
