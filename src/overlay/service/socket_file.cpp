#include "overlay/service/socket_file.hpp"

#include <nlohmann/json.hpp>

#include <exception>
#include <iostream>

#include "common/files.hpp"
#include "common/overlay_socket.hpp"
#include "common/private_file.hpp"

namespace pavo::overlay {

std::string overlaySocketDirectory(const std::string& homeDirectory) {
    return common::overlaySocketDirectory(homeDirectory);
}

std::string overlaySocketPath(const std::string& homeDirectory) {
    return common::overlaySocketPath(homeDirectory);
}

std::string socketFileContent(std::int64_t port, const std::string& token) {
    const nlohmann::json object{{"port", port}, {"token", token}};
    // A token that is not UTF-8 cannot be written as JSON text; refuse rather than publish a mangled one.
    return object.dump();
}

void writeOverlaySocketFile(std::int64_t port, const std::string& token) {
    const std::string home = common::homeDirectory();
    const std::string content = socketFileContent(port, token);
    common::createPrivateDirectories(overlaySocketDirectory(home));
    common::writePrivateFileAtomically(overlaySocketPath(home), content);
}

void publishOverlaySocketFile(std::int64_t port, const std::string& token) {
    try {
        writeOverlaySocketFile(port, token);
    } catch (const std::exception& error) {
        std::cout << "Warning: could not write overlay.sock: " << error.what() << std::endl;
    }
}

}  // namespace pavo::overlay
