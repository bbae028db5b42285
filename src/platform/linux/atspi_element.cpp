#include "platform/linux/atspi_element.hpp"

#include <chrono>
#include <utility>

#include "platform/linux/atspi_bulk.hpp"
#include "platform/linux/role_names.hpp"

namespace pavo::platform::linux_desktop {

namespace {

// What was read of an element (also ahead of the walk reaching it) is used for this long; someone
// polling one handle still sees changes, and any action or posted input forgets it at once.
constexpr auto kElementMemoLifetime = std::chrono::seconds(1);

// Only what is showing has a frame; an application has none at all.
bool hasFrame(const Basics& b) {
    return b.roleName != "application" && (b.states & stateBit(ATSPI_STATE_SHOWING));
}

Basics fromItem(const BulkItem& item) {
    Basics b;
    b.roleName = takeString(atspi_role_get_name(item.role));
    b.name = item.name;
    b.states = item.states;
    b.childCount = item.childCount;
    if (item.interfacesKnown) {
        b.collection = item.collection;
        b.action = item.action;
    }
    return b;
}

Basics readOneByOne(AtspiAccessible* object) {
    Basics b;
    CallError error;
    const AtspiRole role = atspi_accessible_get_role(object, error.out());
    if (!error.failed()) b.roleName = takeString(atspi_role_get_name(role));
    b.name = takeString(atspi_accessible_get_name(object, error.out()));
    if (const GObjectPtr<AtspiStateSet> set{atspi_accessible_get_state_set(object)}) {
        if (const GArrayPtr states{atspi_state_set_get_states(set.get())}) {
            for (guint i = 0; i < states->len; ++i) {
                b.states |= stateBit(g_array_index(states.get(), AtspiStateType, i));
            }
        }
    }
    return b;
}

}  // namespace

AXElement AtspiElement::handle(std::weak_ptr<DesktopThread> thread, GObjectPtr<AtspiAccessible> object,
                               std::shared_ptr<ApplicationMemo> application) {
    auto* element = new AtspiElement(std::move(object), std::move(application));
    return AXElement(std::shared_ptr<void>(element, [thread = std::move(thread)](void* raw) {
        auto* dying = static_cast<AtspiElement*>(raw);
        auto owner = thread.lock();
        if (owner && !owner->isCurrent()) {
            owner->post([dying] { delete dying; });
            return;
        }
        delete dying;
    }));
}

AtspiElement* AtspiElement::of(const AXElement& handle) {
    return static_cast<AtspiElement*>(handle.reference().get());
}

AtspiElement::AtspiElement(GObjectPtr<AtspiAccessible> object, std::shared_ptr<ApplicationMemo> application)
    : object_(std::move(object)), application_(std::move(application)) {}

const Basics& AtspiElement::basics(const ReadClock& clock) {
    fresh(clock);
    if (basics_) return *basics_;
    if (application_->unresponsive()) return basics_.emplace();
    const auto start = std::chrono::steady_clock::now();
    if (const BulkItem* item = application_->listedItem(clock, object_.get()))
        return basics_.emplace(fromItem(*item));
    Basics b = readOneByOne(object_.get());
    if (b.roleName.empty() && std::chrono::steady_clock::now() - start >= kUnanswered) {
        application_->markUnresponsive();
    }
    return basics_.emplace(std::move(b));
}

const std::optional<Frame>& AtspiElement::frame(const ReadClock& clock) {
    fresh(clock);
    if (frame_) return *frame_;
    if (!hasFrame(basics(clock))) return frame_.emplace();
    if (const TreeRead* tree = application_->tree(clock, object_.get())) {
        if (auto known = tree->frames.find(pathOf(object_.get())); known != tree->frames.end()) {
            return frame_.emplace(known->second);
        }
    }
    CallError error;
    const GMemoryPtr<AtspiRect> rect(
        atspi_component_get_extents(ATSPI_COMPONENT(object_.get()), ATSPI_COORD_TYPE_SCREEN, error.out()));
    if (error.failed() || !rect) return frame_.emplace();
    return frame_.emplace(onScreenFrame({rect->x, rect->y, rect->width, rect->height}));
}

std::optional<std::string> AtspiElement::identifier(const ReadClock& clock) {
    fresh(clock);
    if (identifier_) return identifier_;
    if (application_->unresponsive()) return std::nullopt;
    if (const TreeRead* tree = application_->tree(clock, object_.get())) {
        if (auto known = tree->identifiers.find(pathOf(object_.get())); known != tree->identifiers.end()) {
            return identifier_ = known->second;
        }
    }
    CallError error;
    std::string id = takeString(atspi_accessible_get_accessible_id(object_.get(), error.out()));
    if (error.failed()) return std::nullopt;
    return identifier_ = std::move(id);
}

std::optional<std::string> AtspiElement::text(const ReadClock& clock) {
    if (!isTextRole(basics(clock).roleName)) return std::nullopt;
    if (const TreeRead* tree = application_->tree(clock, object_.get())) {
        if (auto known = tree->texts.find(pathOf(object_.get())); known != tree->texts.end())
            return known->second;
    }
    CallError error;
    std::string text = takeString(atspi_text_get_text(ATSPI_TEXT(object_.get()), 0, -1, error.out()));
    if (error.failed()) return std::nullopt;
    return text;
}

std::optional<std::vector<AXElement>> AtspiElement::children(const ReadClock& clock,
                                                             const DescendantQuery& query, std::size_t limit,
                                                             const std::weak_ptr<DesktopThread>& thread) {
    if (application_->unresponsive()) return std::nullopt;
    // A leaf, as the item list read for this walk says, needs no call.
    const Basics& b = basics(clock);
    if (b.childCount == 0) return std::vector<AXElement>{};
    // A walk begins at the application; from there the whole tree is read in bulk when it can be.
    if (b.roleName == "application") application_->readTree(clock, object_.get(), query);
    if (const TreeRead* tree = application_->tree(clock, object_.get())) {
        if (auto known = tree->children.find(pathOf(object_.get())); known != tree->children.end()) {
            std::vector<AXElement> out;
            for (const auto& child : known->second) {
                if (out.size() == limit) break;
                out.push_back(handle(thread, addRef(child.get()), application_));
            }
            return out;
        }
    }
    auto objects = childObjects(query, limit, b.collection);
    if (!objects) return std::nullopt;
    std::vector<AXElement> out;
    out.reserve(objects->size());
    for (auto& child : *objects) out.push_back(handle(thread, std::move(child), application_));
    // Whoever asks for children nearly always reads them next.
    readAhead(clock, out);
    return out;
}

void AtspiElement::fresh(const ReadClock& clock) {
    if (clock.usable(stamp_, kElementMemoLifetime)) return;
    stamp_ = clock.stamp();
    basics_.reset();
    frame_.reset();
    identifier_.reset();
}

// `hasCollection`: whether the object has the Collection interface, when the item list said.
std::optional<std::vector<GObjectPtr<AtspiAccessible>>> AtspiElement::childObjects(
    const DescendantQuery& query, std::size_t limit, std::optional<bool> hasCollection) const {
    // One call for all children, in the application's order; children are never cached, since the
    // cache is only kept right by events this thread does not listen to. Asking libatspi for the
    // interface would cost two more round trips (state and interfaces) per parent.
    GObjectPtr<AtspiCollection> collection;
    if (hasCollection == true) collection = addRef(ATSPI_COLLECTION(object_.get()));
    if (!hasCollection) collection.reset(atspi_accessible_get_collection_iface(object_.get()));
    if (collection) {
        if (auto matches = query.matches(collection.get(), limit, false)) {
            if (matches->size() > limit)
                matches->erase(matches->begin() + static_cast<std::ptrdiff_t>(limit), matches->end());
            return matches;
        }
    }
    CallError error;
    const gint count = atspi_accessible_get_child_count(object_.get(), error.out());
    if (error.failed() || count < 0) return std::nullopt;
    std::vector<GObjectPtr<AtspiAccessible>> out;
    for (gint i = 0; i < count && out.size() < limit; ++i) {
        GObjectPtr<AtspiAccessible> child(atspi_accessible_get_child_at_index(object_.get(), i, error.out()));
        if (error.failed() || !child) return std::nullopt;
        out.push_back(std::move(child));
    }
    return out;
}

// Costs about one round trip for the row instead of two per element. Whatever does not come back is read
// one by one later, as without this.
void AtspiElement::readAhead(const ReadClock& clock, const std::vector<AXElement>& row) {
    if (row.empty()) return;
    const AtspiElement& first = *of(row.front());
    AtspiApplication* app = first.object_->parent.app;
    if (first.application_->unresponsive() || !app || !app->bus || !app->bus_name) return;
    std::vector<BulkReadRequest> reads;
    std::vector<AtspiElement*> readFor;
    for (const AXElement& handle : row) {
        AtspiElement* element = of(handle);
        const bool framed = hasFrame(element->basics(clock));
        reads.push_back({pathOf(element->object()), BulkRead::identifier});
        readFor.push_back(element);
        if (framed) {
            reads.push_back({pathOf(element->object()), BulkRead::extents});
            readFor.push_back(element);
        }
    }
    pipelinedReads(app->bus, app->bus_name, reads, [&](std::size_t index, const BulkReadReply& reply) {
        if (reply.identifier) readFor[index]->identifier_ = *reply.identifier;
        if (reply.extents) readFor[index]->frame_.emplace(onScreenFrame(*reply.extents));
    });
}

}  // namespace pavo::platform::linux_desktop
