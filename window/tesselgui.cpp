#include "tesselgui.h"

#include "window/clipdelegate.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {
const int ContentColumn = 0;
const int ShortcutColumn = 1;
const int DeleteColumn = 2;
const int ColumnCount = 3;
const int ContentColumnWidth = 300;
const int WindowWidth = 550;
const int WindowHeight = 420;

const char StopCollectingText[] = "Stop collecting";
const char CollectText[] = "Collect";
} // namespace

TesselGui::TesselGui() : QWidget(nullptr)
{
    for (QMimeData *&clip : clips)
        clip = nullptr;
    mainLayout = new QVBoxLayout(this);
    table = new QTableWidget(MaxClips, ColumnCount);
    table->setColumnWidth(ContentColumn, ContentColumnWidth);
    table->verticalHeader()->setVisible(false);
    table->setHorizontalHeaderLabels({"content", "shortcut", "delete"});
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Clips can be many megabytes of text: the delegate bounds what a cell paints and what
    // its tooltip shows, while the items keep the whole text.
    table->setItemDelegate(new ClipDelegate(table));
    connect(table, SIGNAL(cellClicked(int, int)), this, SLOT(oncellclicked(int, int)),
            Qt::AutoConnection);
    mainLayout->addWidget(table);

    emptyButton = new QPushButton("Empty");
    emptyButton->setToolTip("Empty all stored clips.");
    connect(emptyButton, SIGNAL(clicked()), this, SLOT(onempty()), Qt::AutoConnection);

    collectButton = new QPushButton(StopCollectingText);
    collectButton->setToolTip(
        "Start/Stop collecting data from clipboard.\r\n"
        "At most 10 clips can be stored. Collecting more data will override the previous "
        "ones.\r\n"
        "You can click this button to stop collecting data to avoid this to happen.");
    connect(collectButton, SIGNAL(clicked()), this, SLOT(oncollect()), Qt::AutoConnection);

    onTopCheck = new QCheckBox("make the window always stay on top");
    connect(onTopCheck, SIGNAL(stateChanged(int)), this, SLOT(ontopstatechanged(int)),
            Qt::AutoConnection);

    buttonRow = new QHBoxLayout;
    buttonRow->addWidget(emptyButton);
    buttonRow->addWidget(onTopCheck);
    buttonRow->addWidget(collectButton);
    mainLayout->addLayout(buttonRow);

    resize(WindowWidth, WindowHeight);
    nextSlot = 0;
    collecting = true;
    acceptChange = true;
    setWindowTitle("Tessel V" TESSEL_VERSION);

    moduleHandle = platform::moduleHandle();
    if (!moduleHandle)
        showError("Can not get hInstance");

    registerHotKeys();
}

TesselGui::~TesselGui()
{
    // Nothing reads the clips after the window is gone; freeing them keeps leak checks clean.
    for (QMimeData *&clip : clips) {
        delete clip;
        clip = nullptr;
    }
}

const QMimeData *TesselGui::clip(int slot) const
{
    return slot >= 0 && slot < MaxClips ? clips[slot] : nullptr;
}

void TesselGui::showError(const QString &text)
{
    QMessageBox::warning(this, "error", text, QMessageBox::Ok, QMessageBox::NoButton);
}

void TesselGui::clearSlot(int slot)
{
    delete clips[slot];
    clips[slot] = nullptr;
    table->setItem(slot, ContentColumn, new QTableWidgetItem(QString()));
    table->setItem(slot, ShortcutColumn, new QTableWidgetItem(QString()));
    table->setItem(slot, DeleteColumn, new QTableWidgetItem(QString()));
}

void TesselGui::oncellclicked(int row, int col)
{
    if (col != DeleteColumn)
        return;
    if (row < 0 || row >= MaxClips)
        return;
    if (!clips[row])
        return;
    clearSlot(row);
}

void TesselGui::onempty()
{
    for (int i = 0; i < MaxClips; ++i) {
        if (clips[i])
            clearSlot(i);
    }
}

void TesselGui::oncollect()
{
    const QString text = collectButton->text();
    if (text == StopCollectingText) {
        collectButton->setText(CollectText);
        collecting = false;
        acceptChange = false;
    } else if (text == CollectText) {
        collectButton->setText(StopCollectingText);
        collecting = true;
        acceptChange = true;
    }
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
