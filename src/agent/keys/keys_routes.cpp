#include "agent/keys/keys_routes.hpp"

#include "agent/consent/consent_gate.hpp"
#include "agent/keys/keystrokes.hpp"
#include "agent/server/replies.hpp"

namespace pavo::agent {

namespace {

namespace asio = boost::asio;
using http::HTTPRequest;

// The operator is asked before the body is read, so even a body that does not decode raises a prompt.
asio::awaitable<Result<http::HTTPResponse>> keystrokes(KeysContext& context, const ConsentGate& gate,
                                                       const HTTPRequest& request) {
    if (auto refusal = co_await gate.checkDestructiveConsent(request, "send_keystrokes", std::nullopt))
        co_return *refusal;
    const auto body = decodeSendKeystrokesRequest(request.body);
    if (!body) co_return body.error();
    const auto done = co_await sendKeystrokes(context, *body);
    if (!done) co_return done.error();
    co_return jsonResponse(200, {{"ok", true},
                                 {"method", done->method},
                                 {"app", done->app},
                                 {"chars", done->chars},
                                 {"keys", done->keys}});
}

}  // namespace

RouteHandler keystrokesRoute(KeysContext& context, const ConsentGate& gate) {
    return [&context, &gate](const HTTPRequest& r) { return keystrokes(context, gate, r); };
}

}  // namespace pavo::agent
