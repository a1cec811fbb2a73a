#pragma once

#include <QMessageBox>
#include <QObject>
#include <QStringList>
#include <QTimer>

// Answers the modal message boxes a window raises while a test drives it, and records them.
class ModalAnswerer : public QObject {
    Q_OBJECT

public:
    struct Box {
        QString title;
        QString text;
        QMessageBox::StandardButtons buttons;
    };

    ModalAnswerer();
    QList<Box> boxes;

private:
    void answer();
    QTimer timer;
};
