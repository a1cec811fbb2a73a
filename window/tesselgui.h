#pragma once

#include "hotkeys/hotkeycodes.h"
#include "platform/platform.h"

#include <QWidget>

class QCheckBox;
class QCloseEvent;
class QHBoxLayout;
class QMimeData;
class QPushButton;
class QTableWidget;
class QVBoxLayout;

// The only window: ten clip slots shown as table rows, and the controls under the table.
// Construction and control slots live in tesselgui.cpp, capture in capture.cpp, replay in
// replay.cpp, hotkey registration and close handling in hotkeyregistration.cpp.
class TesselGui : public QWidget {
    Q_OBJECT

public:
    TesselGui();
    ~TesselGui() override;

    // A new clip holding every data format of source, in source's order; the caller owns it.
    static QMimeData *cloneMimeData(const QMimeData *source);

    // Read-only views of the clip store, for whoever drives or inspects the window.
    const QMimeData *clip(int slot) const;
    int writeCursor() const { return nextSlot; }
    bool acceptsNextChange() const { return acceptChange; }
    bool isCollecting() const { return collecting; }

protected:
    void closeEvent(QCloseEvent *event) override;

private slots:
    void getHotKey(WPARAM wParam);
    void clipboardDataChanged();
    void oncellclicked(int row, int col);
    void ontopstatechanged(int state);
    void oncollect();
    void onempty();

private:
    void registerHotKeys();
    void unregisterHotKeys();
    void clearSlot(int slot);
    void showError(const QString &text);

    QVBoxLayout *mainLayout;
    int nextSlot;
    QMimeData *clips[MaxClips];
    QTableWidget *table;
    QPushButton *emptyButton;
    QPushButton *collectButton;
    QHBoxLayout *buttonRow;
    QCheckBox *onTopCheck;
    bool acceptChange;
    bool collecting;
    HINSTANCE moduleHandle;
};
