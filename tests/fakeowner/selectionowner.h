#pragma once

#include <QByteArray>

#include <deque>
#include <map>
#include <utility>

struct _XDisplay;
union _XEvent;

// A CLIPBOARD owner written with plain Xlib, so that its driver controls every answer: when
// it comes, whether it comes, and how a large one is cut up. It runs in a process of its own
// (fakeowner x11 MODE [FILE]) and is driven through stdin and stdout:
//   in:  own [TEXT]                take the clipboard (TEXT is what text mode offers)
//   out: ready                     once it can take commands
//        owned <ns>                the clipboard is ours, from that monotonic time
//        request <target> <ns> <w>  requestor window w asked for target
//        incr <target> <ns> <w>    a large answer to requestor window w has begun (INCR)
//        served <target> <ns> <n> <w>     the answer is complete, n bytes of data
//        abandoned <target> <ns> <n> <w>  a large answer stopped: its requestor went away
//        refused <target> <ns> 0 <w>      a target it does not offer
//        lost <ns>                 another client took the clipboard
// Times are CLOCK_MONOTONIC in nanoseconds, comparable with the bench's steady clock.
class SelectionOwner {
public:
    enum class Mode {
        Text, // answers everything at once
        Hang, // lists ten targets, then never answers a request for data
        Slow, // lists its targets at once, answers each request for data 2 s late
        Incr, // lists its targets at once, serves a large text with the INCR protocol
    };

    SelectionOwner(Mode mode, QByteArray text);
    ~SelectionOwner();

    // Serves until stdin closes. Returns the exit status.
    int run();

private:
    struct Request {
        unsigned long requestor = 0;
        unsigned long selection = 0;
        unsigned long target = 0;
        unsigned long property = 0;
        unsigned long time = 0;
    };
    struct Transfer {
        QByteArray target;
        unsigned long type = 0;
        qint64 offset = 0;
        long long lastProgressNs = 0;
    };

    bool readCommands();
    void takeClipboard(unsigned long time);
    void handleEvent(const _XEvent &event);
    void answer(const Request &request);
    void refuse(const Request &request);
    void notify(const Request &request, unsigned long property);
    void sendNextChunk(unsigned long requestor, unsigned long property);
    void dropDeadTransfers();
    QByteArray atomName(unsigned long atom);

    Mode mode;
    QByteArray text;
    _XDisplay *display = nullptr;
    unsigned long window = 0;
    unsigned long ownedSince = 0;
    bool owning = false;
    bool ownPending = false;
    QByteArray stdinBuffer;
    std::deque<std::pair<long long, Request>> late;
    std::map<std::pair<unsigned long, unsigned long>, Transfer> transfers;
};
