#pragma once
// One desktop: the ports the agent's handlers use and the single thread they must be called on.

#include <boost/asio/any_io_executor.hpp>

#include <string>

#include "platform/accessibility.hpp"
#include "platform/input_events.hpp"
#include "platform/permissions.hpp"
#include "platform/workspace.hpp"

namespace pavo::platform {

class Desktop {
  public:
    virtual ~Desktop() = default;

    virtual Accessibility& accessibility() = 0;
    virtual Workspace& workspace() = 0;
    virtual InputEvents& input() = 0;

    // Every call into the ports runs here: one thread owned by the desktop, never the I/O thread, since
    // the calls block (a real accessibility walk takes milliseconds to seconds). No call sleeps on it.
    virtual boost::asio::any_io_executor executor() = 0;

    // What a user of this system does to grant accessibility, for the permission replies.
    virtual std::string accessibilityPermissionHint() const = 0;

    // What this desktop grants now (accessibility, the screen) and how to get the rest; prompts nobody.
    virtual PermissionState permissions() = 0;
};

}  // namespace pavo::platform
