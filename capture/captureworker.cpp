#include "captureworker.h"

#include "window/clip.h"
#include "window/clipreader.h"

#include <QApplication>
#include <QClipboard>
#include <QDataStream>

using captureprotocol::Message;

bool CaptureWorker::connectTo(const QString &serverName)
{
    socket.connectToServer(serverName);
    if (!socket.waitForConnected())
        return false;
    connect(&socket, &QLocalSocket::readyRead, this, &CaptureWorker::readFrames);
    // Without the window's process there is nobody to read for.
    connect(&socket, &QLocalSocket::disconnected, qApp, &QCoreApplication::quit);
    connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this,
            &CaptureWorker::clipboardChanged);
    return true;
}

void CaptureWorker::clipboardChanged()
{
    // Nothing is read before the window says so: the change may be its own paste.
    captureprotocol::send(socket, captureprotocol::frame(Message::Changed, ++latestChange));
}

void CaptureWorker::readFrames()
{
    QByteArray frame;
    while (frames.next(socket, frame)) {
        QDataStream in(frame);
        quint64 change = 0;
        const Message message = captureprotocol::read(in, change);
        if (message == Message::Ping)
            captureprotocol::send(socket, captureprotocol::frame(Message::Pong));
        // A newer change has come since: that one will be asked about.
        else if (message == Message::Read && change == latestChange)
            readChange(change);
    }
}

void CaptureWorker::readChange(quint64 change)
{
    bool stalled = false;
    const std::unique_ptr<Clip> clip =
        readClip(QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard), &stalled);
    if (clip) {
        QByteArray frame = captureprotocol::frame(Message::Clip, change);
        QDataStream out(&frame, QIODevice::Append);
        out << *clip;
        captureprotocol::send(socket, frame);
    } else {
        captureprotocol::send(socket, captureprotocol::frame(Message::Nothing, change));
    }
    // An owner that answers after Qt gave up on it still writes its data to our window, where
    // Qt would take it for the answer to a later request: a new process starts clean.
    if (stalled) {
        socket.waitForBytesWritten();
        socket.disconnectFromServer();
        QCoreApplication::exit(RestartExitCode);
    }
}

int runCaptureWorker(int &argc, char **argv, const QString &serverName)
{
    QApplication app(argc, argv);
    CaptureWorker worker;
    if (!worker.connectTo(serverName))
        return 1;
    return app.exec();
}
