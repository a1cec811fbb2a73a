// A capture worker that follows a script instead of reading a clipboard, for the tests of
// the window's side. Started as the real one is (--capture-worker GENERATION CLIENT); the
// script is TESSEL_TEST_WORKER, one behaviour per generation, separated by ';' (the last
// one stays):
//   clip:TEXT  answers each read with a clip of TEXT, unless the copy is settled already
//   hang       never answers a read
//   die        exits when asked to read
//   garbage    says it is ready, then sends a clip frame without its clip
//   mute       says it is ready, then nothing more
// Every behaviour but mute answers pings.

#include "capture/captureprotocol.h"
#include "clips/clip.h"
#include "platform/platform.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QFile>

#include <cstdlib>

using captureprotocol::Header;
using captureprotocol::Message;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList script = qEnvironmentVariable("TESSEL_TEST_WORKER").split(';');
    const QString behaviour =
        script.value(qMin(app.arguments().value(2).toInt(), int(script.size())) - 1);
    // The real backend's channel: binary on Windows, as the worker's own.
    const platform::WorkerChannel channel = platform::openWorkerChannel();
    QFile in, out;
    in.open(channel.input, QIODevice::ReadOnly | QIODevice::Unbuffered);
    out.open(channel.output, QIODevice::WriteOnly | QIODevice::Unbuffered);
    captureprotocol::send(out, captureprotocol::frame({Message::Ready}));
    if (behaviour == QLatin1String("garbage"))
        captureprotocol::send(out, captureprotocol::frame({Message::Clip, 0}));
    for (;;) {
        quint64 size = 0;
        QDataStream(in.read(sizeof size)) >> size;
        if (size == 0 || size > 1024)
            return 0;
        QDataStream frame(in.read(qint64(size)));
        const Header request = captureprotocol::read(frame);
        if (behaviour == QLatin1String("mute"))
            continue;
        if (request.message == Message::Ping)
            captureprotocol::send(out, captureprotocol::frame({Message::Pong}));
        if (request.message != Message::Read || behaviour == QLatin1String("hang"))
            continue;
        if (behaviour == QLatin1String("die"))
            std::exit(3);
        if (request.current == request.stamp) {
            captureprotocol::send(
                out, captureprotocol::frame({Message::Nothing, request.change, request.current}));
            continue;
        }
        Clip clip;
        clip.addData(QStringLiteral("text/plain"), behaviour.mid(5).toUtf8());
        captureprotocol::send(out, {Message::Clip, request.change, request.current},
                              [&clip](QDataStream &stream) { stream << clip; });
    }
}
