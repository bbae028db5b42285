#include "http/parser.hpp"

#include <algorithm>
#include <limits>

#include "common/text.hpp"

namespace pavo::http {

namespace {

constexpr std::string_view kHeadEnd = "\r\n\r\n";
constexpr std::string_view kLineEnd = "\r\n";

ParseResult malformedRequestLine(const Dialect& dialect) {
    return {dialect.malformedRequestLineIsError ? ParseStatus::error : ParseStatus::incomplete, 0, {}};
}

void storeHeaderLine(std::string_view line, HTTPRequest& request) {
    const auto colon = line.find(':');
    if (colon == std::string_view::npos) return;
    std::string name = common::toLower(common::trimSpaces(line.substr(0, colon)));
    request.headers[std::move(name)] = std::string(common::trimSpaces(line.substr(colon + 1)));
}

}  // namespace

ParseResult parseRequest(std::string_view buffer, const Dialect& dialect) {
    const std::size_t h = buffer.find(kHeadEnd);
    if (h == std::string_view::npos) {
        if (buffer.size() > dialect.maxHeadBytes) return {ParseStatus::error, 0, {}};
        return {};
    }

    // A head that is not valid UTF-8 reads as empty text, so its request line has one part.
    const std::string_view head = buffer.substr(0, h);
    if (!common::isValidUtf8(head)) return malformedRequestLine(dialect);

    const auto firstLineEnd = head.find(kLineEnd);
    const std::string_view requestLine = head.substr(0, firstLineEnd);
    const auto firstSpace = requestLine.find(' ');
    if (firstSpace == std::string_view::npos) return malformedRequestLine(dialect);

    HTTPRequest request;
    request.method = std::string(requestLine.substr(0, firstSpace));
    const std::string_view afterMethod = requestLine.substr(firstSpace + 1);
    request.path = std::string(afterMethod.substr(0, afterMethod.find(' ')));

    if (firstLineEnd != std::string_view::npos) {
        std::size_t pos = firstLineEnd + kLineEnd.size();
        while (true) {
            const auto end = head.find(kLineEnd, pos);
            storeHeaderLine(head.substr(pos, end == std::string_view::npos ? end : end - pos), request);
            if (end == std::string_view::npos) break;
            pos = end + kLineEnd.size();
        }
    }

    std::size_t length = 0;
    if (const std::string* value = request.header("content-length")) {
        const auto parsed = common::parseDecimalInteger(*value);
        if (parsed.syntax == common::IntegerSyntax::outOfRange) return {ParseStatus::error, 0, {}};
        if (parsed.syntax == common::IntegerSyntax::valid) {
            // A negative length, or one whose end cannot be represented, names no byte range at all.
            const auto bodyStart = static_cast<std::int64_t>(h + kHeadEnd.size());
            if (parsed.value < 0 || parsed.value > std::numeric_limits<std::int64_t>::max() - bodyStart) {
                return {ParseStatus::error, 0, {}};
            }
            length = static_cast<std::size_t>(parsed.value);
        }
    }

    const std::size_t bodyStart = h + kHeadEnd.size();
    if (buffer.size() - bodyStart < length) {
        return {ParseStatus::incomplete, 0, std::move(request), true, bodyStart, length};
    }
    request.body = std::string(buffer.substr(bodyStart, length));
    return {ParseStatus::complete, bodyStart + length, std::move(request), true, bodyStart, length};
}

}  // namespace pavo::http
