#include "tesselgui.h"

#include "window/clipdelegate.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

// One function key per slot.
static_assert(HotKeyCount == MaxClips);

namespace {
const int ContentColumnWidth = 300;
const int WindowWidth = 550;
const int WindowHeight = 420;
} // namespace

TesselGui::TesselGui() : QWidget(nullptr)
{
    mainLayout = new QVBoxLayout(this);
    table = new QTableWidget(MaxClips, ColumnCount);
    table->setColumnWidth(ContentColumn, ContentColumnWidth);
    table->verticalHeader()->setVisible(false);
    table->setHorizontalHeaderLabels({"content", "shortcut", "delete"});
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setItemDelegate(new ClipDelegate(table));
    connect(table, SIGNAL(cellClicked(int,int)), this, SLOT(oncellclicked(int,int)));
    mainLayout->addWidget(table);

    emptyButton = new QPushButton("Empty");
    emptyButton->setToolTip("Empty all stored clips.");
    connect(emptyButton, SIGNAL(clicked()), this, SLOT(onempty()));

    collectButton = new QPushButton("Stop collecting");
    collectButton->setToolTip(
        "Start/Stop collecting data from clipboard.\r\n"
        "At most 10 clips can be stored. Collecting more data will override the previous "
        "ones.\r\n"
        "You can click this button to stop collecting data to avoid this to happen.");
    connect(collectButton, SIGNAL(clicked()), this, SLOT(oncollect()));

    onTopCheck = new QCheckBox("make the window always stay on top");
    connect(onTopCheck, SIGNAL(stateChanged(int)), this, SLOT(ontopstatechanged(int)));

    buttonRow = new QHBoxLayout;
    buttonRow->addWidget(emptyButton);
    buttonRow->addWidget(onTopCheck);
    buttonRow->addWidget(collectButton);
    mainLayout->addLayout(buttonRow);

    resize(WindowWidth, WindowHeight);
    // A slot's tooltip is read while the user works in another window.
    setAttribute(Qt::WA_AlwaysShowToolTips);
    setWindowTitle("Tessel V" TESSEL_VERSION);
    connect(&store, &ClipStore::slotChanged, this, &TesselGui::showSlot);

    if (!platform::openResources())
        showError("Can not get hInstance");

    registerHotKeys();
}

void TesselGui::showError(const QString &text)
{
    QMessageBox::warning(this, "error", text, QMessageBox::Ok, QMessageBox::NoButton);
}

void TesselGui::oncellclicked(int row, int col)
{
    if (col == DeleteColumn)
        store.clear(row);
}

void TesselGui::onempty()
{
    store.clearAll();
}

void TesselGui::oncollect()
{
    // Decided by the state, never by the label: desktops add accelerators to button texts.
    const bool collect = store.gate() == ClipStore::Gate::Paused;
    store.setCollecting(collect);
    collectButton->setText(collect ? "Stop collecting" : "Collect");
}

void TesselGui::ontopstatechanged(int state)
{
    if (state == Qt::Checked)
        setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);
    else if (state == Qt::Unchecked)
        setWindowFlags(windowFlags() & ~Qt::WindowStaysOnTopHint);
    // Changing the flags of a visible window hides it.
    show();
}
