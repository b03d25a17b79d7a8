// Reads the width of a caption from the window's pixels on the X server, so that a test sees
// what the program has painted without asking the program (whose main thread may be the
// thing under test). The width of the dark ink is the caption's and nothing else's: the
// button's shading for hover, press and focus never reaches it.
// AREA is X,Y,WIDTH,HEIGHT inside the window.
//   caption-width WINDOW AREA              prints the width in pixels of the ink in AREA
//   caption-width WINDOW AREA FILE         writes AREA to FILE as a PPM picture
//   caption-width WINDOW AREA WIDTH MS     waits up to MS ms for the ink to be WIDTH wide (give
//                                          or take a pixel); exit 0 once it is, 1 (printing the
//                                          last width) if not
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <thread>

namespace {

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
struct ImageDestroyer {
    void operator()(XImage* image) const { XDestroyImage(image); }
};
using Image = std::unique_ptr<XImage, ImageDestroyer>;

struct Area {
    int x = 0, y = 0;
    unsigned width = 0, height = 0;
};

// Nothing while the window is unmapped or gone; the caller says so.
Image Grab(Display* display, Window window, const Area& area) {
    XWindowAttributes attributes{};
    if (XGetWindowAttributes(display, window, &attributes) == 0 ||
        attributes.map_state != IsViewable) {
        return nullptr;
    }
    return Image(
        XGetImage(display, window, area.x, area.y, area.width, area.height, AllPlanes, ZPixmap));
}

struct Rgb {
    unsigned red, green, blue;
};
Rgb At(XImage& image, int x, int y) {
    const unsigned long pixel = XGetPixel(&image, x, y);
    return {static_cast<unsigned>((pixel >> 16) & 0xffu),
            static_cast<unsigned>((pixel >> 8) & 0xffu), static_cast<unsigned>(pixel & 0xffu)};
}

bool Save(Display* display, Window window, const Area& area, const char* path) {
    const Image image = Grab(display, window, area);
    std::FILE* file = image ? std::fopen(path, "wb") : nullptr;
    if (file == nullptr) {
        return false;
    }
    std::fprintf(file, "P6\n%d %d\n255\n", image->width, image->height);
    for (int y = 0; y < image->height; ++y) {
        for (int x = 0; x < image->width; ++x) {
            const Rgb rgb = At(*image, x, y);
            const unsigned char bytes[3] = {static_cast<unsigned char>(rgb.red),
                                            static_cast<unsigned char>(rgb.green),
                                            static_cast<unsigned char>(rgb.blue)};
            std::fwrite(bytes, 1, 3, file);
        }
    }
    return std::fclose(file) == 0;
}

// From the leftmost to the rightmost column that holds a dark pixel; 0 for none.
std::optional<int> InkWidth(Display* display, Window window, const Area& area) {
    const Image image = Grab(display, window, area);
    if (!image) {
        return std::nullopt;
    }
    int left = image->width, right = -1;
    for (int y = 0; y < image->height; ++y) {
        for (int x = 0; x < image->width; ++x) {
            const Rgb rgb = At(*image, x, y);
            if (rgb.red + rgb.green + rgb.blue < 3 * 100) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
        }
    }
    return right < 0 ? 0 : right - left + 1;
}

// X errors (a window that went away) are answered by the failed call, not by exiting.
int IgnoreErrors(Display*, XErrorEvent*) {
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Area area;
    if (argc < 3 || argc > 5 ||
        std::sscanf(argv[2], "%d,%d,%u,%u", &area.x, &area.y, &area.width, &area.height) != 4) {
        std::fprintf(stderr, "usage: %s WINDOW X,Y,WIDTH,HEIGHT [FILE | WIDTH MS]\n", argv[0]);
        return 2;
    }
    const std::unique_ptr<Display, DisplayCloser> display(XOpenDisplay(nullptr));
    if (!display) {
        std::fprintf(stderr, "caption-width: cannot open the X display\n");
        return 2;
    }
    XSetErrorHandler(IgnoreErrors);
    const auto window = static_cast<Window>(std::strtoul(argv[1], nullptr, 0));
    if (argc == 4) {
        if (!Save(display.get(), window, area, argv[3])) {
            std::fprintf(stderr, "caption-width: cannot save window %s to %s\n", argv[1], argv[3]);
            return 2;
        }
        return 0;
    }
    if (argc == 3) {
        const std::optional<int> width = InkWidth(display.get(), window, area);
        if (!width) {
            std::fprintf(stderr, "caption-width: window %s cannot be read\n", argv[1]);
            return 2;
        }
        std::printf("%d\n", *width);
        return 0;
    }
    const int wanted = std::atoi(argv[3]);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(std::atol(argv[4]));
    while (true) {
        const std::optional<int> width = InkWidth(display.get(), window, area);
        if (width && std::abs(*width - wanted) <= 1) {
            return 0;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            std::printf("%d\n", width.value_or(-1));
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}
