// A clipboard owner on Wayland that misbehaves on purpose, for the tests of the capture
// worker. It takes the clipboard through data-control, so it needs no window and no focus,
// offers the types given on its command line in their order, logs each request it gets
// ("send TYPE") to LOG, and answers each as its type's behaviour says:
//   TYPE=text:BYTES  writes BYTES and closes
//   TYPE=file:PATH   writes the bytes of the file PATH (read at the start) and closes
//   TYPE=stall       never writes and never closes
//   TYPE=forever     writes for as long as the reader reads
//   TYPE=close       closes at once, writing nothing
//   many:N           offers N more types text/x-many-1 ... each answering with its name
// It prints "ready" once the clipboard is its own and exits when another program takes it.
//
// Usage: testsource LOG TYPE=BEHAVIOUR|many:N ...

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "wlr-data-control-unstable-v1-client.h"
#include <wayland-client.h>

namespace {

struct Source {
    std::map<std::string, std::string> behaviour;
    std::vector<std::string> types;
    std::vector<int> stalled;
    std::vector<int> forever;
    FILE *log = nullptr;
    bool cancelled = false;
    wl_seat *seat = nullptr;
    zwlr_data_control_manager_v1 *manager = nullptr;
};
Source source;

void send(void *, zwlr_data_control_source_v1 *, const char *type, int32_t fd)
{
    std::fprintf(source.log, "send %s\n", type);
    std::fflush(source.log);
    const std::string what = source.behaviour[type];
    if (what == "stall") {
        source.stalled.push_back(fd);
    } else if (what == "forever") {
        fcntl(fd, F_SETFL, O_NONBLOCK);
        source.forever.push_back(fd);
    } else if (what == "close") {
        close(fd);
    } else {
        const std::string bytes = what.rfind("text:", 0) == 0 ? what.substr(5) : type;
        // The reader's pipe may come non-blocking: a file larger than the pipe is written whole.
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        [[maybe_unused]] const ssize_t written = write(fd, bytes.data(), bytes.size());
        close(fd);
    }
}

void cancelled(void *, zwlr_data_control_source_v1 *)
{
    source.cancelled = true;
}

const zwlr_data_control_source_v1_listener sourceListener = {send, cancelled};

void global(void *, wl_registry *registry, uint32_t name, const char *interface, uint32_t)
{
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && !source.seat)
        source.seat =
            static_cast<wl_seat *>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    else if (std::strcmp(interface, zwlr_data_control_manager_v1_interface.name) == 0)
        source.manager = static_cast<zwlr_data_control_manager_v1 *>(
            wl_registry_bind(registry, name, &zwlr_data_control_manager_v1_interface, 1));
}

void globalRemove(void *, wl_registry *, uint32_t) {}

const wl_registry_listener registryListener = {global, globalRemove};

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: testsource LOG TYPE=BEHAVIOUR|many:N ...\n");
        return 2;
    }
    // A reader that gives up closes its end while we write.
    std::signal(SIGPIPE, SIG_IGN);
    source.log = std::fopen(argv[1], "a");
    for (int i = 2; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument.rfind("many:", 0) == 0) {
            for (int n = 1, count = std::stoi(argument.substr(5)); n <= count; ++n)
                source.types.push_back("text/x-many-" + std::to_string(n));
            continue;
        }
        const size_t equals = argument.find('=');
        const std::string type = argument.substr(0, equals);
        source.types.push_back(type);
        source.behaviour[type] = argument.substr(equals + 1);
        // A file too large for a command line (a picture, for the Wayland bench) is served
        // as its bytes, read before the clipboard is taken as another program would have.
        if (source.behaviour[type].rfind("file:", 0) == 0) {
            std::ifstream in(source.behaviour[type].substr(5), std::ios::binary);
            source.behaviour[type] = "text:" + std::string(std::istreambuf_iterator<char>(in), {});
        }
    }
    wl_display *display = wl_display_connect(nullptr);
    if (!display || !source.log) {
        std::fprintf(stderr, "testsource: no Wayland display or log\n");
        return 1;
    }
    wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, nullptr);
    wl_display_roundtrip(display);
    if (!source.seat || !source.manager) {
        std::fprintf(stderr, "testsource: the compositor offers no data-control\n");
        return 1;
    }
    zwlr_data_control_device_v1 *device =
        zwlr_data_control_manager_v1_get_data_device(source.manager, source.seat);
    zwlr_data_control_source_v1 *offer =
        zwlr_data_control_manager_v1_create_data_source(source.manager);
    zwlr_data_control_source_v1_add_listener(offer, &sourceListener, nullptr);
    for (const std::string &type : source.types)
        zwlr_data_control_source_v1_offer(offer, type.c_str());
    zwlr_data_control_device_v1_set_selection(device, offer);
    wl_display_roundtrip(display);
    std::printf("ready\n");
    std::fflush(stdout);
    static const std::string chunk(64 * 1024, 'x');
    while (!source.cancelled) {
        std::vector<pollfd> watched = {{wl_display_get_fd(display), POLLIN, 0}};
        for (const int fd : source.forever)
            watched.push_back({fd, POLLOUT, 0});
        wl_display_flush(display);
        if (poll(watched.data(), watched.size(), -1) < 0 && errno != EINTR)
            break;
        if (watched[0].revents & POLLIN) {
            if (wl_display_dispatch(display) < 0)
                break;
        }
        for (size_t i = 1; i < watched.size(); ++i) {
            if (!watched[i].revents)
                continue;
            // A reader that gave up closed its end: this one stops too.
            if (write(watched[i].fd, chunk.data(), chunk.size()) < 0 && errno != EAGAIN) {
                close(watched[i].fd);
                source.forever.erase(source.forever.begin() + long(i - 1));
                break;
            }
        }
    }
    return 0;
}
