#pragma once
// The applications the accessibility registry lists: their pids, the application object of a pid, and
// whose toplevel window is active. Desktop thread only.

#include <atspi/atspi.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/atspi_ref.hpp"

namespace pavo::platform::linux_desktop {

struct RegisteredApplication {
    GObjectPtr<AtspiAccessible> object;
    std::string busName;
};

class AtspiRegistry {
  public:
    // Null when there is no accessibility bus; then no libatspi call may be made at all.
    static std::unique_ptr<AtspiRegistry> connect();

    explicit AtspiRegistry(GObjectPtr<AtspiAccessible> desktop);

    // A real round trip to the registry, not the remembered list of applications.
    bool reachable();
    std::optional<RegisteredApplication> application(std::int32_t pid);
    // The pid of the application whose toplevel window is active.
    std::optional<std::int32_t> activeToplevelPid();

  private:
    std::optional<std::vector<std::string>> registeredBusNames();
    // The application at `index` of the registry's list, when it still has `busName`.
    std::optional<RegisteredApplication> listedApplication(std::size_t index, const std::string& busName);
    std::optional<RegisteredApplication> askingEach(std::int32_t pid);
    // The pid of an application object; 0 when unknown.
    std::int32_t pidOf(AtspiAccessible* application);

    GObjectPtr<AtspiAccessible> desktop_;
    // Bus names are never reused while the bus lives, so an answer stays true.
    std::map<std::string, std::int32_t> pidsByBusName_;
};

}  // namespace pavo::platform::linux_desktop
