#pragma once
// Splits the byte stream on standard input into messages, one per line, with a bound on a line's length so
// that a client which never sends a newline cannot make the server hold an unbounded buffer.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace pavo::mcp {

class LineFramer {
  public:
    // `onLine` gets each complete line without its "\n" (and without a "\r" before it); `onOverlong` is
    // called once for a line longer than `maxLineBytes`, whose bytes are then dropped up to its newline.
    LineFramer(std::size_t maxLineBytes, std::function<void(std::string_view)> onLine,
               std::function<void()> onOverlong);

    void feed(std::string_view bytes);

    // End of input: a last line without a newline still counts as a message.
    void finish();

  private:
    void emit();

    std::size_t maxLineBytes_;
    std::function<void(std::string_view)> onLine_;
    std::function<void()> onOverlong_;
    std::string pending_;
    bool discarding_ = false;
};

}  // namespace pavo::mcp
