#include "mcp/line_framer.hpp"

#include <algorithm>

namespace pavo::mcp {

LineFramer::LineFramer(std::size_t maxLineBytes, std::function<void(std::string_view)> onLine,
                       std::function<void()> onOverlong)
    : maxLineBytes_(maxLineBytes), onLine_(std::move(onLine)), onOverlong_(std::move(onOverlong)) {}

void LineFramer::feed(std::string_view bytes) {
    while (!bytes.empty()) {
        const auto newline = bytes.find('\n');
        const std::string_view piece = bytes.substr(0, newline);
        if (!discarding_) {
            if (pending_.size() + piece.size() > maxLineBytes_) {
                pending_.clear();
                pending_.shrink_to_fit();
                discarding_ = true;
                onOverlong_();
            } else {
                pending_.append(piece);
            }
        }
        if (newline == std::string_view::npos) return;
        if (discarding_) {
            discarding_ = false;
        } else {
            emit();
        }
        bytes.remove_prefix(newline + 1);
    }
}

void LineFramer::finish() {
    if (!discarding_ && !pending_.empty()) emit();
    discarding_ = false;
}

void LineFramer::emit() {
    std::string line;
    line.swap(pending_);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    onLine_(line);
}

}  // namespace pavo::mcp
