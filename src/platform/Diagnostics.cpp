#include "platform/Diagnostics.h"

#include <cstdio>
#include <mutex>
#include <set>
#include <string>
#include <utility>

namespace platform {
namespace {

struct Printer {
    std::mutex mutex;
    std::set<std::string, std::less<>> said;
    std::function<void(std::string_view)> sink;
};

Printer& ThePrinter() {
    static Printer printer;
    return printer;
}

void Print(Printer& printer, std::string_view message) {
    std::fprintf(stderr, "zelim: %.*s\n", static_cast<int>(message.size()), message.data());
    std::fflush(stderr);
    if (printer.sink) {
        printer.sink(message);
    }
}

} // namespace

void Say(std::string_view message) {
    Printer& printer = ThePrinter();
    const std::lock_guard lock(printer.mutex);
    Print(printer, message);
}

void SayOnce(std::string_view message) {
    Printer& printer = ThePrinter();
    const std::lock_guard lock(printer.mutex);
    if (printer.said.emplace(message).second) {
        Print(printer, message);
    }
}

void SetDiagnosticSinkForTesting(std::function<void(std::string_view)> sink) {
    Printer& printer = ThePrinter();
    const std::lock_guard lock(printer.mutex);
    printer.sink = std::move(sink);
}

} // namespace platform
