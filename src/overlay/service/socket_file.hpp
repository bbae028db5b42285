#pragma once
// overlay.sock: an ordinary file (despite its name) where pavo-agent finds the overlay's port and token.

#include <cstdint>
#include <string>

namespace pavo::overlay {

// <home>/Library/Application Support/Vexlo/Pavo
std::string overlaySocketDirectory(const std::string& homeDirectory);
std::string overlaySocketPath(const std::string& homeDirectory);

// {"port":…,"token":…}, compact, no trailing newline.
std::string socketFileContent(std::int64_t port, const std::string& token);

// Writes the file for the current user, readable by the owner only from the start; a later call
// replaces it. Throws std::exception describing what failed.
void writeOverlaySocketFile(std::int64_t port, const std::string& token);

}  // namespace pavo::overlay

namespace pavo::overlay {

// Writes the file and, when that fails, prints the start-up warning line instead of failing.
void publishOverlaySocketFile(std::int64_t port, const std::string& token);

}  // namespace pavo::overlay
