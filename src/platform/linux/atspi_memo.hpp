#pragma once
// The short-lived memo of each application's bulk reads: its item list and the read of its whole tree,
// used for as long as the read clock allows. Desktop thread only.

#include <atspi/atspi.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/linux/atspi_bulk.hpp"
#include "platform/linux/atspi_tree_read.hpp"
#include "platform/linux/read_clock.hpp"

namespace pavo::platform::linux_desktop {

// One application: its pid, and its item list and tree read. Each call that takes an object of the
// application (whose connection a new item list is fetched over) first forgets reads that are stale.
class ApplicationMemo {
  public:
    explicit ApplicationMemo(std::int32_t pid) : pid_(pid) {}

    std::int32_t pid() const { return pid_; }

    // Once the application has let one call time out, the rest of the request asks it nothing more:
    // a frozen application would otherwise cost a timeout per attribute of every element.
    bool unresponsive() const { return unresponsive_; }
    void markUnresponsive() { unresponsive_ = true; }
    void giveAnotherChance() { unresponsive_ = false; }

    // What the item list says of `object`; null when it does not list it.
    const BulkItem* listedItem(const ReadClock& clock, AtspiAccessible* object);
    // The read of the whole tree, when one was made from the current item list.
    const TreeRead* tree(const ReadClock& clock, AtspiAccessible* object);
    // Reads the whole tree from `root`, the application object, at most once per item list.
    void readTree(const ReadClock& clock, AtspiAccessible* root, const DescendantQuery& query);
    // A tree read holds every object of its application: none is kept past its lifetime.
    void dropExpiredTree(const ReadClock& clock);

  private:
    void refresh(const ReadClock& clock, AtspiAccessible* object);

    std::int32_t pid_;
    bool unresponsive_ = false;
    ReadStamp itemsRead_;
    BulkItems items_;
    bool treeTried_ = false;
    std::optional<TreeRead> tree_;
};

// The applications met so far, by bus name.
class ApplicationMemos {
  public:
    // The memo of the application `pid` at `busName`; a new one when the name now belongs to another.
    std::shared_ptr<ApplicationMemo> lookup(const ReadClock& clock, std::int32_t pid,
                                            const std::string& busName);

  private:
    std::map<std::string, std::shared_ptr<ApplicationMemo>> byBusName_;
};

}  // namespace pavo::platform::linux_desktop
