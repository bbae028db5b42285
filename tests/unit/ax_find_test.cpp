// Element search: the query body, the filters, and the order and count of matches.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "agent/ax/ax_find.hpp"

namespace pavo::agent {
namespace {

using nlohmann::json;

AXElementInfo element(std::string role, std::optional<std::string> label = std::nullopt,
                      std::vector<AXElementInfo> children = {}) {
    AXElementInfo e{.id = role + label.value_or(""), .role = std::move(role), .label = std::move(label)};
    e.children = std::move(children);
    return e;
}

AXElementInfo withValue(AXElementInfo e, std::optional<std::string> value,
                        std::optional<std::string> identifier = {}) {
    e.value = std::move(value);
    e.identifier = std::move(identifier);
    return e;
}

std::vector<std::string> find(const AXElementInfo& root, const AXQuery& query) {
    CompiledQuery compiled(query);
    std::vector<const AXElementInfo*> matches;
    collectMatches(root, compiled, query.maxResults.value_or(kDefaultMaxResults), matches);
    std::vector<std::string> ids;
    for (const auto* m : matches) ids.push_back(m->id);
    return ids;
}

using Ids = std::vector<std::string>;

const AXElementInfo kDialog =
    element("AXWindow", "Save changes?",
            {element("AXButton", "Save"), element("AXButton", "Save As…"), element("AXButton", "Don't Save"),
             element("AXButton", "Autosave"), element("AXButton", "save"), element("AXStaticText"),
             element("AXGroup", "Save group", {element("AXButton", "Save group item")})});

TEST(FindFilters, RoleIsExactAndCaseSensitive) {
    EXPECT_EQ(find(kDialog, {.role = "AXButton"}),
              (Ids{"AXButtonSave", "AXButtonSave As…", "AXButtonDon't Save", "AXButtonAutosave",
                   "AXButtonsave", "AXButtonSave group item"}));
    EXPECT_TRUE(find(kDialog, {.role = "axbutton"}).empty());
}

TEST(FindFilters, LabelAndIdentifierAreLiteralCaseSensitiveSubstrings) {
    EXPECT_EQ(find(kDialog, {.role = "AXButton", .label = "Save"}),
              (Ids{"AXButtonSave", "AXButtonSave As…", "AXButtonDon't Save", "AXButtonSave group item"}));
    EXPECT_TRUE(find(kDialog, {.label = ""}).empty()) << "an empty filter is never found";
    EXPECT_TRUE(find(kDialog, {.label = "S.ve"}).empty()) << "no pattern characters";

    const auto fields = element("AXGroup", std::nullopt,
                                {withValue(element("AXTextField"), "x", "login.name"),
                                 withValue(element("AXTextField", "n"), "y", "login.password"),
                                 withValue(element("AXTextField", "m"), "z")});
    EXPECT_EQ(find(fields, {.identifier = "login."}), (Ids{"AXTextField", "AXTextFieldn"}));
    EXPECT_TRUE(find(fields, {.identifier = "LOGIN"}).empty());
}

TEST(FindFilters, ValueRegexIsCompiledOnceAndAnchorsToTheWholeValue) {
    const auto list =
        element("AXList", std::nullopt,
                {withValue(element("AXRow", "1"), "123"), withValue(element("AXRow", "2"), "12a"),
                 withValue(element("AXRow", "3"), "line\n42"), element("AXRow", "4"),
                 withValue(element("AXRow", "5"), "")});
    EXPECT_EQ(find(list, {.valueRegex = "^[0-9]+$"}), (Ids{"AXRow1"}));
    EXPECT_EQ(find(list, {.valueRegex = "[0-9]+"}), (Ids{"AXRow1", "AXRow2", "AXRow3"}));
    EXPECT_EQ(find(list, {.valueRegex = "^42"}), Ids{}) << "^ is the start of the whole value";
    EXPECT_EQ(find(list, {.valueRegex = "line.42"}), Ids{}) << ". does not match a line end";
    EXPECT_EQ(find(list, {.valueRegex = ""}), (Ids{"AXRow1", "AXRow2", "AXRow3", "AXRow5"}))
        << "only elements with a string value can match";
    EXPECT_EQ(find(list, {.valueRegex = "\\p{Nd}{3}"}), (Ids{"AXRow1"})) << "ICU syntax";
    EXPECT_TRUE(find(list, {.valueRegex = "["}).empty()) << "a pattern that does not compile matches nothing";
    EXPECT_TRUE(find(list, {.role = "AXRow", .valueRegex = "(("}).empty());
}

TEST(FindOrder, PreOrderFromTheRootAndAnAncestorIsListedBeforeItsDescendants) {
    EXPECT_EQ(find(kDialog, {}), (Ids{"AXWindowSave changes?", "AXButtonSave", "AXButtonSave As…",
                                      "AXButtonDon't Save", "AXButtonAutosave", "AXButtonsave",
                                      "AXStaticText", "AXGroupSave group", "AXButtonSave group item"}));
    // The group matches and so does the button inside it: the button comes twice in the reply, once on its
    // own and once inside the group's children.
    CompiledQuery query(AXQuery{.label = "group"});
    std::vector<const AXElementInfo*> matches;
    collectMatches(kDialog, query, 10, matches);
    ASSERT_EQ(matches.size(), 2u);
    EXPECT_EQ(matches[0]->id, "AXGroupSave group");
    EXPECT_EQ(matches[0]->children->at(0).id, matches[1]->id);
}

TEST(FindOrder, TheCountIsTestedAfterAdding) {
    EXPECT_EQ(find(kDialog, {.role = "AXButton", .maxResults = 2}),
              (Ids{"AXButtonSave", "AXButtonSave As…"}));
    EXPECT_EQ(find(kDialog, {.role = "AXButton", .maxResults = 0}), (Ids{"AXButtonSave"}));
    EXPECT_EQ(find(kDialog, {.role = "AXButton", .maxResults = -5}), (Ids{"AXButtonSave"}));
    EXPECT_TRUE(find(kDialog, {.role = "AXSlider", .maxResults = 0}).empty());
    EXPECT_EQ(find(kDialog, {}).size(), 9u);

    // A match that reaches the count stops the search before its own children.
    CompiledQuery all(AXQuery{});
    std::vector<const AXElementInfo*> matches;
    EXPECT_TRUE(collectMatches(kDialog, all, 1, matches));
    EXPECT_EQ(matches.size(), 1u);
}

TEST(FindQueryBody, DecodesOptionalKeysStrictly) {
    const auto q =
        decodeAXQuery(R"({"role":"AXButton","label":null,"maxResults":3,"batch_id":"b","extra":[1]})");
    ASSERT_TRUE(q);
    EXPECT_EQ(q->role, "AXButton");
    EXPECT_FALSE(q->label);
    EXPECT_EQ(q->maxResults, 3);
    EXPECT_EQ(q->batchId, "b");
    EXPECT_FALSE(decodeAXQuery("{}")->role);

    for (const char* bad : {"", "nope", "[]", "\"x\"", R"({"maxResults":"3"})", R"({"maxResults":1.5})",
                            R"({"maxResults":1.0})", R"({"maxResults":99999999999999999999})",
                            R"({"role":7})", R"({"valueRegex":false})", R"({"batch_id":{}})"}) {
        const auto decoded = decodeAXQuery(bad);
        ASSERT_FALSE(decoded) << bad << " decoded";
        EXPECT_EQ(decoded.error().code, ErrorCode::badRequest);
        EXPECT_NE(decoded.error().message, "") << bad;
    }
}

}  // namespace
}  // namespace pavo::agent
