// Element records on the wire, element ids and the accessibility error body.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cmath>

#include "agent/ax/ax_element.hpp"

namespace pavo::agent {
namespace {

using nlohmann::json;

TEST(ElementId, MatchesTheReferenceVectorAndPutsIdentifierBeforeTitle) {
    // sha256("812|AXApplication||Mail|0"), first 8 bytes.
    EXPECT_EQ(elementId(812, "AXApplication", "", "Mail", "0"), "e011360f9c897770");
    EXPECT_EQ(sha256Hash("812|AXApplication||Mail|0"), "e011360f9c897770");
    EXPECT_NE(elementId(812, "AXApplication", "Mail", "", "0"), "e011360f9c897770");
    // sha256("abc") begins ba7816bf8f01cfea.
    EXPECT_EQ(sha256Hash("abc"), "ba7816bf8f01cfea");
    EXPECT_EQ(elementId(-1, "AXButton", "", "", "0/1"), sha256Hash("-1|AXButton|||0/1"));
}

TEST(ElementInfo, AbsentFieldsAreOmittedNeverNull) {
    AXElementInfo bare{.id = "0123456789abcdef", .role = "Unknown"};
    EXPECT_EQ(json(bare), json({{"id", "0123456789abcdef"}, {"role", "Unknown"}}));
    EXPECT_EQ(json(bare).dump().find("null"), std::string::npos);

    AXElementInfo leaf = bare;
    leaf.children.emplace();
    EXPECT_EQ(json(leaf)["children"], json::array());

    AXElementInfo full{.id = "a",
                       .role = "AXTextField",
                       .label = "Name",
                       .value = "Ann",
                       .identifier = "name",
                       .frame = AXFrame{1, 2.5, 3, 4},
                       .enabled = false,
                       .focused = true};
    full.children = std::vector<AXElementInfo>{leaf};
    const json encoded = full;
    EXPECT_EQ(encoded["frame"], json({{"x", 1.0}, {"y", 2.5}, {"width", 3.0}, {"height", 4.0}}));
    EXPECT_EQ(encoded["enabled"], false);
    EXPECT_EQ(encoded.get<AXElementInfo>(), full);
}

TEST(ElementInfo, TheDirectWriterProducesTheSameDocumentAsTheJsonLibrary) {
    AXElementInfo tricky{.id = "a",
                         .role = "AXText\"Area\\",
                         .label = std::string("tab\t nl\n nul\0 bell\x07", 18),
                         .value = "caf\xC3\xA9 \xF0\x9F\x98\x80 bad\xFF",
                         .identifier = "",
                         .frame = AXFrame{-0.5, 1e21, 1.0 / 3.0, 120},
                         .focused = false};
    tricky.children = std::vector<AXElementInfo>{AXElementInfo{.id = "b", .role = "Unknown"}, tricky};
    std::string written;
    appendJson(written, tricky);
    const json expected = json::parse(json(tricky).dump(-1, ' ', false, json::error_handler_t::replace));
    EXPECT_EQ(json::parse(written), expected) << written;
    EXPECT_NE(written.find("\"height\":120.0"), std::string::npos) << "whole numbers stay floating point";
    EXPECT_EQ(written.find("enabled"), std::string::npos);

    AXElementInfo infinite{.id = "c", .role = "r", .frame = AXFrame{INFINITY, 0, 0, 0}};
    written.clear();
    appendJson(written, infinite);
    EXPECT_TRUE(json::parse(written)["frame"]["x"].is_null());
}

TEST(ElementInfo, DecodingNeedsIdAndRole) {
    EXPECT_THROW(json({{"role", "AXButton"}}).get<AXElementInfo>(), json::exception);
    EXPECT_THROW(json({{"id", "a"}}).get<AXElementInfo>(), json::exception);
    const auto decoded = json({{"id", "a"}, {"role", "AXButton"}, {"label", nullptr}}).get<AXElementInfo>();
    EXPECT_FALSE(decoded.label);
    EXPECT_FALSE(decoded.children);
}

}  // namespace
}  // namespace pavo::agent
