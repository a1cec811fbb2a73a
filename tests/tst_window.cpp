#include "fakeplatform.h"
#include "testsupport.h"
#include "window/tesselgui.h"

#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

#include <memory>

namespace {
const char CollectTip[] =
    "Start/Stop collecting data from clipboard.\r\n"
    "At most 10 clips can be stored. Collecting more data will override the previous ones.\r\n"
    "You can click this button to stop collecting data to avoid this to happen.";

QPushButton *button(TesselGui &window, const QString &text)
{
    for (QPushButton *b : window.findChildren<QPushButton *>()) {
        if (b->text() == text)
            return b;
    }
    return nullptr;
}

bool rowHasItems(QTableWidget *table, int row)
{
    for (int col = 0; col < table->columnCount(); ++col) {
        if (table->item(row, col))
            return true;
    }
    return false;
}
} // namespace

class WindowTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void freshWindowLooksAsDesigned();
    void cellsCannotBeEdited();
    void onlyTheDeleteColumnClears_data();
    void onlyTheDeleteColumnClears();
    void deleteOnEmptyRowChangesNothing();
    void collectToggleSwitchesBothFlags();
    void emptyWithoutClipsChangesNothing();
    void emptyClearsOnlyFilledRows();
    void stayOnTopFollowsCheckBox();
    void missingModuleHandleWarnsAndCarriesOn();

private:
    void copy(const QString &text);

    std::unique_ptr<TesselGui> window;
    QTableWidget *table = nullptr;
};

void WindowTest::init()
{
    fakeplatform::reset();
    window = std::make_unique<TesselGui>();
    table = window->findChild<QTableWidget *>();
    QVERIFY(table);
    connect(QGuiApplication::clipboard(), SIGNAL(dataChanged()), window.get(),
            SLOT(clipboardDataChanged()));
}

void WindowTest::cleanup()
{
    window.reset();
    QGuiApplication::clipboard()->clear();
}

void WindowTest::copy(const QString &text)
{
    QGuiApplication::clipboard()->setText(text);
}

void WindowTest::freshWindowLooksAsDesigned()
{
    // The offscreen platform's fonts are wider than a desktop's, so the size is the one the
    // constructor sets; the end-to-end test checks it on a real display.
    QCOMPARE(window->size(), QSize(550, 420));
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QCOMPARE(window->windowTitle(), QString("Tessel V2.1"));
    QCOMPARE(table->rowCount(), 10);
    QCOMPARE(table->columnCount(), 3);
    QStringList headers;
    for (int col = 0; col < 3; ++col)
        headers << table->horizontalHeaderItem(col)->text();
    QCOMPARE(headers, QStringList({"content", "shortcut", "delete"}));
    QCOMPARE(table->columnWidth(0), 300);
    QCOMPARE(table->columnWidth(1), table->horizontalHeader()->defaultSectionSize());
    QVERIFY(!table->verticalHeader()->isVisible());
    for (int row = 0; row < 10; ++row)
        QVERIFY2(!rowHasItems(table, row), qPrintable(QString("row %1").arg(row)));
    for (int slot = 0; slot < MaxClips; ++slot)
        QVERIFY(!window->clip(slot));
    QCOMPARE(window->writeCursor(), 0);
    QVERIFY(window->isCollecting());
    QVERIFY(window->acceptsNextChange());

    QPushButton *empty = button(*window, "Empty");
    QPushButton *collect = button(*window, "Stop collecting");
    auto *check = window->findChild<QCheckBox *>();
    QVERIFY(empty && collect && check);
    QCOMPARE(empty->toolTip(), QString("Empty all stored clips."));
    QCOMPARE(collect->toolTip().size(), 205);
    QCOMPARE(collect->toolTip(), QString(CollectTip));
    QCOMPARE(check->text(), QString("make the window always stay on top"));
    QVERIFY(!check->isChecked());
    // Left to right under the table.
    QVERIFY(empty->x() < check->x());
    QVERIFY(check->x() < collect->x());
    QVERIFY(empty->y() > table->y());
    QVERIFY(!(window->windowFlags() & Qt::WindowStaysOnTopHint));
}

void WindowTest::cellsCannotBeEdited()
{
    copy("hello");
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    const QRect cell = table->visualRect(table->model()->index(0, 0));
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::keyClicks(table->viewport(), "typed");
    QTest::keyClick(table->viewport(), Qt::Key_F2);
    QVERIFY(table->viewport()->findChildren<QLineEdit *>().isEmpty());
    QCOMPARE(table->item(0, 0)->text(), QString("hello"));
    QVERIFY(!table->item(1, 0));
}

void WindowTest::onlyTheDeleteColumnClears_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<bool>("clears");
    QTest::newRow("content") << 0 << false;
    QTest::newRow("shortcut") << 1 << false;
    QTest::newRow("delete") << 2 << true;
}

void WindowTest::onlyTheDeleteColumnClears()
{
    QFETCH(int, column);
    QFETCH(bool, clears);
    for (int i = 0; i < 4; ++i)
        copy(QString("clip %1").arg(i));
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    const QRect cell = table->visualRect(table->model()->index(3, column));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());

    QCOMPARE(window->clip(3) == nullptr, clears);
    QCOMPARE(table->item(3, 0)->text().isEmpty(), clears);
    QCOMPARE(table->item(3, 2)->icon().isNull(), clears);
    QCOMPARE(table->item(3, 0)->toolTip().isEmpty(), clears);
    for (int row = 0; row < 3; ++row)
        QCOMPARE(table->item(row, 0)->text(), QString("clip %1").arg(row));
    QCOMPARE(window->writeCursor(), 0);
    QVERIFY(window->acceptsNextChange());
}

void WindowTest::deleteOnEmptyRowChangesNothing()
{
    copy("only");
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    const QRect cell = table->visualRect(table->model()->index(5, 2));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
    QVERIFY(!rowHasItems(table, 5));
    QVERIFY(window->clip(0));
    // Out of range rows, as a signal could carry, are ignored.
    emit table->cellClicked(-1, 2);
    emit table->cellClicked(10, 2);
    QVERIFY(window->clip(0));
}

void WindowTest::collectToggleSwitchesBothFlags()
{
    QPushButton *collect = button(*window, "Stop collecting");
    QVERIFY(collect);
    collect->click();
    QCOMPARE(collect->text(), QString("Collect"));
    QVERIFY(!window->isCollecting());
    QVERIFY(!window->acceptsNextChange());
    copy("while paused");
    QVERIFY(!window->clip(0));

    collect->click();
    QCOMPARE(collect->text(), QString("Stop collecting"));
    QVERIFY(window->isCollecting());
    QVERIFY(window->acceptsNextChange());
    copy("resumed");
    QVERIFY(window->clip(0));

    // Any other label (as a style or translation could leave) changes nothing.
    collect->setText("something else");
    collect->click();
    QCOMPARE(collect->text(), QString("something else"));
    QVERIFY(window->isCollecting());
}

void WindowTest::emptyWithoutClipsChangesNothing()
{
    button(*window, "Empty")->click();
    for (int row = 0; row < 10; ++row)
        QVERIFY(!rowHasItems(table, row));
}

void WindowTest::emptyClearsOnlyFilledRows()
{
    for (int i = 0; i < 10; ++i)
        copy(QString("clip %1").arg(i));
    for (int row : {1, 2, 3, 5, 6, 7, 8})
        emit table->cellClicked(row, 2);
    // Slots 0, 4 and 9 hold clips; the others were cleared and hold blank items.
    button(*window, "Empty")->click();
    for (int row = 0; row < 10; ++row) {
        QVERIFY(!window->clip(row));
        QVERIFY(table->item(row, 0)->text().isEmpty());
        QVERIFY(table->item(row, 1)->text().isEmpty());
        QVERIFY(table->item(row, 2)->icon().isNull());
    }
}

void WindowTest::stayOnTopFollowsCheckBox()
{
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    auto *check = window->findChild<QCheckBox *>();
    check->setChecked(true);
    QVERIFY(window->windowFlags() & Qt::WindowStaysOnTopHint);
    QVERIFY(window->isVisible());
    check->setChecked(false);
    QVERIFY(!(window->windowFlags() & Qt::WindowStaysOnTopHint));
    QVERIFY(window->isVisible());
    // A partially checked state is not on or off: no flag changes.
    check->setTristate(true);
    check->setCheckState(Qt::PartiallyChecked);
    QVERIFY(!(window->windowFlags() & Qt::WindowStaysOnTopHint));
    QVERIFY(window->isVisible());
}

void WindowTest::missingModuleHandleWarnsAndCarriesOn()
{
    window.reset();
    fakeplatform::reset();
    fakeplatform::state().nullModuleHandle = true;
    ModalAnswerer answerer;
    window = std::make_unique<TesselGui>();
    QCOMPARE(answerer.boxes.size(), 1);
    QCOMPARE(answerer.boxes[0].title, QString("error"));
    QCOMPARE(answerer.boxes[0].text, QString("Can not get hInstance"));
    QCOMPARE(answerer.boxes[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    // Built all the same, hotkeys included.
    QCOMPARE(window->windowTitle(), QString("Tessel V2.1"));
    QCOMPARE(fakeplatform::state().registered.size(), 10);
}

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
