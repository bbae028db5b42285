#pragma once
// What an element handle holds: the object, its application, and what was read of it, used for a moment.
// Desktop thread only, except that a handle may be dropped anywhere.

#include <atspi/atspi.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/accessibility.hpp"
#include "platform/linux/atspi_memo.hpp"
#include "platform/linux/atspi_ref.hpp"
#include "platform/linux/atspi_tree_read.hpp"
#include "platform/linux/desktop_thread.hpp"
#include "platform/linux/read_clock.hpp"

namespace pavo::platform::linux_desktop {

struct Basics {
    std::string roleName;
    std::string name;
    std::uint64_t states = 0;
    std::int32_t childCount = -1;    // known only from the item list
    std::optional<bool> collection;  // likewise
    std::optional<bool> action;
};

class AtspiElement {
  public:
    // A handle for the port's callers. Its last holder may be any thread; the element is released on
    // `thread` all the same.
    static AXElement handle(std::weak_ptr<DesktopThread> thread, GObjectPtr<AtspiAccessible> object,
                            std::shared_ptr<ApplicationMemo> application);
    // The element behind a handle; null for an empty one.
    static AtspiElement* of(const AXElement& handle);

    AtspiElement(GObjectPtr<AtspiAccessible> object, std::shared_ptr<ApplicationMemo> application);

    AtspiAccessible* object() const { return object_.get(); }
    ApplicationMemo& application() const { return *application_; }

    const Basics& basics(const ReadClock& clock);
    // Absent for anything not on screen: hidden elements, and those that report the off-screen sentinel.
    const std::optional<Frame>& frame(const ReadClock& clock);
    // "" when the application sets none.
    std::optional<std::string> identifier(const ReadClock& clock);
    // The whole text of a text role.
    std::optional<std::string> text(const ReadClock& clock);
    // At most `limit` children, in the application's order.
    std::optional<std::vector<AXElement>> children(const ReadClock& clock, const DescendantQuery& query,
                                                   std::size_t limit,
                                                   const std::weak_ptr<DesktopThread>& thread);

  private:
    // Forgets what was read once the clock says so.
    void fresh(const ReadClock& clock);
    std::optional<std::vector<GObjectPtr<AtspiAccessible>>> childObjects(
        const DescendantQuery& query, std::size_t limit, std::optional<bool> hasCollection) const;
    // Reads the ids and frames of a whole row of siblings in one batch.
    static void readAhead(const ReadClock& clock, const std::vector<AXElement>& row);

    GObjectPtr<AtspiAccessible> object_;
    std::shared_ptr<ApplicationMemo> application_;  // never null
    ReadStamp stamp_;
    std::optional<Basics> basics_;
    std::optional<std::optional<Frame>> frame_;
    std::optional<std::string> identifier_;
};

}  // namespace pavo::platform::linux_desktop
