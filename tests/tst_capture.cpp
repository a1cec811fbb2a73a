#include "fakeplatform.h"
#include "window/clipdelegate.h"
#include "window/tesselgui.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QTextDocumentFragment>
#include <QToolTip>
#include <QtTest>

#include <memory>

namespace {
const QString Header =
    QStringLiteral("The following is not the content, but the format of what is copied:\r\n");
const QString ImageFormat = QStringLiteral("application/x-qt-image");
const QString KdeHint = QStringLiteral("x-kde-passwordManagerHint");
const QString ExcludeFormat = QStringLiteral(
    "application/x-qt-windows-mime;value=\"ExcludeClipboardContentFromMonitorProcessing\"");
const QString HistoryFormat =
    QStringLiteral("application/x-qt-windows-mime;value=\"CanIncludeInClipboardHistory\"");
const QStringList ProtocolTargets = {"TARGETS",        "MULTIPLE", "TIMESTAMP",
                                     "SAVE_TARGETS",   "DELETE",   "INSERT_SELECTION",
                                     "INSERT_PROPERTY"};
const QChar Ellipsis(0x2026);
const int EmptyAll = 10; // stands for the Empty button where a row number is expected

// Data as a clipboard owner offers it: the formats it lists, in its order, and the bytes it
// answers for each; a listed format without an answer is refused (an empty QVariant).
class OwnerData : public QMimeData {
public:
    OwnerData(const QStringList &formats, const QMap<QString, QByteArray> &answers)
        : listed(formats), answers(answers)
    {
    }
    QStringList formats() const override { return listed; }
    bool hasFormat(const QString &format) const override { return listed.contains(format); }

protected:
    QVariant retrieveData(const QString &format, QVariant::Type) const override
    {
        return answers.contains(format) ? QVariant(answers.value(format)) : QVariant();
    }

private:
    QStringList listed;
    QMap<QString, QByteArray> answers;
};

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

QString description(const QStringList &formats)
{
    return Header + formats.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n");
}

// What the user reads in a tooltip built from rich text.
QString shownTip()
{
    return QTextDocumentFragment::fromHtml(QToolTip::text()).toPlainText();
}
} // namespace

class CaptureTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void slotOrderAndCursor_data();
    void slotOrderAndCursor();
    void gate_data();
    void gate();
    void replaysOwnChangeIsNotCaptured();
    void textCell_data();
    void textCell();
    void imageCell_data();
    void imageCell();
    void previewRowStaysTall_data();
    void previewRowStaysTall();
    void descriptionListsFormatsInOrder();
    void clipOutlivesClipboardData();
    void cloneIsIndependentEqualCopy();
    void emptyChangeTakesNoSlot_data();
    void emptyChangeTakesNoSlot();
    void protocolTargetsAreNotData();
    void markedSecretsAreSkipped_data();
    void markedSecretsAreSkipped();
    void bigTextIsKeptWholeAndShownBounded();
    void tooltipShowsPlainBoundedText_data();
    void tooltipShowsPlainBoundedText();
    void shownTextKeepsCharactersWhole();
    void unusualFormatNamesKeptVerbatim();
    void hundredsOfFormatsKeptInOrder();
    void imageThatCannotBeHadShowsDescription_data();
    void imageThatCannotBeHadShowsDescription();
    void refusedAndEmptyFormatsKeptEmpty();

private:
    void copy(const QString &text) { QGuiApplication::clipboard()->setText(text); }
    void copy(QMimeData *data) { QGuiApplication::clipboard()->setMimeData(data); }
    void fillAllSlots();
    void hoverContent(int row);
    QPushButton *button(const QString &text) const;
    QString cell(int row, int col) const;
    QString clipText(int slot) const;
    QStringList snapshot() const;

    std::unique_ptr<TesselGui> window;
    QTableWidget *table = nullptr;
    int defaultRowHeight = 0;
    QSize defaultIconSize;
};

void CaptureTest::init()
{
    fakeplatform::reset();
    window = std::make_unique<TesselGui>();
    table = window->findChild<QTableWidget *>();
    QVERIFY(table);
    defaultRowHeight = table->rowHeight(0);
    defaultIconSize = table->iconSize();
    QVERIFY(defaultRowHeight != 128);
    QVERIFY(defaultIconSize != QSize(128, 128));
    connect(QGuiApplication::clipboard(), SIGNAL(dataChanged()), window.get(),
            SLOT(clipboardDataChanged()));
}

void CaptureTest::cleanup()
{
    QToolTip::hideText();
    window.reset();
    QGuiApplication::clipboard()->clear();
}

void CaptureTest::fillAllSlots()
{
    for (int i = 0; i < MaxClips; ++i)
        copy(QString("full %1").arg(i));
}

void CaptureTest::hoverContent(int row)
{
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    const QPoint pos = table->visualRect(table->model()->index(row, 0)).center();
    QHelpEvent event(QEvent::ToolTip, pos, table->viewport()->mapToGlobal(pos));
    QApplication::sendEvent(table->viewport(), &event);
}

QPushButton *CaptureTest::button(const QString &text) const
{
    for (QPushButton *b : window->findChildren<QPushButton *>()) {
        if (b->text() == text)
            return b;
    }
    return nullptr;
}

QString CaptureTest::cell(int row, int col) const
{
    const QTableWidgetItem *item = table->item(row, col);
    return item ? item->text() : QStringLiteral("<no item>");
}

QString CaptureTest::clipText(int slot) const
{
    const QMimeData *clip = window->clip(slot);
    return clip ? QString::fromUtf8(clip->data("text/plain")) : QStringLiteral("<empty>");
}

// Everything a change could disturb: clips, cells, tooltips, row heights, icon size, cursor.
QStringList CaptureTest::snapshot() const
{
    QStringList state;
    for (int i = 0; i < MaxClips; ++i) {
        const QMimeData *clip = window->clip(i);
        state << QString("%1|%2|%3|%4|%5|%6|%7")
                     .arg(clipText(i))
                     .arg(clip ? clip->formats().join(',') : QString())
                     .arg(cell(i, 0))
                     .arg(cell(i, 1))
                     .arg(table->item(i, 0) ? table->item(i, 0)->toolTip() : QString())
                     .arg(table->item(i, 2) && !table->item(i, 2)->icon().isNull())
                     .arg(table->rowHeight(i));
    }
    state << QString("icons %1x%2").arg(table->iconSize().width()).arg(table->iconSize().height());
    state << QString("cursor %1").arg(window->writeCursor());
    return state;
}

void CaptureTest::slotOrderAndCursor_data()
{
    QTest::addColumn<int>("before");           // copies made first
    QTest::addColumn<int>("cleared");          // row deleted then, EmptyAll, or -1
    QTest::addColumn<QVector<int>>("landing"); // where each following copy lands
    QTest::addColumn<QVector<int>>("cursors"); // the write cursor after it

    QTest::newRow("ten fill from the top")
        << 0 << -1 << QVector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9} << QVector<int>(10, 0);
    QTest::newRow("overwrite in turn and wrap")
        << 10 << -1 << QVector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0}
        << QVector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 1};
    QTest::newRow("deleted slot reused, cursor kept")
        << 12 << 5 << QVector<int>{5, 2} << QVector<int>{2, 3};
    QTest::newRow("after Empty fill from 0, then resume at cursor")
        << 13 << EmptyAll << QVector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 3}
        << QVector<int>{3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 4};
}

void CaptureTest::slotOrderAndCursor()
{
    QFETCH(int, before);
    QFETCH(int, cleared);
    QFETCH(QVector<int>, landing);
    QFETCH(QVector<int>, cursors);

    for (int i = 0; i < before; ++i)
        copy(QString("before %1").arg(i));
    if (cleared == EmptyAll)
        button("Empty")->click();
    else if (cleared >= 0)
        emit table->cellClicked(cleared, 2);

    for (int k = 0; k < landing.size(); ++k) {
        const int s = landing[k];
        const QString text = QString("copy %1").arg(k);
        QStringList expected = snapshot();
        copy(text);
        QStringList after = snapshot();
        QCOMPARE(clipText(s), text);
        QCOMPARE(cell(s, 0), text);
        QCOMPARE(table->item(s, 0)->toolTip(), text);
        QCOMPARE(cell(s, 1), QString("F%1").arg(s + 1));
        QCOMPARE(cell(s, 2), QString());
        QVERIFY(!table->item(s, 2)->icon().isNull());
        QCOMPARE(window->writeCursor(), cursors[k]);
        // No other slot or row changed.
        expected.removeAt(s);
        after.removeAt(s);
        expected.removeLast();
        after.removeLast();
        QCOMPARE(after, expected);
    }
}

void CaptureTest::gate_data()
{
    QTest::addColumn<bool>("pause");     // the collect button was clicked
    QTest::addColumn<bool>("closeGate"); // a replay cleared the gate, its change not yet seen
    QTest::addColumn<int>("changes");
    QTest::addColumn<int>("skipped"); // how many of the changes leave everything as it was
    QTest::addColumn<bool>("acceptAfter");

    QTest::newRow("collecting, open") << false << false << 2 << 0 << true;
    QTest::newRow("collecting, closed") << false << true << 2 << 1 << true;
    QTest::newRow("paused") << true << false << 25 << 25 << false;
}

void CaptureTest::gate()
{
    QFETCH(bool, pause);
    QFETCH(bool, closeGate);
    QFETCH(int, changes);
    QFETCH(int, skipped);
    QFETCH(bool, acceptAfter);

    copy("origin");
    if (pause)
        button("Stop collecting")->click();
    if (closeGate) {
        const QSignalBlocker blocker(QGuiApplication::clipboard());
        QVERIFY(QMetaObject::invokeMethod(window.get(), "getHotKey", Qt::DirectConnection,
                                          Q_ARG(WPARAM, 112)));
        QVERIFY(!window->acceptsNextChange());
    }

    for (int i = 0; i < changes; ++i) {
        const QStringList before = snapshot();
        copy(QString("change %1").arg(i));
        if (i < skipped) {
            QCOMPARE(snapshot(), before);
            QCOMPARE(window->isCollecting(), !pause);
        } else {
            QCOMPARE(clipText(1 + i - skipped), QString("change %1").arg(i));
        }
    }
    QCOMPARE(window->acceptsNextChange(), acceptAfter);
    QCOMPARE(window->isCollecting(), !pause);
    QCOMPARE(clipText(0), QString("origin"));
}

void CaptureTest::replaysOwnChangeIsNotCaptured()
{
    copy("first");
    copy("second");
    const QStringList before = snapshot();
    QVERIFY(QMetaObject::invokeMethod(window.get(), "getHotKey", Qt::DirectConnection,
                                      Q_ARG(WPARAM, 113)));
    QCOMPARE(QGuiApplication::clipboard()->text(), QString("second"));
    QCOMPARE(snapshot(), before);
    QVERIFY(window->acceptsNextChange());
    copy("third");
    QCOMPARE(clipText(2), QString("third"));
}

void CaptureTest::textCell_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("words") << "hello world";
    QTest::newRow("blanks only") << "   ";
    QTest::newRow("lines") << "one\r\ntwo\n";
}

void CaptureTest::textCell()
{
    QFETCH(QString, text);
    copy(text);
    QCOMPARE(clipText(0), text);
    QCOMPARE(cell(0, 0), text);
    QCOMPARE(table->item(0, 0)->toolTip(), text);
    QVERIFY(table->item(0, 0)->icon().isNull());
    QCOMPARE(table->rowHeight(0), defaultRowHeight);
    QCOMPARE(table->iconSize(), defaultIconSize);
}

void CaptureTest::imageCell_data()
{
    QTest::addColumn<QSize>("imageSize");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QSize>("preview"); // invalid: the cell shows the text, nothing resized

    QTest::newRow("small image enlarged") << QSize(20, 10) << QString() << QSize(256, 128);
    QTest::newRow("large image reduced") << QSize(1000, 2000) << QString() << QSize(64, 128);
    QTest::newRow("very wide image bounded") << QSize(20000, 1) << QString() << QSize(1024, 1);
    QTest::newRow("very tall image") << QSize(1, 100000) << QString() << QSize(1, 128);
    QTest::newRow("image and text: text wins") << QSize(20, 10) << "caption" << QSize();
}

void CaptureTest::imageCell()
{
    QFETCH(QSize, imageSize);
    QFETCH(QString, text);
    QFETCH(QSize, preview);

    copy(imageData(imageSize, text));
    const QTableWidgetItem *item = table->item(0, 0);
    QVERIFY(item);
    if (preview.isValid()) {
        QCOMPARE(item->icon().availableSizes(), QList<QSize>{preview});
        QCOMPARE(item->text(), description({ImageFormat}));
        QCOMPARE(item->toolTip(), QString());
        QCOMPARE(table->rowHeight(0), 128);
        QCOMPARE(table->iconSize(), QSize(128, 128));
    } else {
        QVERIFY(item->icon().isNull());
        QCOMPARE(item->text(), text);
        QCOMPARE(item->toolTip(), text);
        QCOMPARE(table->rowHeight(0), defaultRowHeight);
        QCOMPARE(table->iconSize(), defaultIconSize);
    }
    QCOMPARE(table->rowHeight(1), defaultRowHeight);
    QCOMPARE(window->clip(0)->imageData().value<QImage>().size(), imageSize);
}

void CaptureTest::previewRowStaysTall_data()
{
    QTest::addColumn<int>("how"); // 0: replaced by a text clip, 2: deleted, EmptyAll: emptied
    QTest::newRow("replaced by text") << 0;
    QTest::newRow("deleted") << 2;
    QTest::newRow("emptied") << EmptyAll;
}

void CaptureTest::previewRowStaysTall()
{
    QFETCH(int, how);
    copy(imageData(QSize(20, 10)));
    QCOMPARE(table->rowHeight(0), 128);
    if (how == 0) {
        for (int i = 1; i <= MaxClips; ++i)
            copy(QString("text %1").arg(i));
        QCOMPARE(cell(0, 0), QString("text 10"));
    } else if (how == EmptyAll) {
        button("Empty")->click();
    } else {
        emit table->cellClicked(0, how);
    }
    QCOMPARE(window->clip(0) != nullptr, how == 0);
    QCOMPARE(table->rowHeight(0), 128);
    QCOMPARE(table->iconSize(), QSize(128, 128));
    QCOMPARE(table->rowHeight(1), defaultRowHeight);
}

void CaptureTest::descriptionListsFormatsInOrder()
{
    auto *data = new QMimeData;
    data->setData("A/x", "first");
    data->setData("B/y", "second");
    copy(data);
    QCOMPARE(cell(0, 0).toUtf8(),
             QByteArray("The following is not the content, but the format of what is copied:\r\n"
                        "A/x\r\nB/y\r\n"));
    QCOMPARE(table->item(0, 0)->toolTip(), QString());
    QCOMPARE(window->clip(0)->formats(), QStringList({"A/x", "B/y"}));
}

void CaptureTest::clipOutlivesClipboardData()
{
    QPointer<QMimeData> source = new OwnerData(
        {"text/plain", "A/x", "B/y"}, {{"text/plain", "words"}, {"A/x", "aaa"}, {"B/y", "bbb"}});
    copy(source);
    copy("something else");
    QVERIFY(source.isNull()); // the clipboard dropped the owner's data
    const QMimeData *clip = window->clip(0);
    QCOMPARE(clip->formats(), QStringList({"text/plain", "A/x", "B/y"}));
    QCOMPARE(clip->data("text/plain"), QByteArray("words"));
    QCOMPARE(clip->data("A/x"), QByteArray("aaa"));
    QCOMPARE(clip->data("B/y"), QByteArray("bbb"));
    QCOMPARE(clipText(1), QString("something else"));
}

void CaptureTest::cloneIsIndependentEqualCopy()
{
    QImage image(20, 10, QImage::Format_ARGB32);
    image.fill(Qt::green);
    auto *data = new QMimeData;
    data->setData("B/y", "bee");
    data->setImageData(image);
    data->setText("text");
    data->setData("A/x", QByteArray("\0a\xff", 3));
    copy(data);

    const QMimeData *clip = window->clip(0);
    const QStringList order = {"B/y", ImageFormat, "text/plain", "A/x"};
    QCOMPARE(clip->formats(), order);
    std::unique_ptr<QMimeData> clone(TesselGui::cloneMimeData(clip));
    QVERIFY(clone.get() != clip);
    QVERIFY(!clone->parent());
    QCOMPARE(clone->formats(), order);
    for (const QString &format : QStringList{"B/y", "text/plain", "A/x"})
        QCOMPARE(clone->data(format), clip->data(format));
    QCOMPARE(clone->imageData().userType(), int(QMetaType::QImage));
    QCOMPARE(clone->imageData().value<QImage>(), image);

    clone->setData("A/x", "changed");
    clone.reset();
    QCOMPARE(clip->data("A/x"), QByteArray("\0a\xff", 3));
    QCOMPARE(clip->imageData().value<QImage>(), image);
}

void CaptureTest::emptyChangeTakesNoSlot_data()
{
    QTest::addColumn<int>("kind"); // 0: no data object, 1: no formats, 2: protocol targets only
    QTest::newRow("no data object") << 0;
    QTest::newRow("no formats") << 1;
    QTest::newRow("protocol targets only") << 2;
}

void CaptureTest::emptyChangeTakesNoSlot()
{
    QFETCH(int, kind);
    fillAllSlots();
    for (int i = 0; i < 3; ++i)
        copy(QString("over %1").arg(i));
    QCOMPARE(window->writeCursor(), 3);
    const QStringList before = snapshot();

    if (kind == 0) {
        QGuiApplication::clipboard()->clear();
        QVERIFY(!QGuiApplication::clipboard()->mimeData());
    } else if (kind == 1) {
        copy(new QMimeData);
    } else {
        QMap<QString, QByteArray> answers;
        for (const QString &target : ProtocolTargets)
            answers.insert(target, "protocol");
        copy(new OwnerData(ProtocolTargets, answers));
    }
    QCOMPARE(snapshot(), before);
    QVERIFY(window->acceptsNextChange());

    copy("next");
    QCOMPARE(clipText(3), QString("next"));
    QCOMPARE(window->writeCursor(), 4);
}

void CaptureTest::protocolTargetsAreNotData()
{
    QStringList listed = ProtocolTargets;
    listed.insert(1, "A/x");
    listed.insert(4, "B/y");
    QMap<QString, QByteArray> answers = {{"A/x", "a"}, {"B/y", "b"}};
    for (const QString &target : ProtocolTargets)
        answers.insert(target, "protocol");
    copy(new OwnerData(listed, answers));
    QCOMPARE(window->clip(0)->formats(), QStringList({"A/x", "B/y"}));
    QCOMPARE(window->clip(0)->data("B/y"), QByteArray("b"));
    QCOMPARE(cell(0, 0), description({"A/x", "B/y"}));
}

void CaptureTest::markedSecretsAreSkipped_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<bool>("captured");

    QTest::newRow("KDE hint secret") << KdeHint << QByteArray("secret") << false;
    QTest::newRow("KDE hint other") << KdeHint << QByteArray("public") << true;
    QTest::newRow("exclude, no data") << ExcludeFormat << QByteArray() << false;
    QTest::newRow("exclude, any data") << ExcludeFormat << QByteArray("\1\0\0\0", 4) << false;
    QTest::newRow("history zero") << HistoryFormat << QByteArray(4, '\0') << false;
    QTest::newRow("history nonzero") << HistoryFormat << QByteArray("\1\0\0\0", 4) << true;
}

void CaptureTest::markedSecretsAreSkipped()
{
    QFETCH(QString, format);
    QFETCH(QByteArray, value);
    QFETCH(bool, captured);

    fillAllSlots();
    const QStringList before = snapshot();
    auto *data = new QMimeData;
    data->setText("hunter2");
    data->setData(format, value);
    copy(data);

    QVERIFY(window->acceptsNextChange());
    if (captured) {
        QCOMPARE(clipText(0), QString("hunter2"));
        QCOMPARE(window->clip(0)->data(format), value);
        QCOMPARE(window->writeCursor(), 1);
    } else {
        QCOMPARE(snapshot(), before);
        copy("after");
        QCOMPARE(clipText(0), QString("after"));
    }
}

void CaptureTest::bigTextIsKeptWholeAndShownBounded()
{
    const QString head = QStringLiteral("<b>x</b><img src=\"a.png\">");
    const QString text = head + QString(20 * 1024 * 1024, QLatin1Char('a'));
    copy(text);

    QCOMPARE(window->clip(0)->data("text/plain"), text.toUtf8());
    const QTableWidgetItem *item = table->item(0, 0);
    QVERIFY(item->data(Qt::DisplayRole).toString() == text);
    QVERIFY(item->data(Qt::ToolTipRole).toString() == text);

    auto *delegate = qobject_cast<ClipDelegate *>(table->itemDelegate());
    QVERIFY(delegate);
    const QString shown = delegate->displayText(item->data(Qt::DisplayRole), QLocale());
    QVERIFY2(shown.size() <= 1000, qPrintable(QString::number(shown.size())));
    QVERIFY(shown.endsWith(Ellipsis));
    QVERIFY(text.startsWith(shown.chopped(1)));

    hoverContent(0);
    QVERIFY(QToolTip::isVisible());
    const QString tip = QToolTip::text();
    QVERIFY2(tip.size() <= 10000, qPrintable(QString::number(tip.size())));
    QVERIFY(!tip.contains("<b>x"));
    QVERIFY(!tip.contains("<img"));
    const QString seen = shownTip();
    QVERIFY(seen.startsWith(head));
    QVERIFY(seen.endsWith(Ellipsis));
    QVERIFY(text.startsWith(seen.chopped(1)));
}

void CaptureTest::tooltipShowsPlainBoundedText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("seen"); // empty: no tooltip

    const QString markup = "<b>x</b> & <img src=\"file:///etc/hostname\"> <a href=\"y\">z</a>";
    QTest::newRow("markup as text") << markup << markup;
    QStringList lines;
    for (int i = 0; i < 100; ++i)
        lines << QString("line %1").arg(i);
    QTest::newRow("many lines") << lines.join('\n') << lines.mid(0, 25).join('\n') + Ellipsis;
    QTest::newRow("image, no text") << QString() << QString();
}

void CaptureTest::tooltipShowsPlainBoundedText()
{
    QFETCH(QString, text);
    QFETCH(QString, seen);

    if (text.isEmpty())
        copy(imageData(QSize(20, 10)));
    else
        copy(text);
    hoverContent(0);
    if (seen.isEmpty()) {
        QTRY_VERIFY(!QToolTip::isVisible());
    } else {
        QVERIFY(QToolTip::isVisible());
        QCOMPARE(shownTip(), seen);
    }
}

void CaptureTest::shownTextKeepsCharactersWhole()
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

void CaptureTest::unusualFormatNamesKeptVerbatim()
{
    const QStringList names = {"text/x with spaces",
                               "a/\"quoted\"",
                               QString::fromUtf8("ünïcødé/\xe2\x82\xac"),
                               "x/y;charset=\"utf-8\";z=1",
                               "application/x-qt-windows-mime;value=\"Rich Text Format\"",
                               "no-slash"};
    QMap<QString, QByteArray> answers;
    for (const QString &name : names)
        answers.insert(name, name.toUtf8() + "-data");
    copy(new OwnerData(names, answers));
    const QMimeData *clip = window->clip(0);
    QVERIFY(clip);
    QCOMPARE(clip->formats(), names);
    for (const QString &name : names)
        QCOMPARE(clip->data(name), name.toUtf8() + "-data");
    QCOMPARE(cell(0, 0), description(names));
}

void CaptureTest::hundredsOfFormatsKeptInOrder()
{
    QStringList names;
    QMap<QString, QByteArray> answers;
    for (int i = 0; i < 500; ++i) {
        // Descending so that the listed order differs from any sorted one.
        names << QString("x-test/format-%1").arg(499 - i, 3, 10, QLatin1Char('0'));
        answers.insert(names.last(), QByteArray::number(i));
    }
    copy(new OwnerData(names, answers));
    const QMimeData *clip = window->clip(0);
    QCOMPARE(clip->formats(), names);
    for (const QString &name : names)
        QCOMPARE(clip->data(name), answers.value(name));
    QCOMPARE(cell(0, 0), description(names));
}

void CaptureTest::imageThatCannotBeHadShowsDescription_data()
{
    QTest::addColumn<bool>("refused");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("bytes that do not decode") << false << QByteArray("garbage\0\x89PNG", 12);
    QTest::newRow("refused by the owner") << true << QByteArray();
}

void CaptureTest::imageThatCannotBeHadShowsDescription()
{
    QFETCH(bool, refused);
    QFETCH(QByteArray, bytes);

    QMap<QString, QByteArray> answers = {{"A/x", "a"}};
    if (!refused)
        answers.insert(ImageFormat, bytes);
    copy(new OwnerData({ImageFormat, "A/x"}, answers));

    QCOMPARE(cell(0, 0), description({ImageFormat, "A/x"}));
    QVERIFY(table->item(0, 0)->icon().isNull());
    QCOMPARE(table->rowHeight(0), defaultRowHeight);
    QCOMPARE(table->iconSize(), defaultIconSize);
    const QMimeData *clip = window->clip(0);
    QCOMPARE(clip->formats(), QStringList({ImageFormat, "A/x"}));
    // Qt hands undecodable image bytes over as bytes; the clip keeps them as they came.
    QCOMPARE(clip->data(ImageFormat), bytes);
    QCOMPARE(clip->data("A/x"), QByteArray("a"));
}

void CaptureTest::refusedAndEmptyFormatsKeptEmpty()
{
    copy(new OwnerData({"A/x", "B/y", "C/z", "text/plain"},
                       {{"A/x", "a"}, {"C/z", QByteArray()}, {"text/plain", "words"}}));
    const QMimeData *clip = window->clip(0);
    QVERIFY(clip);
    QCOMPARE(clip->formats(), QStringList({"A/x", "B/y", "C/z", "text/plain"}));
    QCOMPARE(clip->data("A/x"), QByteArray("a"));
    QCOMPARE(clip->data("B/y"), QByteArray());
    QCOMPARE(clip->data("C/z"), QByteArray());
    QCOMPARE(cell(0, 0), QString("words"));
}

QTEST_MAIN(CaptureTest)
#include "tst_capture.moc"
