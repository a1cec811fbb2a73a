#include "fakeplatform.h"
#include "hotkeys/nativeeventfilter.h"
#include "platform/platform.h"
#include "testsupport.h"
#include "window/tesselgui.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QtTest>

namespace {
const char WindowsEventType[] = "windows_generic_MSG";
const UINT HotKeyMessage = 786;
const UINT KeyDownMessage = 256;
// Whatever the caller leaves in the answer must still be there afterwards.
const long AnswerSentinel = 0x5eed;
const QList<int> AllCodes = {112, 113, 114, 115, 116, 117, 118, 119, 120, 121};

bool offer(NativeEventFilter &filter, const QByteArray &eventType, MSG &msg, long &answer)
{
    // Through the base the application calls, not the derived class.
    QAbstractNativeEventFilter &installed = filter;
    return installed.nativeEventFilter(eventType, &msg, &answer);
}
} // namespace

// Records each hotKeySignal; WPARAM is no registered meta-type, so QSignalSpy cannot.
class KeyReceiver : public QObject {
    Q_OBJECT

public:
    QList<WPARAM> codes;

public slots:
    void onHotKey(WPARAM wParam) { codes.append(wParam); }
};

class HotkeysTest : public QObject {
    Q_OBJECT

private slots:
    void init();

    void filterDecides_data();
    void filterDecides();
    void filterTakesEveryFunctionKey_data();
    void filterTakesEveryFunctionKey();
    void registrationWarnsPerFailedKey_data();
    void registrationWarnsPerFailedKey();
    void closeReleasesEveryKey_data();
    void closeReleasesEveryKey();
    void closeIsNeverRefused();
};

void HotkeysTest::init()
{
    fakeplatform::reset();
}

void HotkeysTest::filterDecides_data()
{
    QTest::addColumn<QByteArray>("eventType");
    QTest::addColumn<uint>("message");
    QTest::addColumn<uint>("code");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<bool>("consumed");

    const QByteArray windows(WindowsEventType);
    QTest::newRow("hotkey 111, below F1") << windows << HotKeyMessage << 111u << true << false;
    QTest::newRow("hotkey 122, above F10") << windows << HotKeyMessage << 122u << true << false;
    QTest::newRow("key-down of F5") << windows << KeyDownMessage << 116u << true << false;
    QTest::newRow("xcb event type")
        << QByteArray("xcb_generic_event_t") << HotKeyMessage << 114u << true << false;
    QTest::newRow("longer Windows type")
        << QByteArray("windows_generic_MSG_other") << HotKeyMessage << 114u << true << false;
    QTest::newRow("dispatcher type")
        << QByteArray("windows_dispatcher_MSG") << HotKeyMessage << 114u << true << false;
    QTest::newRow("type in other case")
        << QByteArray("WINDOWS_GENERIC_MSG") << HotKeyMessage << 114u << true << false;
    QTest::newRow("F3 with receiver") << windows << HotKeyMessage << 114u << true << true;
    QTest::newRow("F3 without receiver") << windows << HotKeyMessage << 114u << false << true;
}

void HotkeysTest::filterDecides()
{
    QFETCH(QByteArray, eventType);
    QFETCH(uint, message);
    QFETCH(uint, code);
    QFETCH(bool, connected);
    QFETCH(bool, consumed);

    NativeEventFilter filter;
    KeyReceiver receiver;
    if (connected) {
        QVERIFY(connect(&filter, SIGNAL(hotKeySignal(WPARAM)), &receiver, SLOT(onHotKey(WPARAM))));
    }
    // Field by field: the Windows MSG has more members than these.
    MSG msg{};
    msg.message = message;
    msg.wParam = WPARAM(code);
    msg.lParam = 7;
    msg.time = 42;
    long answer = AnswerSentinel;

    QCOMPARE(offer(filter, eventType, msg, answer), consumed);

    const QList<WPARAM> emitted = consumed && connected ? QList<WPARAM>{code} : QList<WPARAM>{};
    QCOMPARE(receiver.codes, emitted);
    QCOMPARE(answer, AnswerSentinel);
    QCOMPARE(msg.message, message);
    QCOMPARE(msg.wParam, WPARAM(code));
    QCOMPARE(msg.lParam, LPARAM(7));
}

void HotkeysTest::filterTakesEveryFunctionKey_data()
{
    QTest::addColumn<uint>("code");
    for (int n = 1; n <= 10; ++n)
        QTest::addRow("F%d", n) << uint(111 + n);
}

void HotkeysTest::filterTakesEveryFunctionKey()
{
    QFETCH(uint, code);
    NativeEventFilter filter;
    KeyReceiver receiver;
    QVERIFY(connect(&filter, SIGNAL(hotKeySignal(WPARAM)), &receiver, SLOT(onHotKey(WPARAM))));
    MSG msg{};
    msg.message = HotKeyMessage;
    msg.wParam = WPARAM(code);
    long answer = AnswerSentinel;

    QVERIFY(offer(filter, WindowsEventType, msg, answer));
    QCOMPARE(receiver.codes, QList<WPARAM>{code});
    QCOMPARE(answer, AnswerSentinel);
}

void HotkeysTest::registrationWarnsPerFailedKey_data()
{
    QTest::addColumn<QList<int>>("failing");
    QTest::addColumn<QStringList>("warnings");

    QStringList allWarnings;
    for (int n = 1; n <= 10; ++n)
        allWarnings << QString("Can not register F%1.").arg(n);

    QTest::newRow("all free") << QList<int>() << QStringList();
    QTest::newRow("F5 taken") << QList<int>{116} << QStringList{"Can not register F5."};
    QTest::newRow("F1 and F10 taken")
        << QList<int>{121, 112} << QStringList{"Can not register F1.", "Can not register F10."};
    QTest::newRow("all taken") << AllCodes << allWarnings;
}

void HotkeysTest::registrationWarnsPerFailedKey()
{
    QFETCH(QList<int>, failing);
    QFETCH(QStringList, warnings);
    fakeplatform::State &os = fakeplatform::state();
    os.failingHotKeys = QSet<int>(failing.begin(), failing.end());

    ModalAnswerer answerer;
    TesselGui window;

    QStringList shown;
    for (const ModalAnswerer::Box &box : answerer.boxes) {
        QCOMPARE(box.title, QString("error"));
        QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        shown << box.text;
    }
    QCOMPARE(shown, warnings);
    QCOMPARE(os.registerAttempts, AllCodes);
    QList<int> held = AllCodes;
    for (int code : failing)
        held.removeOne(code);
    QCOMPARE(os.registered, held);
    QVERIFY(os.unregistered.isEmpty());

    // Failures do not stop the window from being built and opened.
    QCOMPARE(window.windowTitle(), QString("Tessel V2.1"));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(answerer.boxes.size(), warnings.size());
}

void HotkeysTest::closeReleasesEveryKey_data()
{
    QTest::addColumn<QList<int>>("failing");
    QTest::newRow("all held") << QList<int>();
    QTest::newRow("F5 taken") << QList<int>{116};
    QTest::newRow("all taken") << AllCodes;
}

void HotkeysTest::closeReleasesEveryKey()
{
    QFETCH(QList<int>, failing);
    fakeplatform::State &os = fakeplatform::state();
    os.failingHotKeys = QSet<int>(failing.begin(), failing.end());
    ModalAnswerer answerer;
    TesselGui window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(os.unregistered.isEmpty());

    QVERIFY(window.close());
    QVERIFY(!window.isVisible());
    QCOMPARE(os.unregistered, AllCodes);
    QVERIFY(os.registered.isEmpty());
}

void HotkeysTest::closeIsNeverRefused()
{
    TesselGui window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCloseEvent event;
    event.ignore();
    QCoreApplication::sendEvent(&window, &event);
    QVERIFY(event.isAccepted());
    QCOMPARE(fakeplatform::state().unregistered, AllCodes);
}

QTEST_MAIN(HotkeysTest)
#include "tst_hotkeys.moc"
