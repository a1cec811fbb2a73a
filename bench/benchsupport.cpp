#include "benchsupport.h"

#include <QBuffer>
#include <QColor>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include <unistd.h>

namespace bench {

QByteArray makeText(qint64 size, quint32 seed)
{
    static const char *const words[] = {
        "the",       "of",     "and",   "to",      "in",      "is",     "that",    "for",
        "it",        "as",     "was",   "with",    "be",      "by",     "on",      "not",
        "he",        "this",   "are",   "or",      "his",     "from",   "at",      "which",
        "but",       "have",   "an",    "had",     "they",    "you",    "were",    "their",
        "one",       "all",    "we",    "can",     "her",     "has",    "there",   "been",
        "if",        "more",   "when",  "will",    "would",   "who",    "so",      "no",
        "clipboard", "window", "table", "program", "picture", "memory", "format",  "request",
        "owner",     "slot",   "paste", "capture", "number",  "every",  "between", "because"};
    const int count = int(sizeof words / sizeof *words);
    QByteArray text;
    text.reserve(int(size + 16));
    int column = 0;
    while (text.size() < size) {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        text += words[seed % count];
        column += int(std::strlen(words[seed % count])) + 1;
        if (column > 72) {
            text += '\n';
            column = 0;
        } else {
            text += (seed >> 8) % 11 ? " " : (seed >> 12) % 2 ? ", " : ". ";
        }
    }
    text.truncate(int(size));
    return text;
}

QByteArray makePng()
{
    QImage image(ImageWidth, ImageHeight, QImage::Format_RGB32);
    quint32 seed = 0x9e3779b9u;
    for (int y = 0; y < ImageHeight; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < ImageWidth; ++x) {
            seed ^= seed << 13;
            seed ^= seed >> 17;
            seed ^= seed << 5;
            const bool photo = x > 1800 && x < 3400 && y > 300 && y < 1500;
            const int noise = photo ? int(seed & 0x3f) : 0;
            line[x] = qRgb((x * 255 / ImageWidth + noise) & 0xff, (y * 255 / ImageHeight) ^ noise,
                           ((x / 64 + y / 64) % 2) ? 0xe0 : 0x30 + noise);
        }
    }
    QPainter painter(&image);
    for (int i = 0; i < 40; ++i)
        painter.fillRect(40 + i * 90, 60 + (i % 7) * 280, 70, 200,
                         QColor::fromHsv(i * 9, 160, 220));
    painter.end();
    return encodeImage(image, "PNG");
}

QByteArray encodeImage(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

double Figure::median() const
{
    if (values.empty())
        return 0;
    std::vector<double> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    const size_t n = sorted.size();
    return n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
}

double Figure::maximum() const
{
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

QByteArray Figure::pair(int width, int decimals, double capMs) const
{
    QByteArray text;
    for (const double value : {median(), maximum()}) {
        const QByteArray shown = values.empty() ? QByteArray("-")
                                                : (capMs > 0 && value >= capMs ? ">=" : "") +
                                                      QByteArray::number(value, 'f', decimals);
        text += (text.isEmpty() ? "" : " ") + shown.rightJustified(width);
    }
    return text;
}

long long nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double toMs(long long ns)
{
    return double(ns) / 1e6;
}

void parseOptions(QCommandLineParser &parser, const QList<QCommandLineOption> &options)
{
    parser.addHelpOption();
    parser.addOptions(options);
    parser.process(*QCoreApplication::instance());
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
}

int intOption(const QCommandLineParser &parser, const QString &name, int minimum)
{
    return std::max(minimum, parser.value(name).toInt());
}

bool picked(const QCommandLineParser &parser, const char *name)
{
    const QStringList texts = parser.value(QStringLiteral("only")).split(QLatin1Char(','));
    return std::any_of(texts.begin(), texts.end(),
                       [name](const QString &text) { return QLatin1String(name).contains(text); });
}

QString besideThisProgram(const QString &relative)
{
    return QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(relative);
}

QString fakeOwner()
{
    return QStringLiteral(TESSEL_FAKEOWNER);
}

Process::~Process()
{
    if (state() == NotRunning)
        return;
    terminate();
    if (!waitForFinished(3000)) {
        kill();
        waitForFinished(3000);
    }
}

QProcess &Owners::start(const QStringList &command, QProcess::ProcessChannelMode mode)
{
    processes.emplace_back();
    processes.back().setProcessChannelMode(mode);
    processes.back().start(command.first(), command.mid(1));
    return processes.back();
}

void Owners::endOlder()
{
    while (processes.size() > 1)
        processes.pop_front();
}

QStringList xclip(const char *option, const QString &file, bool png)
{
    QStringList command = {QStringLiteral("xclip"),      QLatin1String(option),
                           QStringLiteral("-selection"), QStringLiteral("clipboard"),
                           QStringLiteral("-i"),         file};
    if (png)
        command << QStringLiteral("-t") << QStringLiteral("image/png");
    return command;
}

bool readLine(QProcess &process, const QByteArray &prefix, QByteArray &line, long long deadlineNs)
{
    for (;;) {
        while (process.canReadLine()) {
            line = process.readLine().trimmed();
            if (line.startsWith(prefix))
                return true;
        }
        const long long left = deadlineNs - nowNs();
        if (left <= 0 || process.state() != QProcess::Running)
            return false;
        process.waitForReadyRead(int(left / Ms) + 1);
    }
}

namespace {

QByteArray procFile(qint64 pid, const QString &name)
{
    return pid > 0 ? readFile(QStringLiteral("/proc/%1/%2").arg(pid).arg(name)) : QByteArray();
}

// A field of /proc/PID/status or /proc/PID/smaps_rollup in MiB, or -1.
double procMiB(qint64 pid, const char *file, const QByteArray &field)
{
    for (const QByteArray &line : procFile(pid, QLatin1String(file)).split('\n')) {
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').value(0).toDouble() / 1024;
    }
    return -1;
}

} // namespace

double cpuMs(qint64 pid, bool children)
{
    // The fields that follow the command, which may hold spaces and parentheses.
    const QByteArray stat = procFile(pid, QStringLiteral("stat"));
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 15)
        return 0;
    static const double msPerTick = 1000.0 / double(sysconf(_SC_CLK_TCK));
    long long ticks = fields[11].toLongLong() + fields[12].toLongLong();
    if (children)
        ticks += fields[13].toLongLong() + fields[14].toLongLong();
    double ms = double(ticks) * msPerTick;
    for (const qint64 child : children ? childrenOf(pid) : std::vector<qint64>())
        ms += cpuMs(child);
    return ms;
}

std::vector<qint64> childrenOf(qint64 pid)
{
    std::vector<qint64> pids;
    const QByteArray children = procFile(pid, QStringLiteral("task/%1/children").arg(pid));
    for (const QByteArray &child : children.trimmed().split(' ')) {
        if (!child.isEmpty())
            pids.push_back(child.toLongLong());
    }
    return pids;
}

qint64 workerOf(qint64 pid)
{
    const std::vector<qint64> children = childrenOf(pid);
    return children.empty() ? 0 : children.front();
}

Memory memoryOf(qint64 pid)
{
    return {procMiB(pid, "status", "VmRSS"), procMiB(pid, "smaps_rollup", "Pss"),
            procMiB(pid, "status", "VmHWM")};
}

} // namespace bench
