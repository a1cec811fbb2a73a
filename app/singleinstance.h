#pragma once

#include <QFileSystemWatcher>
#include <QLockFile>
#include <QObject>
#include <QString>

// Keeps Tessel to one instance per user and desktop session. The first start holds a lock
// file and watches a wake file of the same name; a later start finds the lock held, writes
// to the wake file, and ends once the first one has emptied it.
class SingleInstance final : public QObject {
    Q_OBJECT

public:
    enum class Role {
        First,      // no other instance: this one runs
        Handed,     // the running instance was told about this start
        Unanswered, // an instance holds the lock but did not answer
    };

    // session names the user and desktop session (platform::sessionKey()).
    explicit SingleInstance(const QString &session);
    ~SingleInstance() override;

    Role start();

signals:
    // The program was started again in this session.
    void startedAgain();

private:
    void answer();

    QString wakePath;
    QLockFile lock;
    QFileSystemWatcher watcher;
};
