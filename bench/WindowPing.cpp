// How long a window's main thread is held: pings the window (_NET_WM_PING, which Qt answers
// from its main thread) one after the other for a given number of seconds and prints the
// slowest answer. A tick that blocks the main thread for 40 ms shows as a 40 ms answer.
// A ping still unanswered at the end counts for as long as it has waited.
#include <X11/Xlib.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

class Pinger {
public:
    Pinger(Display* display, Window window) : display_(display), window_(window) {
        protocols_ = XInternAtom(display, "WM_PROTOCOLS", False);
        ping_ = XInternAtom(display, "_NET_WM_PING", False);
        // Qt sends the answer to the root window, to those who watch its structure.
        XSelectInput(display, DefaultRootWindow(display), StructureNotifyMask);
    }

    void Send(long serial) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window_;
        event.xclient.message_type = protocols_;
        event.xclient.format = 32;
        event.xclient.data.l[0] = static_cast<long>(ping_);
        event.xclient.data.l[1] = serial; // the timestamp field, echoed back
        event.xclient.data.l[2] = static_cast<long>(window_);
        XSendEvent(display_, window_, False, NoEventMask, &event);
        XFlush(display_);
    }

    // True once the answer to `serial` is in; false when `until` passes first.
    bool Answered(long serial, Clock::time_point until) {
        while (true) {
            while (XPending(display_) > 0) {
                XEvent event{};
                XNextEvent(display_, &event);
                if (event.type == ClientMessage && event.xclient.message_type == protocols_ &&
                    static_cast<Atom>(event.xclient.data.l[0]) == ping_ &&
                    event.xclient.data.l[1] == serial) {
                    return true;
                }
            }
            const auto left = until - Clock::now();
            if (left <= Clock::duration::zero()) {
                return false;
            }
            pollfd fd{ConnectionNumber(display_), POLLIN, 0};
            poll(&fd, 1, std::max(1, static_cast<int>(Milliseconds(left))));
        }
    }

private:
    Display* display_;
    Window window_;
    Atom protocols_;
    Atom ping_;
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s WINDOW-ID SECONDS\n", argv[0]);
        return 2;
    }
    const auto window = static_cast<Window>(std::strtoul(argv[1], nullptr, 0));
    const double seconds = std::atof(argv[2]);
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "window-ping: cannot open the X display\n");
        return 1;
    }
    Pinger pinger(display, window);
    const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(seconds));
    std::vector<double> answers;
    bool unanswered = false;
    for (long serial = 1; Clock::now() < end; ++serial) {
        const auto sent = Clock::now();
        pinger.Send(serial);
        if (!pinger.Answered(serial, end)) {
            answers.push_back(Milliseconds(Clock::now() - sent));
            unanswered = true;
            break;
        }
        answers.push_back(Milliseconds(Clock::now() - sent));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    XCloseDisplay(display);
    if (answers.empty()) {
        std::fprintf(stderr, "window-ping: no ping was sent\n");
        return 1;
    }
    std::sort(answers.begin(), answers.end());
    const auto at = [&](double q) {
        return answers[static_cast<std::size_t>(q * static_cast<double>(answers.size() - 1))];
    };
    std::printf("pings %zu\nworst-ms %.1f\np99-ms %.1f\nmedian-ms %.2f\nunanswered %d\n",
                answers.size(), answers.back(), at(0.99), at(0.5), unanswered ? 1 : 0);
    return 0;
}
