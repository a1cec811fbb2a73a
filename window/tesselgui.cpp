#include "tesselgui.h"

#include "window/clipdelegate.h"

#include <QCheckBox>
#include <QCloseEvent>
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
    table->setHorizontalHeaderLabels({tr("content"), tr("shortcut"), tr("delete")});
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Clips can be many megabytes of text: the delegate bounds what a cell paints and what
    // its tooltip shows, while the items keep the whole text.
    table->setItemDelegate(new ClipDelegate(table));
    connect(table, &QTableWidget::cellClicked, this, &TesselGui::oncellclicked);
    mainLayout->addWidget(table);

    emptyButton = new QPushButton(tr("Empty"));
    emptyButton->setToolTip(tr("Empty all stored clips."));
    connect(emptyButton, &QPushButton::clicked, this, &TesselGui::onempty);

    collectButton = new QPushButton(tr("Stop collecting"));
    collectButton->setToolTip(
        tr("Start/Stop collecting data from clipboard.\r\n"
           "At most 10 clips can be stored. Collecting more data will override the previous "
           "ones.\r\n"
           "You can click this button to stop collecting data to avoid this to happen."));
    connect(collectButton, &QPushButton::clicked, this, &TesselGui::oncollect);

    onTopCheck = new QCheckBox(tr("make the window always stay on top"));
    connect(onTopCheck, &QCheckBox::stateChanged, this, &TesselGui::ontopstatechanged);

    buttonRow = new QHBoxLayout;
    buttonRow->addWidget(emptyButton);
    buttonRow->addWidget(onTopCheck);
    buttonRow->addWidget(collectButton);
    mainLayout->addLayout(buttonRow);

    resize(WindowWidth, WindowHeight);
    setWindowTitle(tr("Tessel V%1").arg(QStringLiteral(TESSEL_VERSION)));
    connect(&store, &ClipStore::slotChanged, this, &TesselGui::showSlot);

    if (!platform::openResources())
        showError(tr("Can not get hInstance"));

    registerHotKeys();
}

TesselGui::~TesselGui() = default;

void TesselGui::showError(const QString &text)
{
    QMessageBox::warning(this, tr("error"), text, QMessageBox::Ok, QMessageBox::NoButton);
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
    collectButton->setText(collect ? tr("Stop collecting") : tr("Collect"));
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

void TesselGui::registerHotKeys()
{
    for (int slot = 0; slot < MaxClips; ++slot) {
        if (!platform::registerHotKey(winId(), hotKeyCodes[slot]))
            showError(tr("Can not register F%1.").arg(slot + 1));
    }
}

void TesselGui::unregisterHotKeys()
{
    for (const qint32 code : hotKeyCodes)
        platform::unregisterHotKey(winId(), code);
}

void TesselGui::closeEvent(QCloseEvent *event)
{
    unregisterHotKeys();
    event->accept();
}
