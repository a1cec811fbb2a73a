// A clipboard owner that misbehaves on purpose. It takes the clipboard and logs each request
// it gets ("asked <format>") on stderr, then:
//   hostileowner hang N       lists N formats and never answers a request for data
//   hostileowner hint TEXT    offers TEXT marked for password managers, and refuses the mark
//   hostileowner late MS TEXT offers TEXT and answers each request MS milliseconds late,
//                             even once it has lost the clipboard
// It prints "owner" on stdout once it owns the clipboard.

#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QThread>

#include <cstdio>

namespace {

const QString KdeHint = QStringLiteral("x-kde-passwordManagerHint");

class HostileData : public QMimeData {
public:
    HostileData(const QStringList &formats, bool hang, const QByteArray &text, int lateMs = 0)
        : listed(formats), hang(hang), text(text), lateMs(lateMs)
    {
    }
    QStringList formats() const override { return listed; }
    bool hasFormat(const QString &format) const override { return listed.contains(format); }

protected:
    QVariant retrieveData(const QString &format, QVariant::Type) const override
    {
        std::fprintf(stderr, "asked %s\n", qPrintable(format));
        std::fflush(stderr);
        // Blocks this owner's only thread: the requester hears nothing, ever.
        while (hang)
            QThread::sleep(60);
        QThread::msleep(lateMs);
        return format == KdeHint ? QVariant() : QVariant(text);
    }

private:
    QStringList listed;
    bool hang;
    QByteArray text;
    int lateMs;
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const bool late = args.size() == 4 && args[1] == "late";
    if (!late && (args.size() != 3 || (args[1] != "hang" && args[1] != "hint"))) {
        std::fprintf(stderr, "usage: hostileowner hang N | hint TEXT | late MS TEXT\n");
        return 2;
    }
    HostileData *data;
    if (late) {
        data = new HostileData({QStringLiteral("text/plain")}, false, args[3].toUtf8(),
                               args[2].toInt());
    } else if (args[1] == "hang") {
        QStringList formats = {QStringLiteral("text/plain")};
        for (int i = 1; i < args[2].toInt(); ++i)
            formats << QStringLiteral("application/x-hostile-%1").arg(i);
        data = new HostileData(formats, true, QByteArray());
    } else {
        data = new HostileData({QStringLiteral("text/plain"), KdeHint}, false, args[2].toUtf8());
    }
    QGuiApplication::clipboard()->setMimeData(data);
    std::printf("owner\n");
    std::fflush(stdout);
    return app.exec();
}
