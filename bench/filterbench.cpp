// Prints what the native event filter costs for an event that is not a hotkey, in
// nanoseconds per call, and how many allocations it made meanwhile (there must be none).
// Linked with the real backend, whose translation step runs on every X11 event.

#include "benchsupport.h"
#include "hotkeys/nativeeventfilter.h"

#include <QCommandLineParser>
#include <QGuiApplication>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>

#ifndef Q_OS_WIN
#include <xcb/xcb.h>
#endif

namespace {

std::atomic<bool> counting{false};
std::atomic<long> mallocCalls{0};
std::atomic<long> newCalls{0};

void countMalloc()
{
    if (counting.load(std::memory_order_relaxed))
        mallocCalls.fetch_add(1, std::memory_order_relaxed);
}

const int Rounds = 5;

volatile long sink;

void measure(const char *name, const QByteArray &type, void *event, long iterations)
{
    NativeEventFilter filter;
    bench::Figure rounds;
    long result = 0;
    long accepted = 0;
    // The first event makes the backend look up what it needs of the X server once.
    filter.nativeEventFilter(type, event, &result);
    mallocCalls = 0;
    newCalls = 0;
    for (int r = 0; r < Rounds; ++r) {
        counting = true;
        const long long start = bench::nowNs();
        for (long i = 0; i < iterations; ++i)
            accepted += filter.nativeEventFilter(type, event, &result);
        const long long end = bench::nowNs();
        counting = false;
        rounds.add(double(end - start) / double(iterations));
    }
    sink = accepted;
    std::printf("%-40s %8.2f %8.2f %10ld %10ld\n", name, rounds.median(), rounds.maximum(),
                mallocCalls.load(), newCalls.load());
}

} // namespace

#ifdef __GLIBC__
// Every malloc of the process, Qt's included, passes through here; glibc's free takes what
// these return.
extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *pointer, size_t size);

void *malloc(size_t size) noexcept
{
    countMalloc();
    return __libc_malloc(size);
}

void *calloc(size_t count, size_t size) noexcept
{
    countMalloc();
    return __libc_calloc(count, size);
}

void *realloc(void *pointer, size_t size) noexcept
{
    countMalloc();
    return __libc_realloc(pointer, size);
}
}
#endif

// Where malloc is not counted, new still is; the default delete frees what it returns.
void *operator new(size_t size)
{
    if (counting.load(std::memory_order_relaxed))
        newCalls.fetch_add(1, std::memory_order_relaxed);
    if (void *p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

int main(int argc, char **argv)
{
#ifndef Q_OS_WIN
    // The filter answers clipboard events on Qt's own X connection, as it does in Tessel.
    qputenv("QT_QPA_PLATFORM", "xcb");
#endif
    QGuiApplication app(argc, argv);
    QCommandLineParser parser;
    bench::parseOptions(parser, {{"calls", "Calls per round.", "n", QStringLiteral("10000000")}});
    const long iterations = bench::intOption(parser, QStringLiteral("calls"));

    // A zero below means something only if the counter sees Qt's allocations at all.
    counting = true;
    const QByteArray probe(64, 'x');
    counting = false;
    std::printf("allocation counter check: %ld malloc(s), %ld new(s) for one 64-byte QByteArray\n",
                mallocCalls.load(), newCalls.load());
    sink = probe.size();

    std::printf("native event filter, %ld calls per round, %d rounds; ns per call\n", iterations,
                Rounds);
#ifndef __GLIBC__
    std::printf("(malloc is not counted on this C library, only operator new)\n");
#endif
    std::printf("%-40s %8s %8s %10s %10s\n", "event", "median", "max", "mallocs", "news");

#ifndef Q_OS_WIN
    const struct {
        const char *name;
        uint8_t type;
    } events[] = {{"xcb motion notify", XCB_MOTION_NOTIFY},
                  {"xcb key press, not a hotkey", XCB_KEY_PRESS},
                  {"xcb key release", XCB_KEY_RELEASE}};
    for (const auto &e : events) {
        xcb_key_press_event_t event = {};
        event.response_type = e.type;
        // A key that is not grabbed: the translation looks it up and gives up.
        event.detail = e.type == XCB_MOTION_NOTIFY ? 0 : 38;
        measure(e.name, "xcb_generic_event_t", &event, iterations);
    }
#endif
    return 0;
}
