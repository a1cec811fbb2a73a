#include "platform/platform.h"

#include <QByteArray>
#include <QPixmap>
#include <QtTest>

#include <xcb/xcb.h>

// The real X11 backend away from an X server (offscreen, as on Wayland without XWayland):
// everything must fail cleanly, nothing may crash.
class PlatformTest : public QObject {
    Q_OBJECT

private slots:
    void moduleHandleIsNeverNull();
    void deleteIconIsTheRedX();
    void withoutX11HotKeysFailCleanly();
    void onlyGrabbedKeyPressesAreHotKeys_data();
    void onlyGrabbedKeyPressesAreHotKeys();
};

void PlatformTest::moduleHandleIsNeverNull()
{
    QVERIFY(platform::moduleHandle());
    QCOMPARE(platform::moduleHandle(), platform::moduleHandle());
}

void PlatformTest::deleteIconIsTheRedX()
{
    const QPixmap icon = platform::loadIcon(platform::moduleHandle(), 4);
    QCOMPARE(icon.size(), QSize(32, 32));
    const QImage image = icon.toImage();
    QCOMPARE(QColor(image.pixel(16, 16)), QColor(Qt::red));
    QCOMPARE(QColor(image.pixel(16, 1)), QColor(Qt::white));
    QVERIFY(!image.hasAlphaChannel() || image.pixelColor(0, 0).alpha() == 255);
    QVERIFY(platform::loadIcon(platform::moduleHandle(), 5).isNull());
}

void PlatformTest::withoutX11HotKeysFailCleanly()
{
    for (UINT code = 112; code <= 121; ++code)
        QVERIFY(!platform::registerHotKey(0, int(code), 0, code));
    for (int code = 112; code <= 121; ++code)
        platform::unregisterHotKey(0, code);
    platform::keyEvent(17, platform::KeyPress);
    platform::keyEvent(86, platform::KeyPress);
    platform::keyEvent(86, platform::KeyRelease);
    platform::keyEvent(17, platform::KeyRelease);
}

void PlatformTest::onlyGrabbedKeyPressesAreHotKeys_data()
{
    QTest::addColumn<QByteArray>("eventType");
    QTest::addColumn<int>("responseType");
    QTest::newRow("key press, nothing grabbed") << QByteArray("xcb_generic_event_t") << 2;
    QTest::newRow("key release") << QByteArray("xcb_generic_event_t") << 3;
    QTest::newRow("motion") << QByteArray("xcb_generic_event_t") << 6;
    QTest::newRow("windows message type") << QByteArray("windows_generic_MSG") << 2;
}

void PlatformTest::onlyGrabbedKeyPressesAreHotKeys()
{
    QFETCH(QByteArray, eventType);
    QFETCH(int, responseType);
    for (int keycode = 0; keycode < 256; ++keycode) {
        xcb_key_press_event_t event{};
        event.response_type = uint8_t(responseType);
        event.detail = xcb_keycode_t(keycode);
        MSG translated{};
        QVERIFY(!platform::translateNativeEvent(eventType, &event, &translated));
    }
}

QTEST_MAIN(PlatformTest)
#include "tst_platform.moc"
