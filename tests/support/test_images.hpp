#pragma once
// Images made for a test on the spot, never copied in: ImageMagick's /usr/bin/convert with the DejaVu fonts,
// and qrencode. Each helper writes into `dir` and returns the file's path; a tool that fails throws.

#include <string>
#include <vector>

#include "child_process.hpp"

namespace pavo::testing {

// `convert <arguments> -depth 8 <dir>/<name>` (eight bits per channel: ImageMagick 6 writes sixteen).
std::string drawImage(const TempDir& dir, const std::string& name, const std::vector<std::string>& arguments);

// A QR code of `payload` (UTF-8), `moduleSize` pixels per module with a four-module margin.
std::string drawQRCode(const TempDir& dir, const std::string& name, const std::string& payload,
                       int moduleSize);

// `-annotate` arguments for one line of DejaVu Sans text whose baseline starts at (x, y).
std::vector<std::string> textAt(int x, int y, int points, const std::string& text,
                                const std::string& colour = "black");

std::string fileBytes(const std::string& path);

}  // namespace pavo::testing
