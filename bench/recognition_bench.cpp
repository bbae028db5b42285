// The recogniser in process, reading each image given on the command line: whole on one engine, and cut
// into bands on two workers, as pavo-agent does. Prints the median time of each, the number of lines, and
// whether both read exactly the same lines (text, box and confidence).
// Run: build/default/bench/pavo_recognition_bench [--samples N] IMAGE...

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/use_future.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/linux/openmp_limit.hpp"
#include "platform/linux/tesseract_recognition.hpp"

namespace {

using namespace pavo::platform;
using Clock = std::chrono::steady_clock;

std::vector<TextObservation> read(Recognition& recognition, const std::shared_ptr<const std::string>& bytes) {
    boost::asio::io_context io;
    auto future = boost::asio::co_spawn(io, recognition.recognize(bytes, {}), boost::asio::use_future);
    io.run();
    const auto outcome = future.get();
    if (!std::holds_alternative<Recognized>(outcome)) return {};
    return std::get<Recognized>(outcome).text;
}

double medianMs(Recognition& recognition, const std::shared_ptr<const std::string>& bytes, int samples) {
    std::vector<double> times;
    for (int i = 0; i < samples; ++i) {
        const auto start = Clock::now();
        read(recognition, bytes);
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    linux_recognition::limitOpenMPThreads(argv);
    int samples = 15;
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--samples" && i + 1 < argc) {
            samples = std::max(1, std::atoi(argv[++i]));
        } else {
            paths.emplace_back(argv[i]);
        }
    }
    const auto whole = linux_recognition::makeTesseractRecognition({.workers = 1, .cutIntoBands = false});
    const auto bands = linux_recognition::makeTesseractRecognition();
    for (const std::string& path : paths) {
        std::ifstream file(path, std::ios::binary);
        std::ostringstream contents;
        contents << file.rdbuf();
        const auto bytes = std::make_shared<const std::string>(contents.str());
        const auto wholeLines = read(*whole, bytes);  // also warms the engines
        const auto bandLines = read(*bands, bytes);
        const double wholeMs = medianMs(*whole, bytes, samples);
        const double bandsMs = medianMs(*bands, bytes, samples);
        std::printf("%s: whole %.1f ms, bands %.1f ms (%.2fx); lines %zu / %zu, %s\n", path.c_str(), wholeMs,
                    bandsMs, wholeMs / bandsMs, wholeLines.size(), bandLines.size(),
                    wholeLines == bandLines ? "identical" : "DIFFERENT");
        if (wholeLines != bandLines) {
            for (const auto& line : wholeLines) std::printf("  whole: %s\n", line.text.c_str());
            for (const auto& line : bandLines) std::printf("  bands: %s\n", line.text.c_str());
        }
    }
    return 0;
}
