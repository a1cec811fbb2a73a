#include <QtTest>

class HotkeysTest : public QObject {
    Q_OBJECT
};

QTEST_MAIN(HotkeysTest)
#include "tst_hotkeys.moc"
