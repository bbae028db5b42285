#include "test_images.hpp"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace pavo::testing {

namespace {

void run(const std::string& program, const std::vector<std::string>& arguments, const TempDir& dir) {
    const Completed done = runToCompletion(program, arguments, {{"HOME", dir.path()}});
    if (done.status != 0) throw std::runtime_error(program + " failed: " + done.output);
}

}  // namespace

std::string drawImage(const TempDir& dir, const std::string& name,
                      const std::vector<std::string>& arguments) {
    const std::string path = dir.path() + "/" + name;
    std::vector<std::string> all = arguments;
    all.insert(all.end(), {"-depth", "8", path});
    run("/usr/bin/convert", all, dir);
    return path;
}

std::string drawQRCode(const TempDir& dir, const std::string& name, const std::string& payload,
                       int moduleSize) {
    const std::string path = dir.path() + "/" + name;
    run("/usr/bin/qrencode", {"-o", path, "-s", std::to_string(moduleSize), "-m", "4", payload}, dir);
    return path;
}

std::vector<std::string> textAt(int x, int y, int points, const std::string& text,
                                const std::string& colour) {
    return {"-font", "DejaVu-Sans", "-pointsize", std::to_string(points),
            "-fill", colour,        "-annotate",  "+" + std::to_string(x) + "+" + std::to_string(y),
            text};
}

std::string fileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

}  // namespace pavo::testing
