#pragma once

#include "platform/platform.h"

#include <QAbstractNativeEventFilter>
#include <QObject>

// Application-wide filter that turns a press of F1 to F10 into hotKeySignal; so does a press
// the desktop reports as its own shortcut.
class NativeEventFilter : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT

public:
    NativeEventFilter();
    ~NativeEventFilter() override;

    bool nativeEventFilter(const QByteArray &eventType, void *message, long *result) override;

signals:
    void hotKeySignal(WPARAM wParam);
};
