#include "agent/overlay_client.hpp"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>

#include <algorithm>
#include <cctype>
#include <vector>

#include "agent/body_decoding.hpp"
#include "agent/overlay_exchange.hpp"
#include "common/files.hpp"

namespace pavo::agent {

namespace asio = boost::asio;

namespace {

class SteadyPollClock final : public PollClock {
  public:
    TimePoint now() override { return std::chrono::steady_clock::now(); }

    asio::awaitable<void> sleepFor(Duration duration) override {
        asio::steady_timer timer(co_await asio::this_coro::executor, duration);
        // An interrupted sleep simply ends early; the deadline still bounds the loop.
        co_await timer.async_wait(asio::as_tuple(asio::use_awaitable));
    }
};

// Characters a URL reference may hold as they stand (RFC 3986); everything else must be percent-encoded.
bool isURLCharacter(unsigned char c) {
    if (c <= 0x20 || c >= 0x7F) return false;
    switch (c) {
        case '"':
        case '<':
        case '>':
        case '\\':
        case '^':
        case '`':
        case '{':
        case '|':
        case '}':
            return false;
        default:
            return true;
    }
}

bool isValidReference(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (!isURLCharacter(c)) return false;
        if (c == '%' && (i + 2 >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
                         !std::isxdigit(static_cast<unsigned char>(text[i + 2])))) {
            return false;
        }
    }
    return true;
}

bool isScheme(std::string_view text) {
    if (text.empty() || !std::isalpha(static_cast<unsigned char>(text[0]))) return false;
    return std::all_of(text.begin(), text.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
    });
}

// The parts of a URL reference (RFC 3986, appendix B).
struct Reference {
    std::optional<std::string> scheme;
    std::optional<std::string> authority;
    std::string path;
    std::optional<std::string> query;
    std::optional<std::string> fragment;
};

std::optional<Reference> splitReference(std::string_view text) {
    Reference ref;
    if (const auto hash = text.find('#'); hash != std::string_view::npos) {
        ref.fragment = std::string(text.substr(hash + 1));
        text = text.substr(0, hash);
    }
    if (const auto question = text.find('?'); question != std::string_view::npos) {
        ref.query = std::string(text.substr(question + 1));
        text = text.substr(0, question);
    }
    if (const auto colon = text.find(':');
        colon != std::string_view::npos && text.substr(0, colon).find('/') == std::string_view::npos) {
        if (!isScheme(text.substr(0, colon))) return std::nullopt;
        ref.scheme = std::string(text.substr(0, colon));
        text = text.substr(colon + 1);
    }
    if (text.starts_with("//")) {
        text.remove_prefix(2);
        const auto slash = text.find('/');
        ref.authority = std::string(text.substr(0, slash));
        text = slash == std::string_view::npos ? std::string_view() : text.substr(slash);
    }
    ref.path = std::string(text);
    return ref;
}

// RFC 3986, 5.2.4.
std::string removeDotSegments(std::string_view input) {
    std::vector<std::string_view> output;
    bool trailingSlash = false;
    const bool absolute = input.starts_with('/');
    std::size_t pos = absolute ? 1 : 0;
    while (pos <= input.size()) {
        const auto slash = input.find('/', pos);
        const std::string_view segment =
            input.substr(pos, slash == std::string_view::npos ? slash : slash - pos);
        const bool last = slash == std::string_view::npos;
        if (segment == ".") {
            trailingSlash = last;
        } else if (segment == "..") {
            if (!output.empty()) output.pop_back();
            trailingSlash = last;
        } else {
            output.push_back(segment);
            trailingSlash = false;
        }
        if (last) break;
        pos = slash + 1;
    }
    std::string result = absolute ? "/" : "";
    for (std::size_t i = 0; i < output.size(); ++i) {
        if (i > 0) result += '/';
        result += output[i];
    }
    if (trailingSlash && !result.ends_with('/')) result += '/';
    return result;
}

// The port of an authority (http's 80 when none is written), or nothing when it is not one.
std::optional<std::uint32_t> authorityPort(std::string_view text) {
    if (text.empty()) return 80;
    std::uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
        if (value > 65535) return std::nullopt;
    }
    return value;
}

std::string toLowerAscii(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The overlay's ids are compared as raw path text, so only characters that need no encoding can name one;
// anything else could end up asking about a different id (a "#" or "?" would cut it short).
bool isPlainId(std::string_view id) {
    return !id.empty() && std::all_of(id.begin(), id.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_' || c == '~';
    });
}

bool isSafeHeaderValue(std::string_view value) {
    return std::none_of(value.begin(), value.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return (u < 0x20 && u != '\t') || u == 0x7F;
    });
}

// The overlay answers a grant with 200 {"consent": "granted"}; a 200 that says anything else (another
// server now on the port, a proxy's page) is not the operator's consent.
bool isGrant(std::string_view body) {
    auto parsed = parseJsonBody(body);
    if (!parsed || !parsed->is_object()) return false;
    const auto consent = parsed->find("consent");
    return consent != parsed->end() && consent->is_string() && consent->get<std::string>() == "granted";
}

}  // namespace

std::shared_ptr<PollClock> steadyPollClock() {
    static const std::shared_ptr<PollClock> clock = std::make_shared<SteadyPollClock>();
    return clock;
}

struct OverlayClient::Target {
    std::string absolute;
    std::string requestTarget;  // path and query, as sent on the request line
};

OverlayClient::OverlayClient(std::uint16_t port, std::string token, ConsentTiming timing)
    : port_(port),
      token_(std::move(token)),
      baseURL_("http://127.0.0.1:" + std::to_string(port)),
      timing_(std::move(timing)) {
    if (!timing_.clock) timing_.clock = steadyPollClock();
}

std::optional<OverlayClient> OverlayClient::fromSocketFileText(std::string_view text, ConsentTiming timing) {
    auto parsed = parseJsonBody(text);
    if (!parsed || !parsed->is_object()) return std::nullopt;
    const auto port = parsed->find("port");
    const auto token = parsed->find("token");
    if (port == parsed->end() || token == parsed->end() || !token->is_string()) return std::nullopt;
    // A port no URL can carry is as unusable as a missing one.
    const auto number = strictInteger(*port);
    if (!number || *number < 0 || *number > 65535) return std::nullopt;
    return OverlayClient(static_cast<std::uint16_t>(*number), token->get<std::string>(), std::move(timing));
}

std::optional<OverlayClient> OverlayClient::fromSocketFile(const std::string& homeDirectory,
                                                           ConsentTiming timing) {
    const auto text = common::readFile(homeDirectory + "/" + std::string(kOverlaySocketFile));
    if (!text) return std::nullopt;
    return fromSocketFileText(*text, std::move(timing));
}

std::shared_ptr<const OverlayClient> findOverlay(const std::string& homeDirectory) {
    auto client = OverlayClient::fromSocketFile(homeDirectory);
    if (!client) return nullptr;
    return std::make_shared<const OverlayClient>(std::move(*client));
}

std::optional<OverlayClient::Target> OverlayClient::resolve(std::string_view path) const {
    if (!isValidReference(path)) return std::nullopt;
    auto ref = splitReference(path);
    if (!ref) return std::nullopt;

    // Resolution against "http://127.0.0.1:<port>" (RFC 3986, 5.2.2), whose path is empty.
    std::string scheme = "http";
    std::string authority = "127.0.0.1:" + std::to_string(port_);
    std::string resolvedPath;
    if (ref->scheme) {
        scheme = toLowerAscii(*ref->scheme);
        if (!ref->authority) return std::nullopt;
    }
    if (ref->authority) {
        authority = *ref->authority;
        resolvedPath = removeDotSegments(ref->path);
    } else if (ref->path.empty()) {
        resolvedPath = "";
    } else {
        resolvedPath = removeDotSegments(ref->path.starts_with('/') ? ref->path : "/" + ref->path);
    }

    // The token goes with every request, so the URL must stay exactly on the overlay's origin.
    if (scheme != "http" || authority.find('@') != std::string::npos) return std::nullopt;
    const auto colon = authority.rfind(':');
    const std::string host = authority.substr(0, colon);
    const std::string portText = colon == std::string::npos ? "" : authority.substr(colon + 1);
    if (host != "127.0.0.1" || authorityPort(portText) != port_) return std::nullopt;

    Target target;
    target.requestTarget = resolvedPath.empty() ? "/" : resolvedPath;
    if (ref->query) target.requestTarget += "?" + *ref->query;
    target.absolute = baseURL_ + resolvedPath + (ref->query ? "?" + *ref->query : "") +
                      (ref->fragment ? "#" + *ref->fragment : "");
    return target;
}

std::optional<std::string> OverlayClient::makeURL(std::string_view path) const {
    auto target = resolve(path);
    if (!target) return std::nullopt;
    return target->absolute;
}

asio::awaitable<void> OverlayClient::emitEvent(std::string type, nlohmann::json::object_t payload) const {
    auto target = resolve("/event");
    if (!target || !isSafeHeaderValue(token_)) co_return;
    payload["type"] = std::move(type);
    OverlayRequest request{.port = port_,
                           .post = true,
                           .target = target->requestTarget,
                           .token = token_,
                           .body = std::nullopt,
                           .timeout = timing_.requestTimeout};
    try {
        request.body = nlohmann::json(std::move(payload)).dump();
    } catch (const nlohmann::json::exception&) {
        // Text that is not UTF-8 cannot be written as JSON; the event still goes, without a body.
    }
    co_await exchangeWithOverlay(std::move(request));
}

asio::awaitable<bool> OverlayClient::checkConsent(std::string id) const {
    if (!isPlainId(id)) co_return false;
    auto target = resolve("/consent/" + id);
    if (!target || !isSafeHeaderValue(token_)) co_return false;

    // A named request, not a braced temporary in the co_await: gcc 12 destroys such temporaries twice.
    const OverlayRequest poll{.port = port_, .post = false, .target = target->requestTarget, .token = token_,
                              .body = std::nullopt, .timeout = timing_.requestTimeout};
    PollClock& clock = *timing_.clock;
    const auto deadline = clock.now() + timing_.pollDeadline;
    while (clock.now() < deadline) {
        auto reply = co_await exchangeWithOverlay(poll);
        if (!reply) co_return false;
        if (reply->status == 200) co_return isGrant(reply->body);
        if (reply->status != 423) co_return false;
        co_await clock.sleepFor(timing_.pollInterval);
    }
    co_return false;
}

}  // namespace pavo::agent
