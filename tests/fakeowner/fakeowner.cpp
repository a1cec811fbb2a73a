// A clipboard owner for the end-to-end tests and the benches, well-behaved or not on purpose.
// As a Qt application (it prints "owner" on stdout once it owns the clipboard, then logs
// "asked <format>" on stderr for each request for data, and keeps running until killed):
//   fakeowner hang N                lists N formats and never answers a request for data
//   fakeowner hint TEXT             offers TEXT marked for password managers, refuses the mark
//   fakeowner late MS TEXT          offers TEXT and answers each request MS milliseconds late,
//                                   even once it has lost the clipboard
//   fakeowner qt-image FILE         FILE's image, as a Qt application offers one (every
//                                   image format Qt writes, each encoded on request)
//   fakeowner offer FORMAT FILE...  each FORMAT with the bytes of the FILE after it
// With plain Xlib, every answer under the control of the process that drives it through
// stdin and stdout (see selectionowner.h), FILE being the text it offers:
//   fakeowner x11 text|hang|slow|incr [FILE]

#include "selectionowner.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QThread>

#include <cstdio>
#include <cstdlib>
#include <map>

namespace {

const QString KdeHint = QStringLiteral("x-kde-passwordManagerHint");

class FakeData : public QMimeData {
public:
    bool hang = false;
    int lateMs = 0;
    QString refused;

protected:
    QVariant retrieveData(const QString &format, QVariant::Type type) const override
    {
        std::fprintf(stderr, "asked %s\n", qPrintable(format));
        std::fflush(stderr);
        // Blocks this owner's only thread: the requester hears nothing, ever.
        while (hang)
            QThread::sleep(60);
        QThread::msleep(lateMs);
        return format == refused ? QVariant() : QMimeData::retrieveData(format, type);
    }
};

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "fakeowner: cannot read %s\n", qPrintable(path));
        std::exit(1);
    }
    return file.readAll();
}

int usage()
{
    std::fprintf(stderr, "usage: fakeowner hang N | hint TEXT | late MS TEXT | qt-image FILE | "
                         "offer FORMAT FILE... | "
                         "x11 text|hang|slow|incr [FILE]\n");
    return 2;
}

int serveX11(const QStringList &args)
{
    const std::map<QString, SelectionOwner::Mode> modes = {{"text", SelectionOwner::Mode::Text},
                                                           {"hang", SelectionOwner::Mode::Hang},
                                                           {"slow", SelectionOwner::Mode::Slow},
                                                           {"incr", SelectionOwner::Mode::Incr}};
    const auto mode = modes.find(args.value(2));
    if (args.size() > 4 || mode == modes.end())
        return usage();
    SelectionOwner owner(mode->second,
                         args.size() == 4 ? readFile(args[3]) : QByteArray("fake owner text"));
    return owner.run();
}

} // namespace

int main(int argc, char **argv)
{
    // A clipboard owner on X only, whatever platform the program that started it runs on.
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString mode = args.value(1);
    if (mode == QLatin1String("x11"))
        return serveX11(args);

    auto *data = new FakeData;
    const bool pairs = mode == QLatin1String("offer") && args.size() % 2 == 0 && args.size() > 2;
    const bool late = mode == QLatin1String("late") && args.size() == 4;
    if (!pairs && !late && args.size() != 3)
        return usage();
    if (mode == QLatin1String("hang")) {
        data->hang = true;
        data->setData(QStringLiteral("text/plain"), QByteArray());
        for (int i = 1; i < args[2].toInt(); ++i)
            data->setData(QStringLiteral("application/x-hostile-%1").arg(i), QByteArray());
    } else if (mode == QLatin1String("hint")) {
        data->setData(QStringLiteral("text/plain"), args[2].toUtf8());
        data->setData(KdeHint, "secret");
        data->refused = KdeHint;
    } else if (late) {
        data->lateMs = args[2].toInt();
        data->setData(QStringLiteral("text/plain"), args[3].toUtf8());
    } else if (mode == QLatin1String("qt-image")) {
        data->setImageData(QImage::fromData(readFile(args[2])));
    } else if (pairs) {
        for (int i = 2; i < args.size(); i += 2)
            data->setData(args[i], readFile(args[i + 1]));
    } else {
        delete data;
        return usage();
    }
    QGuiApplication::clipboard()->setMimeData(data);
    std::printf("owner\n");
    std::fflush(stdout);
    return app.exec();
}
