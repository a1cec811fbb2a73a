#include "singleinstance.h"

#include "hotkeys/hotkeycodes.h"
#include "platform/platform.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QThread>

#include <cstdio>

namespace {
// Two starts at once may find the lock taken before the first watches, and the first
// answers from its event loop.
const int AnswerWaitMs = 10000;
const int RetryMs = 20;
// The wake file's guard is held for one small write or read.
const int GuardWaitMs = 1000;

// The lock and wake files' path without its suffix: a file name in the temp folder.
QString basePath()
{
    QString name = QStringLiteral("tessel-") + platform::sessionKey();
    for (QChar &c : name) {
        if (c.unicode() > 127 || !(c.isLetterOrNumber() || c == '-' || c == '.'))
            c = QLatin1Char('_');
    }
    return QDir(QDir::tempPath()).filePath(name);
}
} // namespace

SingleInstance::SingleInstance()
    : wakePath(basePath() + QStringLiteral(".wake")), lock(basePath() + QStringLiteral(".lock"))
{
    // Only a lock whose process is gone is stale, never one that is merely old.
    lock.setStaleLockTime(0);
    connect(&watcher, &QFileSystemWatcher::fileChanged, this, &SingleInstance::answer);
}

SingleInstance::~SingleInstance()
{
    // The wake file goes first, while it is still ours; the lock file goes with the lock.
    if (lock.isLocked()) {
        watcher.removePath(wakePath);
        QFile::remove(wakePath);
    }
}

SingleInstance::Role SingleInstance::start(int pasteSlot)
{
    QElapsedTimer waited;
    waited.start();
    bool knocked = false;
    for (;;) {
        // A lock left by a crash names a process that is gone: tryLock takes it over.
        if (lock.tryLock(0) && pasteSlot >= 0) {
            lock.unlock();
            return Role::Alone;
        }
        if (lock.isLocked()) {
            // Whatever a start wrote before this one ran is answered by its window showing.
            QFile wake(wakePath);
            if (!wake.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
                !watcher.addPath(wakePath))
                std::fprintf(stderr, "tessel: a second start will not find this one: %s\n",
                             qPrintable(wakePath));
            return Role::First;
        }
        if (!knocked) {
            if (pasteSlot < 0)
                platform::yieldFront();
            // One line per request; the guard keeps the first from emptying the file between
            // its reading and another start's writing.
            QLockFile guard(guardPath());
            guard.setStaleLockTime(0);
            QFile wake(wakePath);
            knocked =
                guard.tryLock(GuardWaitMs) && wake.open(QIODevice::WriteOnly | QIODevice::Append) &&
                wake.write(pasteSlot < 0 ? QByteArray("\n")
                                         : "paste " + QByteArray::number(pasteSlot) + '\n') > 0;
        }
        // The first one empties the file once it has seen it; one that is ending removes it,
        // and then this start waits for the lock instead.
        const QFileInfo wake(wakePath);
        if (knocked && wake.exists() && wake.size() == 0)
            return Role::Handed;
        if (waited.elapsed() > AnswerWaitMs)
            return Role::Unanswered;
        QThread::msleep(RetryMs);
    }
}

void SingleInstance::answer()
{
    QFile wake(wakePath);
    // Emptying it is a change too, and a watcher loses a file that was replaced.
    if (!watcher.files().contains(wakePath))
        watcher.addPath(wakePath);
    QLockFile guard(guardPath());
    guard.setStaleLockTime(0);
    if (wake.size() == 0 || !guard.tryLock(GuardWaitMs) || !wake.open(QIODevice::ReadWrite))
        return;
    QList<QByteArray> requests = wake.readAll().split('\n');
    if (!wake.resize(0))
        return;
    guard.unlock();
    // Each request is a line: what follows the last line break is none.
    requests.removeLast();
    for (const QByteArray &request : requests) {
        bool valid = false;
        const int slot = request.startsWith("paste ") ? request.mid(6).toInt(&valid) : -1;
        if (valid && slot >= 0 && slot < HotKeyCount)
            emit pasteRequested(WPARAM(hotKeyCodes[slot]));
    }
    // A plain second start writes an empty line.
    if (requests.contains(QByteArray()))
        emit startedAgain();
}
