#include "fakeplatform.h"
#include "hotkeys/nativeeventfilter.h"
#include "testsupport.h"
#include "window/clipdelegate.h"
#include "window/tesselgui.h"

#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTableWidget>
#include <QTextDocumentFragment>
#include <QToolTip>
#include <QtTest>

#include <memory>

namespace {
const QString Title = QStringLiteral("Tessel V" TESSEL_VERSION);
const QString Header =
    QStringLiteral("The following is not the content, but the format of what is copied:\r\n");
const QString ImageFormat = QStringLiteral("application/x-qt-image");
const QChar Ellipsis(0x2026);
const int EmptyAll = MaxClips; // stands for the Empty button where a column is expected
const QList<int> AllCodes = {112, 113, 114, 115, 116, 117, 118, 119, 120, 121};

QMimeData *imageData(const QSize &size, const QString &text = QString())
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(Qt::blue);
    auto *data = new QMimeData;
    data->setImageData(image);
    if (!text.isEmpty())
        data->setText(text);
    return data;
}

void copy(const QString &text)
{
    QGuiApplication::clipboard()->setText(text);
}

void copy(QMimeData *data)
{
    QGuiApplication::clipboard()->setMimeData(data);
}

// What the user reads in a tooltip built from rich text.
QString shownTip()
{
    return QTextDocumentFragment::fromHtml(QToolTip::text()).toPlainText();
}
} // namespace

// The window as the user meets it: its rows, controls, hotkeys and replay, wired as the
// program wires them, on the fake platform.
class WindowTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void freshWindowLooksAsDesigned();
    void deleteCellAndEmptyClearRows_data();
    void deleteCellAndEmptyClearRows();
    void collectToggleDecidesByState_data();
    void collectToggleDecidesByState();
    void stayOnTopFollowsCheckBox();
    void missingResourcesWarnAndCarryOn();
    void textRow_data();
    void textRow();
    void imageRow_data();
    void imageRow();
    void formatsRowListsFormatsInOrder();
    void tooltipShowsPlainBoundedText_data();
    void tooltipShowsPlainBoundedText();
    void tooltipShowsWhileAnotherWindowIsActive();
    void shownTextKeepsCharactersWhole();
    void hotKeyPastesACopyOfItsSlot();
    void keysWithoutAClipDoNothing_data();
    void keysWithoutAClipDoNothing();
    void registrationWarnsPerFailedKey_data();
    void registrationWarnsPerFailedKey();
    void closeReleasesEveryKey();
    void latePressIsSwallowedWithoutPasting();
    void desktopShortcutPastesAsItsKey();

private:
    void show();
    bool press(WPARAM code);
    QString cell(int row, int col) const;
    QStringList rows() const;
    QPushButton *button(const QString &text) const;

    std::unique_ptr<NativeEventFilter> filter;
    std::unique_ptr<TesselGui> window;
    QTableWidget *table = nullptr;
};

void WindowTest::init()
{
    fakeplatform::reset();
    QGuiApplication::clipboard()->clear();
    filter = std::make_unique<NativeEventFilter>();
    QCoreApplication::instance()->installNativeEventFilter(filter.get());
    window = std::make_unique<TesselGui>();
    table = window->findChild<QTableWidget *>();
    QVERIFY(table);
    QClipboard *clipboard = QGuiApplication::clipboard();
    QVERIFY(connect(clipboard, SIGNAL(dataChanged()), window.get(), SLOT(clipboardDataChanged())));
    QVERIFY(
        connect(filter.get(), SIGNAL(hotKeySignal(WPARAM)), window.get(), SLOT(getHotKey(WPARAM))));
}

void WindowTest::cleanup()
{
    QToolTip::hideText();
    window.reset();
    filter.reset();
    QGuiApplication::clipboard()->clear();
}

void WindowTest::show()
{
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
}

bool WindowTest::press(WPARAM code)
{
    return filter->nativeEventFilter(fakeplatform::KeyPressEvent, &code, nullptr);
}

QString WindowTest::cell(int row, int col) const
{
    const QTableWidgetItem *item = table->item(row, col);
    return item ? item->text() : QStringLiteral("<no item>");
}

// Everything a row shows: texts, tooltip, whether it has a preview and a delete icon, height.
QStringList WindowTest::rows() const
{
    QStringList state;
    for (int i = 0; i < MaxClips; ++i) {
        const QTableWidgetItem *content = table->item(i, 0);
        const QTableWidgetItem *del = table->item(i, 2);
        state << QString("%1|%2|%3|%4|%5|%6")
                     .arg(cell(i, 0), cell(i, 1), content ? content->toolTip() : QString())
                     .arg(content && !content->icon().isNull())
                     .arg(del && !del->icon().isNull())
                     .arg(table->rowHeight(i));
    }
    return state;
}

QPushButton *WindowTest::button(const QString &text) const
{
    for (QPushButton *b : window->findChildren<QPushButton *>()) {
        if (b->text() == text)
            return b;
    }
    return nullptr;
}

void WindowTest::freshWindowLooksAsDesigned()
{
    // The offscreen platform's fonts are wider than a desktop's, so the size is the one the
    // constructor sets; the end-to-end test checks it on a real display.
    QCOMPARE(window->size(), QSize(550, 420));
    show();
    QCOMPARE(window->windowTitle(), Title);
    QCOMPARE(table->rowCount(), 10);
    QCOMPARE(table->columnCount(), 3);
    QStringList headers;
    for (int col = 0; col < 3; ++col)
        headers << table->horizontalHeaderItem(col)->text();
    QCOMPARE(headers, QStringList({"content", "shortcut", "delete"}));
    QCOMPARE(table->columnWidth(0), 300);
    QVERIFY(!table->verticalHeader()->isVisible());
    for (int row = 0; row < 10; ++row)
        QCOMPARE(cell(row, 0) + cell(row, 1) + cell(row, 2), QString("<no item>").repeated(3));

    QPushButton *empty = button("Empty");
    QPushButton *collect = button("Stop collecting");
    auto *check = window->findChild<QCheckBox *>();
    QVERIFY(empty && collect && check);
    QCOMPARE(empty->toolTip(), QString("Empty all stored clips."));
    QCOMPARE(collect->toolTip(),
             QString("Start/Stop collecting data from clipboard.\r\n"
                     "At most 10 clips can be stored. Collecting more data will override the "
                     "previous ones.\r\n"
                     "You can click this button to stop collecting data to avoid this to happen."));
    QCOMPARE(check->text(), QString("make the window always stay on top"));
    QVERIFY(!check->isChecked());
    // Left to right under the table.
    QVERIFY(empty->x() < check->x());
    QVERIFY(check->x() < collect->x());
    QVERIFY(empty->y() > table->y());

    // Cells cannot be edited.
    copy("hello");
    const QRect first = table->visualRect(table->model()->index(0, 0));
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, first.center());
    QTest::keyClicks(table->viewport(), "typed");
    QVERIFY(table->viewport()->findChildren<QLineEdit *>().isEmpty());
    QCOMPARE(cell(0, 0), QString("hello"));
}

void WindowTest::deleteCellAndEmptyClearRows_data()
{
    QTest::addColumn<int>("column"); // clicked in row 3, or EmptyAll
    QTest::addColumn<QList<int>>("cleared");
    QTest::newRow("content cell") << 0 << QList<int>();
    QTest::newRow("shortcut cell") << 1 << QList<int>();
    QTest::newRow("delete cell") << 2 << QList<int>{3};
    QTest::newRow("Empty") << EmptyAll << QList<int>{0, 1, 2, 3};
}

void WindowTest::deleteCellAndEmptyClearRows()
{
    QFETCH(int, column);
    QFETCH(QList<int>, cleared);
    for (int i = 0; i < 4; ++i)
        copy(QString("clip %1").arg(i));
    show();
    QStringList expected = rows();
    for (int row : cleared)
        expected[row] = QString("|||0|0|%1").arg(table->rowHeight(row));

    if (column == EmptyAll) {
        button("Empty")->click();
    } else {
        const QRect rect = table->visualRect(table->model()->index(3, column));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, rect.center());
    }
    QCOMPARE(rows(), expected);
    // A row that never held a clip keeps no items; clearing it again changes nothing.
    const QRect rect = table->visualRect(table->model()->index(5, 2));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, rect.center());
    button("Empty")->click();
    QCOMPARE(cell(5, 0), QString("<no item>"));

    // A cleared slot pastes nothing.
    for (int row : cleared)
        QVERIFY(press(WPARAM(AllCodes[row])));
    QCOMPARE(fakeplatform::state().pastes, 0);
}

void WindowTest::collectToggleDecidesByState_data()
{
    QTest::addColumn<QString>("style"); // what a desktop may do to the label
    QTest::newRow("plain label") << QString();
    QTest::newRow("accelerator added") << QString("&");
}

void WindowTest::collectToggleDecidesByState()
{
    QFETCH(QString, style);
    QPushButton *collect = button("Stop collecting");
    QVERIFY(collect);
    collect->setText(style + collect->text());
    collect->click();
    QCOMPARE(collect->text(), QString("Collect"));
    copy("while paused");
    QCOMPARE(cell(0, 0), QString("<no item>"));

    collect->setText(style + collect->text());
    collect->click();
    QCOMPARE(collect->text(), QString("Stop collecting"));
    copy("resumed");
    QCOMPARE(cell(0, 0), QString("resumed"));
}

void WindowTest::stayOnTopFollowsCheckBox()
{
    show();
    auto *check = window->findChild<QCheckBox *>();
    check->setChecked(true);
    QVERIFY(window->windowFlags() & Qt::WindowStaysOnTopHint);
    QVERIFY(window->isVisible());
    check->setChecked(false);
    QVERIFY(!(window->windowFlags() & Qt::WindowStaysOnTopHint));
    QVERIFY(window->isVisible());
}

void WindowTest::missingResourcesWarnAndCarryOn()
{
    window.reset();
    fakeplatform::reset();
    fakeplatform::state().noResources = true;
    ModalAnswerer answerer;
    window = std::make_unique<TesselGui>();
    QCOMPARE(answerer.boxes.size(), 1);
    QCOMPARE(answerer.boxes[0].title, QString("error"));
    QCOMPARE(answerer.boxes[0].text, QString("Can not get hInstance"));
    QCOMPARE(answerer.boxes[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    // Built all the same, hotkeys included; rows just lack the delete icon.
    QCOMPARE(fakeplatform::state().registered, AllCodes);
    QClipboard *clipboard = QGuiApplication::clipboard();
    QVERIFY(connect(clipboard, SIGNAL(dataChanged()), window.get(), SLOT(clipboardDataChanged())));
    table = window->findChild<QTableWidget *>();
    copy("text");
    QCOMPARE(cell(0, 0), QString("text"));
    QVERIFY(table->item(0, 2)->icon().isNull());
}

void WindowTest::textRow_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("words") << "hello world";
    QTest::newRow("blanks only") << "   ";
    QTest::newRow("lines") << "one\r\ntwo\n";
}

void WindowTest::textRow()
{
    QFETCH(QString, text);
    const int height = table->rowHeight(0);
    const QSize iconSize = table->iconSize();
    copy(text);
    QCOMPARE(rows().first(), QString("%1|F1|%1|0|1|%2").arg(text).arg(height));
    QCOMPARE(table->iconSize(), iconSize);
}

void WindowTest::imageRow_data()
{
    QTest::addColumn<QSize>("imageSize");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QSize>("preview"); // invalid: the cell shows the text, nothing resized

    QTest::newRow("small image enlarged") << QSize(20, 10) << QString() << QSize(256, 128);
    QTest::newRow("large image reduced") << QSize(1000, 2000) << QString() << QSize(64, 128);
    QTest::newRow("very wide image bounded") << QSize(16000, 1) << QString() << QSize(1024, 1);
    QTest::newRow("image and text: text wins") << QSize(20, 10) << "caption" << QSize();
}

void WindowTest::imageRow()
{
    QFETCH(QSize, imageSize);
    QFETCH(QString, text);
    QFETCH(QSize, preview);

    const int height = table->rowHeight(0);
    const QSize iconSize = table->iconSize();
    QVERIFY(height != 128);
    copy(imageData(imageSize, text));
    const QTableWidgetItem *item = table->item(0, 0);
    if (preview.isValid()) {
        QCOMPARE(item->icon().availableSizes(), QList<QSize>{preview});
        QCOMPARE(item->text(), Header + ImageFormat + "\r\n");
        QCOMPARE(item->toolTip(), QString());
        QCOMPARE(table->rowHeight(0), 128);
        QCOMPARE(table->iconSize(), QSize(128, 128));

        // The row stays tall once a text replaces the image, and once it is emptied.
        for (int i = 1; i <= MaxClips; ++i)
            copy(QString("text %1").arg(i));
        QCOMPARE(cell(0, 0), QString("text 10"));
        button("Empty")->click();
        QCOMPARE(table->rowHeight(0), 128);
        QCOMPARE(table->rowHeight(1), height);
    } else {
        QVERIFY(item->icon().isNull());
        QCOMPARE(item->text(), text);
        QCOMPARE(table->rowHeight(0), height);
        QCOMPARE(table->iconSize(), iconSize);
    }
}

void WindowTest::formatsRowListsFormatsInOrder()
{
    auto *data = new QMimeData;
    data->setData("B/y", "second");
    data->setData("A/x", "first");
    copy(data);
    QCOMPARE(cell(0, 0), Header + "B/y\r\nA/x\r\n");
    QCOMPARE(table->item(0, 0)->toolTip(), QString());
}

void WindowTest::tooltipShowsPlainBoundedText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("seen"); // empty: no tooltip

    const QString markup = "<b>x</b> & <img src=\"file:///etc/hostname\"> <a href=\"y\">z</a>";
    QTest::newRow("markup as text") << markup << markup;
    QTest::newRow("CR LF line ends, one break each") << "one\r\ntwo\rthree"
                                                     << "one\ntwo\nthree";
    QStringList lines;
    for (int i = 0; i < 100; ++i)
        lines << QString("line %1").arg(i);
    QTest::newRow("many lines") << lines.join('\n') << lines.mid(0, 25).join('\n') + Ellipsis;
    const QString big = markup + QString(20 * 1024 * 1024, QLatin1Char('a'));
    QTest::newRow("20 MiB") << big << big.left(1000) + Ellipsis;
    QTest::newRow("image, no text") << QString() << QString();
}

void WindowTest::tooltipShowsPlainBoundedText()
{
    QFETCH(QString, text);
    QFETCH(QString, seen);

    if (text.isEmpty())
        copy(imageData(QSize(20, 10)));
    else
        copy(text);
    // The cell paints a bounded head of the text.
    auto *delegate = qobject_cast<ClipDelegate *>(table->itemDelegate());
    QVERIFY(delegate);
    QVERIFY(delegate->displayText(table->item(0, 0)->text(), QLocale()).size() <= 1000);

    show();
    const QPoint pos = table->visualRect(table->model()->index(0, 0)).center();
    QHelpEvent event(QEvent::ToolTip, pos, table->viewport()->mapToGlobal(pos));
    QApplication::sendEvent(table->viewport(), &event);
    if (seen.isEmpty()) {
        QTRY_VERIFY(!QToolTip::isVisible());
    } else {
        QVERIFY(QToolTip::isVisible());
        QCOMPARE(shownTip(), seen);
    }
    // The clip keeps the whole text: a paste gives it back.
    QVERIFY(press(112));
    QVERIFY(QGuiApplication::clipboard()->text() == text);
}

void WindowTest::tooltipShowsWhileAnotherWindowIsActive()
{
    copy("hover me");
    show();
    QWidget other;
    other.show();
    other.activateWindow();
    QTRY_VERIFY(!window->isActiveWindow());
    // Hovered as by the pointer: Qt wakes tooltips from a real mouse move only.
    const QPoint pos = table->visualRect(table->model()->index(0, 0)).center();
    QTest::mouseMove(window->windowHandle(), table->viewport()->mapTo(window.get(), pos));
    QTRY_VERIFY(QToolTip::isVisible());
    QCOMPARE(shownTip(), QString("hover me"));
}

void WindowTest::shownTextKeepsCharactersWhole()
{
    // One letter, then characters outside the BMP: any even cut splits a surrogate pair.
    QString text = QStringLiteral("a");
    for (int i = 0; i < 2000; ++i)
        text += QString::fromUcs4(U"\U0001F600");
    for (int max : {2, 11, 300, 301}) {
        const QString shown = ClipDelegate::shownText(text, max, 8);
        QVERIFY(shown.size() <= max + 1);
        QVERIFY(shown.endsWith(Ellipsis));
        const QString head = shown.chopped(1);
        QVERIFY(text.startsWith(head));
        QVERIFY2(!head.at(head.size() - 1).isHighSurrogate(), qPrintable(QString::number(max)));
    }
}

void WindowTest::hotKeyPastesACopyOfItsSlot()
{
    auto *data = imageData(QSize(20, 10));
    data->setData("A/x", QByteArray("\0a\xff", 3));
    copy(data);
    copy("second");
    const QStringList before = rows();
    QClipboard *clipboard = QGuiApplication::clipboard();
    QSignalSpy changes(clipboard, &QClipboard::dataChanged);

    for (WPARAM code : {113, 112, 112}) {
        QVERIFY(press(code));
        // A fresh copy each time, the stored clip untouched.
        if (code == 113) {
            QCOMPARE(clipboard->text(), QString("second"));
        } else {
            QCOMPARE(clipboard->mimeData()->formats(), QStringList({ImageFormat, "A/x"}));
            QCOMPARE(clipboard->image().size(), QSize(20, 10));
            QCOMPARE(clipboard->mimeData()->data("A/x"), QByteArray("\0a\xff", 3));
        }
    }
    QCOMPARE(fakeplatform::state().pastes, 3);
    QCOMPARE(changes.size(), 3);
    // The program's own changes take no slot; the next real one does.
    QCOMPARE(rows(), before);
    copy("third");
    QCOMPARE(cell(2, 0), QString("third"));

    // Pasting while paused still pastes, and captures nothing.
    button("Stop collecting")->click();
    QVERIFY(press(113));
    copy("while paused");
    QCOMPARE(fakeplatform::state().pastes, 4);
    QCOMPARE(cell(3, 0), QString("<no item>"));
}

void WindowTest::keysWithoutAClipDoNothing_data()
{
    QTest::addColumn<uint>("code");
    QTest::addColumn<int>("filled");
    QTest::addColumn<bool>("consumed");
    QTest::newRow("unknown code 111") << 111u << 10 << false;
    QTest::newRow("unknown code 122") << 122u << 10 << false;
    QTest::newRow("F1, no clips") << 112u << 0 << true;
    QTest::newRow("F10, nine clips") << 121u << 9 << true;
}

void WindowTest::keysWithoutAClipDoNothing()
{
    QFETCH(uint, code);
    QFETCH(int, filled);
    QFETCH(bool, consumed);
    for (int i = 0; i < filled; ++i)
        copy(QString("clip %1").arg(i));
    QSignalSpy changes(QGuiApplication::clipboard(), &QClipboard::dataChanged);
    QCOMPARE(press(code), consumed);
    QCOMPARE(changes.size(), 0);
    QCOMPARE(fakeplatform::state().pastes, 0);
    // The gate was left open.
    copy("next");
    QCOMPARE(cell(filled % MaxClips, 0), QString("next"));
}

void WindowTest::registrationWarnsPerFailedKey_data()
{
    QTest::addColumn<QList<int>>("failing");
    QTest::addColumn<QStringList>("warnings");
    QStringList allWarnings;
    for (int n = 1; n <= 10; ++n)
        allWarnings << QString("Can not register F%1.").arg(n);
    QTest::newRow("F5 taken") << QList<int>{116} << QStringList{"Can not register F5."};
    QTest::newRow("F1 and F10 taken")
        << QList<int>{121, 112} << QStringList{"Can not register F1.", "Can not register F10."};
    QTest::newRow("all taken") << AllCodes << allWarnings;
}

void WindowTest::registrationWarnsPerFailedKey()
{
    QFETCH(QList<int>, failing);
    QFETCH(QStringList, warnings);
    window.reset();
    fakeplatform::reset();
    fakeplatform::State &os = fakeplatform::state();
    os.failingHotKeys = QSet<int>(failing.begin(), failing.end());

    ModalAnswerer answerer;
    TesselGui failed;
    QStringList shown;
    for (const ModalAnswerer::Box &box : answerer.boxes) {
        QCOMPARE(box.title, QString("error"));
        QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        shown << box.text;
    }
    QCOMPARE(shown, warnings);
    QList<int> held = AllCodes;
    for (int code : failing)
        held.removeOne(code);
    QCOMPARE(os.registered, held);
}

void WindowTest::closeReleasesEveryKey()
{
    show();
    QVERIFY(fakeplatform::state().unregistered.isEmpty());
    // The close is never refused.
    QCloseEvent event;
    event.ignore();
    QCoreApplication::sendEvent(window.get(), &event);
    QVERIFY(event.isAccepted());
    QCOMPARE(fakeplatform::state().unregistered, AllCodes);
    QVERIFY(fakeplatform::state().registered.isEmpty());
}

void WindowTest::latePressIsSwallowedWithoutPasting()
{
    copy("clip");
    QSignalSpy changes(QGuiApplication::clipboard(), &QClipboard::dataChanged);
    WPARAM code = 112;
    // Still our key: passed on, it would reach whatever window has the focus by now.
    QVERIFY(filter->nativeEventFilter(fakeplatform::LateKeyPressEvent, &code, nullptr));
    QCOMPARE(fakeplatform::state().pastes, 0);
    QCOMPARE(changes.size(), 0);
    // The next press made in time pastes as ever.
    QVERIFY(press(code));
    QCOMPARE(fakeplatform::state().pastes, 1);
    QCOMPARE(QGuiApplication::clipboard()->text(), QString("clip"));
}

void WindowTest::desktopShortcutPastesAsItsKey()
{
    copy("first");
    copy("second");
    QVERIFY(fakeplatform::state().desktopPress);
    // F2 through the desktop's shortcut: slot 2, as the key pressed here would paste.
    fakeplatform::state().desktopPress(113);
    QCOMPARE(fakeplatform::state().pastes, 1);
    QCOMPARE(QGuiApplication::clipboard()->text(), QString("second"));
    // A code that names no slot key pastes nothing.
    fakeplatform::state().desktopPress(122);
    QCOMPARE(fakeplatform::state().pastes, 1);
    // Once the filter is gone, so are the reports: nothing is left to call.
    filter.reset();
    QVERIFY(!fakeplatform::state().desktopPress);
}

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
