#include "fakeplatform.h"
#include "hotkeys/nativeeventfilter.h"
#include "platform/platform.h"
#include "window/tesselgui.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

#include <memory>

namespace {
using KeyEvents = QList<QPair<int, unsigned long>>;
using Contents = QList<QPair<QString, QByteArray>>;

const UINT HotKeyMessage = 786;
const KeyEvents CtrlV = {{17, 0}, {86, 0}, {86, 2}, {17, 2}};
const char CustomFormat[] = "application/x-tessel-test";

Contents contents(const QMimeData *data)
{
    Contents result;
    const QStringList formats = data->formats();
    for (const QString &format : formats)
        result.append({format, data->data(format)});
    return result;
}

// Every cell's item object and text: a redrawn row gets new items.
QStringList tableCells(const QTableWidget *table)
{
    QStringList cells;
    for (int row = 0; row < table->rowCount(); ++row) {
        for (int col = 0; col < table->columnCount(); ++col) {
            const QTableWidgetItem *item = table->item(row, col);
            cells << QString("%1/%2 %3 %4")
                         .arg(row)
                         .arg(col)
                         .arg(quintptr(item), 0, 16)
                         .arg(item ? item->text() : QString());
        }
    }
    return cells;
}

void copy(const QString &text)
{
    QGuiApplication::clipboard()->setText(text);
}
} // namespace

class ReplayTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void nothingHappensWithoutAClip_data();
    void nothingHappensWithoutAClip();
    void replayPutsACopyThenPastes();
    void replayIsSkippedByCaptureButTheNextChangeIsNot_data();
    void replayIsSkippedByCaptureButTheNextChangeIsNot();
    void twoPressesPasteTwice();
    void replayWhilePausedPastesAndCapturesNothing();
    void imageReplaysAsImage();

private:
    bool press(WPARAM code);

    std::unique_ptr<NativeEventFilter> filter;
    std::unique_ptr<TesselGui> window;
    QTableWidget *table = nullptr;
    // The gate and the key events sent so far, as each clipboard change found them.
    QList<bool> gateAtChange;
    QList<int> keyEventsAtChange;
};

void ReplayTest::init()
{
    fakeplatform::reset();
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    gateAtChange.clear();
    keyEventsAtChange.clear();

    filter = std::make_unique<NativeEventFilter>();
    QCoreApplication::instance()->installNativeEventFilter(filter.get());
    window = std::make_unique<TesselGui>();
    table = window->findChild<QTableWidget *>();
    QVERIFY(table);
    // Connected ahead of the window, so it runs before the capture reloads the gate.
    connect(clipboard, &QClipboard::dataChanged, window.get(), [this] {
        gateAtChange.append(window->acceptsNextChange());
        keyEventsAtChange.append(fakeplatform::state().keyEvents.size());
    });
    QVERIFY(connect(clipboard, SIGNAL(dataChanged()), window.get(), SLOT(clipboardDataChanged())));
    QVERIFY(
        connect(filter.get(), SIGNAL(hotKeySignal(WPARAM)), window.get(), SLOT(getHotKey(WPARAM))));
}

void ReplayTest::cleanup()
{
    window.reset();
    filter.reset();
    QGuiApplication::clipboard()->clear();
}

bool ReplayTest::press(WPARAM code)
{
    // Field by field: the Windows MSG has more members than these.
    MSG msg{};
    msg.message = HotKeyMessage;
    msg.wParam = code;
    long answer = 0;
    QAbstractNativeEventFilter *installed = filter.get();
    return installed->nativeEventFilter("windows_generic_MSG", &msg, &answer);
}

void ReplayTest::nothingHappensWithoutAClip_data()
{
    QTest::addColumn<uint>("code");
    QTest::addColumn<int>("filled");
    QTest::newRow("unknown code 111") << 111u << 10;
    QTest::newRow("unknown code 122") << 122u << 10;
    QTest::newRow("F1, no clips") << 112u << 0;
    QTest::newRow("F5, four clips") << 116u << 4;
    QTest::newRow("F10, nine clips") << 121u << 9;
}

void ReplayTest::nothingHappensWithoutAClip()
{
    QFETCH(uint, code);
    QFETCH(int, filled);
    QClipboard *clipboard = QGuiApplication::clipboard();
    for (int i = 0; i < filled; ++i)
        copy(QString("clip %1").arg(i));
    const QMimeData *before = clipboard->mimeData();
    const QStringList cells = tableCells(table);
    QSignalSpy changes(clipboard, &QClipboard::dataChanged);

    // Straight to the slot: the filter would not pass an unknown code on.
    QVERIFY(QMetaObject::invokeMethod(window.get(), "getHotKey", Qt::DirectConnection,
                                      Q_ARG(WPARAM, WPARAM(code))));

    QCOMPARE(changes.count(), 0);
    QCOMPARE(clipboard->mimeData(), before);
    QVERIFY(fakeplatform::state().keyEvents.isEmpty());
    QVERIFY(window->acceptsNextChange());
    QCOMPARE(tableCells(table), cells);
}

void ReplayTest::replayPutsACopyThenPastes()
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    auto *source = new QMimeData;
    source->setData(CustomFormat, QByteArray("\x00\xff\x01 bytes", 9));
    source->setText("alpha");
    source->setHtml("<b>alpha</b>");
    clipboard->setMimeData(source);
    copy("beta");
    const QMimeData *stored = window->clip(0);
    QVERIFY(stored);
    const Contents clip = contents(stored);
    QCOMPARE(clip.size(), 3);
    QCOMPARE(clip[0].first, QString(CustomFormat));
    gateAtChange.clear();
    keyEventsAtChange.clear();
    QSignalSpy changes(clipboard, &QClipboard::dataChanged);

    QVERIFY(press(112));

    QCOMPARE(changes.count(), 1);
    // The gate was closed before the clipboard changed, and the paste came after it.
    QCOMPARE(gateAtChange, QList<bool>{false});
    QCOMPARE(keyEventsAtChange, QList<int>{0});
    QCOMPARE(fakeplatform::state().keyEvents, CtrlV);

    const QMimeData *onClipboard = clipboard->mimeData();
    QVERIFY(onClipboard);
    QVERIFY(onClipboard != stored);
    QCOMPARE(contents(onClipboard), clip);
    QCOMPARE(window->clip(0), stored);
    QCOMPARE(contents(stored), clip);
}

void ReplayTest::replayIsSkippedByCaptureButTheNextChangeIsNot_data()
{
    QTest::addColumn<int>("filled");
    QTest::addColumn<int>("nextCapture");
    QTest::newRow("free slots left") << 2 << 2;
    QTest::newRow("all slots full") << 10 << 0;
}

void ReplayTest::replayIsSkippedByCaptureButTheNextChangeIsNot()
{
    QFETCH(int, filled);
    QFETCH(int, nextCapture);
    QClipboard *clipboard = QGuiApplication::clipboard();
    for (int i = 0; i < filled; ++i)
        copy(QString("clip %1").arg(i));
    const QStringList cells = tableCells(table);
    const int cursor = window->writeCursor();

    QVERIFY(press(112));

    QCOMPARE(clipboard->text(), QString("clip 0"));
    QCOMPARE(tableCells(table), cells);
    QCOMPARE(window->writeCursor(), cursor);
    for (int slot = 0; slot < MaxClips; ++slot)
        QCOMPARE(window->clip(slot) != nullptr, slot < filled);
    QVERIFY(window->acceptsNextChange());

    copy("after the replay");
    QVERIFY(window->clip(nextCapture));
    QCOMPARE(window->clip(nextCapture)->text(), QString("after the replay"));
    QCOMPARE(table->item(nextCapture, 0)->text(), QString("after the replay"));
}

void ReplayTest::twoPressesPasteTwice()
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    copy("alpha");
    copy("beta");
    const QMimeData *stored = window->clip(1);
    const Contents clip = contents(stored);
    copy("gamma");
    const QStringList cells = tableCells(table);
    QSignalSpy changes(clipboard, &QClipboard::dataChanged);

    QVERIFY(press(113));
    QVERIFY(press(113));

    QCOMPARE(changes.count(), 2);
    QCOMPARE(fakeplatform::state().keyEvents, CtrlV + CtrlV);
    QCOMPARE(clipboard->text(), QString("beta"));
    QVERIFY(clipboard->mimeData() != stored);
    QCOMPARE(window->clip(1), stored);
    QCOMPARE(contents(stored), clip);
    QCOMPARE(tableCells(table), cells);
    QVERIFY(!window->clip(3));
    QVERIFY(window->acceptsNextChange());
}

void ReplayTest::replayWhilePausedPastesAndCapturesNothing()
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    copy("alpha");
    QPushButton *collect = nullptr;
    for (QPushButton *b : window->findChildren<QPushButton *>()) {
        if (b->text() == "Stop collecting")
            collect = b;
    }
    QVERIFY(collect);
    collect->click();
    copy("while paused");
    QVERIFY(!window->clip(1));
    const QStringList cells = tableCells(table);
    QSignalSpy changes(clipboard, &QClipboard::dataChanged);

    QVERIFY(press(112));

    QCOMPARE(changes.count(), 1);
    QCOMPARE(clipboard->text(), QString("alpha"));
    QCOMPARE(fakeplatform::state().keyEvents, CtrlV);
    QCOMPARE(tableCells(table), cells);
    QVERIFY(!window->isCollecting());
    QVERIFY(!window->acceptsNextChange());
    copy("still paused");
    QVERIFY(!window->clip(1));
}

void ReplayTest::imageReplaysAsImage()
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    QImage image(3, 2, QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgba(40 * x, 100 * y, 7, 255 - 30 * x));
    }
    clipboard->setImage(image);
    QVERIFY(window->clip(0));
    copy("text on top");

    QVERIFY(press(112));

    const QMimeData *onClipboard = clipboard->mimeData();
    QVERIFY(onClipboard);
    QCOMPARE(onClipboard->formats(), QStringList{"application/x-qt-image"});
    const QVariant value = onClipboard->imageData();
    QCOMPARE(value.userType(), int(QMetaType::QImage));
    QCOMPARE(value.value<QImage>(), image);
    QCOMPARE(fakeplatform::state().keyEvents, CtrlV);
    QVERIFY(!window->clip(2));
}

QTEST_MAIN(ReplayTest)
#include "tst_replay.moc"
