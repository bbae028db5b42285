#include "common/text.hpp"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>

#include <algorithm>
#include <limits>
#include <memory>

namespace pavo::common {

namespace {

// Decodes one code point starting at `pos`; returns the code point and its length, or nothing when
// the bytes are not a shortest-form, non-surrogate, in-range UTF-8 sequence.
struct Decoded {
    char32_t codePoint;
    std::size_t length;
};

std::optional<Decoded> decodeAt(std::string_view s, std::size_t pos) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = byte(pos);
    if (lead < 0x80) return Decoded{lead, 1};
    std::size_t length;
    char32_t cp;
    char32_t minimum;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, cp = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, cp = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, cp = lead & 0x07, minimum = 0x10000;
    } else {
        return std::nullopt;
    }
    if (pos + length > s.size()) return std::nullopt;
    for (std::size_t i = 1; i < length; ++i) {
        const unsigned char c = byte(pos + i);
        if ((c & 0xC0) != 0x80) return std::nullopt;
        cp = (cp << 6) | (c & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
    return Decoded{cp, length};
}

bool isSpaceSeparatorOrTab(char32_t cp) {
    return cp == 0x09 || cp == 0x20 || cp == 0xA0 || cp == 0x1680 || (cp >= 0x2000 && cp <= 0x200A) ||
           cp == 0x202F || cp == 0x205F || cp == 0x3000;
}

bool isWhitespaceOrNewline(char32_t cp) {
    return isSpaceSeparatorOrTab(cp) || (cp >= 0x0A && cp <= 0x0D) || cp == 0x85 || cp == 0x2028 ||
           cp == 0x2029;
}

template <typename Predicate>
std::string_view trimWith(std::string_view text, Predicate matches) {
    // Leading side: decode forwards.
    std::size_t begin = 0;
    while (begin < text.size()) {
        auto d = decodeAt(text, begin);
        if (!d || !matches(d->codePoint)) break;
        begin += d->length;
    }
    // Trailing side: step back over continuation bytes to each code point's start.
    std::size_t end = text.size();
    while (end > begin) {
        std::size_t start = end - 1;
        while (start > begin && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
        auto d = decodeAt(text, start);
        if (!d || start + d->length != end || !matches(d->codePoint)) break;
        end = start;
    }
    return text.substr(begin, end - begin);
}

}  // namespace

bool isValidUtf8(std::string_view bytes) {
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        // Runs of ASCII are the common case in HTTP heads.
        if (static_cast<unsigned char>(bytes[pos]) < 0x80) {
            ++pos;
            continue;
        }
        auto d = decodeAt(bytes, pos);
        if (!d) return false;
        pos += d->length;
    }
    return true;
}

std::string_view trimSpaces(std::string_view text) {
    return trimWith(text, isSpaceSeparatorOrTab);
}

std::string_view trimWhitespaceAndNewlines(std::string_view text) {
    return trimWith(text, isWhitespaceOrNewline);
}

std::string toLower(std::string_view text) {
    const bool ascii =
        std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii) {
        std::string out(text);
        for (char& c : out) {
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        }
        return out;
    }
    icu::UnicodeString u =
        icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<std::int32_t>(text.size())));
    u.toLower(icu::Locale::getRoot());
    std::string out;
    u.toUTF8String(out);
    return out;
}

ParsedInteger parseDecimalInteger(std::string_view text) {
    std::size_t pos = 0;
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        pos = 1;
    }
    if (pos == text.size()) return {};
    // Accumulate as a negative number so INT64_MIN is representable.
    std::int64_t value = 0;
    bool overflow = false;
    for (; pos < text.size(); ++pos) {
        const char c = text[pos];
        if (c < '0' || c > '9') return {};
        const int digit = c - '0';
        if (value < (std::numeric_limits<std::int64_t>::min() + digit) / 10) overflow = true;
        if (!overflow) value = value * 10 - digit;
    }
    if (overflow) return {IntegerSyntax::outOfRange, 0};
    if (!negative) {
        if (value == std::numeric_limits<std::int64_t>::min()) return {IntegerSyntax::outOfRange, 0};
        value = -value;
    }
    return {IntegerSyntax::valid, value};
}

std::vector<std::string> splitCharacters(std::string_view text) {
    std::vector<std::string> characters;
    if (text.empty()) return characters;

    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UText, decltype(&utext_close)> utext(
        utext_openUTF8(nullptr, text.data(), static_cast<std::int64_t>(text.size()), &status), &utext_close);
    std::unique_ptr<icu::BreakIterator> breaks(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_SUCCESS(status)) breaks->setText(utext.get(), status);
    if (U_FAILURE(status)) {
        // Without ICU's rules the best remaining answer is the text as one piece, never a lost character.
        characters.emplace_back(text);
        return characters;
    }
    // Boundaries are native (UTF-8 byte) offsets because the text is a UTF-8 UText.
    std::int32_t start = breaks->first();
    for (std::int32_t end = breaks->next(); end != icu::BreakIterator::DONE;
         start = end, end = breaks->next()) {
        characters.emplace_back(
            text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start)));
    }
    return characters;
}

std::u16string toUtf16(std::string_view text) {
    const icu::UnicodeString converted =
        icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<std::int32_t>(text.size())));
    return std::u16string(converted.getBuffer(), static_cast<std::size_t>(converted.length()));
}

std::string toUtf8(std::u16string_view text) {
    std::string out;
    icu::UnicodeString(text.data(), static_cast<std::int32_t>(text.size())).toUTF8String(out);
    return out;
}

}  // namespace pavo::common
