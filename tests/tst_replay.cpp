#include <QtTest>

class ReplayTest : public QObject {
    Q_OBJECT
};

QTEST_MAIN(ReplayTest)
#include "tst_replay.moc"
