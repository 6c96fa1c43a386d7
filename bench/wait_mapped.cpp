// Starts a program on the X display and reports how long it took until its top-level window was
// mapped: the MapNotify that the server sends to a client watching the root window's children.
//
// Usage: wait_mapped [--linger SECONDS] PROGRAM [ARGUMENT]...
// Prints "mapped-ms X" (from just before the program is started to the MapNotify of its first
// top-level window that is not override-redirect) and "cpu-ms X" (the time all the program's
// threads had spent on a core when the MapNotify came, from the kernel's scheduler statistics;
// unlike the wall time it hardly depends on what else the machine runs), then, after lingering,
// "vmhwm-kb N" (the program's peak resident memory) and ends the program. Exit status 0 on success,
// 1 when the program ended or mapped nothing within 30 s, 2 on bad usage.

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fstream>
#include <string>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace
{

double NowMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

// The _NET_WM_PID of window, or 0 when it has none.
long WindowPid(Display *display, Window window)
{
    const Atom property = XInternAtom(display, "_NET_WM_PID", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char *data = nullptr;
    long pid = 0;
    if (XGetWindowProperty(display, window, property, 0, 1, False, XA_CARDINAL, &type, &format,
                           &count, &after, &data) == Success &&
        data != nullptr) {
        if (format == 32 && count == 1)
            pid = long(*reinterpret_cast<unsigned long *>(data));
        XFree(data);
    }
    return pid;
}

// VmHWM of process pid in kB, or -1.
long PeakResidentKb(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

// The time in ms that the threads of process pid have run on a core so far (the first field of
// each /proc/PID/task/TID/schedstat, in ns), or -1.
double CpuMs(pid_t pid)
{
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR *dir = opendir(tasks.c_str());
    if (dir == nullptr)
        return -1;
    double ns = 0;
    while (const dirent *entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        std::ifstream stat(tasks + "/" + entry->d_name + "/schedstat");
        double onCpu = 0;
        if (stat >> onCpu)
            ns += onCpu;
    }
    closedir(dir);
    return ns / 1e6;
}

void End(pid_t pid)
{
    kill(pid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        usleep(20000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

} // namespace

int main(int argc, char *argv[])
{
    int first = 1;
    double lingerSeconds = 0;
    if (argc > 2 && std::strcmp(argv[1], "--linger") == 0) {
        lingerSeconds = std::atof(argv[2]);
        first = 3;
    }
    if (first >= argc) {
        std::fprintf(stderr, "usage: wait_mapped [--linger SECONDS] PROGRAM [ARGUMENT]...\n");
        return 2;
    }
    Display *display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "wait_mapped: cannot open the display\n");
        return 1;
    }
    const Window root = DefaultRootWindow(display);
    XSelectInput(display, root, SubstructureNotifyMask);
    XSync(display, True);

    const double start = NowMs();
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[first], nullptr, nullptr, argv + first, environ) != 0) {
        std::fprintf(stderr, "wait_mapped: cannot start %s\n", argv[first]);
        return 1;
    }

    double mapped = -1;
    double cpu = -1;
    pollfd connection{ConnectionNumber(display), POLLIN, 0};
    while (mapped < 0 && NowMs() - start < 30000) {
        while (mapped < 0 && XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type != MapNotify || event.xmap.event != root || event.xmap.override_redirect)
                continue;
            const long owner = WindowPid(display, event.xmap.window);
            if (owner == 0 || owner == long(pid)) {
                mapped = NowMs();
                cpu = CpuMs(pid);
            }
        }
        if (mapped >= 0)
            break;
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            std::fprintf(stderr, "wait_mapped: %s ended before mapping a window\n", argv[first]);
            return 1;
        }
        poll(&connection, 1, 50);
    }
    if (mapped < 0) {
        std::fprintf(stderr, "wait_mapped: no window of %s within 30 s\n", argv[first]);
        End(pid);
        return 1;
    }
    std::printf("mapped-ms %.3f\n", mapped - start);
    std::printf("cpu-ms %.3f\n", cpu);
    if (lingerSeconds > 0)
        usleep(useconds_t(lingerSeconds * 1e6));
    std::printf("vmhwm-kb %ld\n", PeakResidentKb(pid));
    End(pid);
    XCloseDisplay(display);
    return 0;
}
