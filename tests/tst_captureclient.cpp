#include "capture/captureclient.h"
#include "clips/clipstore.h"
#include "fakeplatform.h"

#include <QtTest>

// The window's side of capture against a scripted worker (fakeworker): which clips reach
// the store when workers hang, die, talk nonsense or stop listening.
class CaptureClientTest : public QObject {
    Q_OBJECT

private slots:
    void init() { fakeplatform::reset(); }
    void newerChangeWins();
    void deadWorkerLosesNoClip();
    void malformedFrameRestartsWorker();
    void silentWorkerIsReplaced();

private:
    // Starts capture with workers following script; unless quiet, a copy is made before the
    // first worker is ready.
    void start(CaptureClient &client, const char *script, bool quiet = false)
    {
        qputenv("TESSEL_TEST_WORKER", script);
        client.start(QCoreApplication::applicationDirPath() + QStringLiteral("/fakeworker"));
        if (!quiet)
            fakeplatform::state().stamp = {1, 2};
    }
    // Another owner takes the clipboard, and the window hears of it.
    static void newOwner(CaptureClient &client, quint32 time)
    {
        fakeplatform::state().stamp = {1, time};
        client.clipboardChanged();
    }
    static QStringList texts(const ClipStore &store)
    {
        QStringList found;
        for (int i = 0; i < MaxClips; ++i) {
            if (store.clip(i))
                found << store.clip(i)->text();
        }
        return found;
    }
};

void CaptureClientTest::newerChangeWins()
{
    ClipStore store;
    CaptureClient client(store);
    start(client, "hang;clip:newer");
    QTRY_COMPARE(client.currentState(), CaptureClient::State::Reading);
    // The hung read is given up for the newer copy, read by a new worker.
    newOwner(client, 3);
    QTRY_COMPARE(texts(store), QStringList{"newer"});
}

void CaptureClientTest::deadWorkerLosesNoClip()
{
    ClipStore store;
    CaptureClient client(store);
    start(client, "clip:first;die;clip:again");
    QTRY_COMPARE(texts(store), QStringList{"first"});
    // The first worker misses the next copy and is replaced; the second dies of it, and the
    // third must not read it again: only the copy after it comes in, once.
    newOwner(client, 3);
    QTRY_COMPARE(client.workersStarted(), 3u);
    QTRY_COMPARE(client.currentState(), CaptureClient::State::Idle);
    newOwner(client, 4);
    QTRY_COMPARE(texts(store), (QStringList{"first", "again"}));
    QTest::qWait(CaptureClient::ReportWithinMs + 200);
    QCOMPARE(texts(store), (QStringList{"first", "again"}));
}

void CaptureClientTest::malformedFrameRestartsWorker()
{
    ClipStore store;
    CaptureClient client(store);
    start(client, "garbage;clip:fine");
    QTRY_COMPARE(texts(store), QStringList{"fine"});
}

void CaptureClientTest::silentWorkerIsReplaced()
{
    ClipStore store;
    CaptureClient client(store);
    start(client, "mute;clip:heard", true);
    QTRY_COMPARE(client.currentState(), CaptureClient::State::Idle);
    // The mute worker never reports the copy: a second after the window heard it, another
    // worker reads it.
    newOwner(client, 3);
    QTRY_COMPARE(texts(store), QStringList{"heard"});
}

QTEST_MAIN(CaptureClientTest)
#include "tst_captureclient.moc"
