#include "agent/keys/key_events.hpp"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>

#include "agent/server/on_desktop.hpp"
#include "common/text.hpp"

namespace pavo::agent {

namespace asio = boost::asio;

platform::KeyEvent keyDownFor(const KeyPress& press) {
    platform::KeyEvent down;
    down.keyCode = press.keyCode;
    down.flags = press.flags;
    return down;
}

platform::KeyEvent keyDownForCharacter(std::string_view character) {
    if (auto press = keyCodeForCharacter(character)) return keyDownFor(*press);
    platform::KeyEvent down;
    down.text = common::toUtf16(character);
    return down;
}

asio::awaitable<bool> postKeyEvent(platform::Desktop& desktop, const platform::KeyEvent& event) {
    // Bounded: a window system that keeps asking for time still ends the request.
    for (int attempt = 0; attempt < 20; ++attempt) {
        const platform::KeyPosting posting =
            co_await onDesktop(desktop, [&desktop, &event] { return desktop.input().postKeyEvent(event); });
        if (posting.outcome != platform::KeyPosting::Outcome::notYet) {
            co_return posting.outcome == platform::KeyPosting::Outcome::posted;
        }
        asio::steady_timer wait(co_await asio::this_coro::executor, posting.retryAfter);
        co_await wait.async_wait(asio::as_tuple(asio::use_awaitable));
    }
    co_return false;
}

}  // namespace pavo::agent
