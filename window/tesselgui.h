#pragma once

#include "capture/captureclient.h"
#include "hotkeys/hotkeycodes.h"
#include "platform/platform.h"
#include "clips/clipstore.h"

#include <QWidget>

class QCheckBox;
class QCloseEvent;
class QHBoxLayout;
class QPushButton;
class QTableWidget;
class QVBoxLayout;

// The only window: the clip store's ten slots as table rows, the controls under the table.
class TesselGui : public QWidget {
    Q_OBJECT

public:
    TesselGui();

    // Reads clipboard changes in a worker process from now on, so that no owner can block
    // the window.
    void startCaptureWorker();

protected:
    void closeEvent(QCloseEvent *event) override;

private slots:
    // Pastes the slot of the key with this code.
    void getHotKey(WPARAM wParam);
    void clipboardDataChanged();
    void oncellclicked(int row, int col);
    void ontopstatechanged(int state);
    void oncollect();
    void onempty();

private:
    void registerHotKeys();
    void unregisterHotKeys();
    void showSlot(int slot);
    void showError(const QString &text);

    static constexpr int ContentColumn = 0;
    static constexpr int ShortcutColumn = 1;
    static constexpr int DeleteColumn = 2;
    static constexpr int ColumnCount = 3;

    QVBoxLayout *mainLayout;
    ClipStore store;
    CaptureClient capture{store};
    QTableWidget *table;
    QPushButton *emptyButton;
    QPushButton *collectButton;
    QHBoxLayout *buttonRow;
    QCheckBox *onTopCheck;
};
