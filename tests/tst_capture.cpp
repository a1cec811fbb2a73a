#include <QtTest>

class CaptureTest : public QObject {
    Q_OBJECT
};

QTEST_MAIN(CaptureTest)
#include "tst_capture.moc"
