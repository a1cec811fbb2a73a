#pragma once

#include <QFileSystemWatcher>
#include <QLockFile>
#include <QObject>
#include <QString>

#include "platform/platform.h"

// One Tessel per user and desktop session. The first start holds a lock file and watches a
// wake file beside it; a later start writes to the wake file and ends once the first has
// emptied it.
class SingleInstance final : public QObject {
    Q_OBJECT

public:
    enum class Role {
        First,      // no other instance: this one runs
        Handed,     // the running instance was told about this start
        Unanswered, // an instance holds the lock but did not answer
        Alone,      // asked to pass a paste on, but no instance runs
    };

    SingleInstance();
    ~SingleInstance() override;

    // Runs as the first instance, or tells the running one that it was started again or,
    // with a slot (0 to 9), that it is to paste that slot.
    Role start(int pasteSlot = -1);

signals:
    void startedAgain();
    // A start asked to paste the slot of the key with this code.
    void pasteRequested(WPARAM key);

private:
    void answer();
    QString guardPath() const { return wakePath + QStringLiteral(".guard"); }

    QString wakePath;
    QLockFile lock;
    QFileSystemWatcher watcher;
};
