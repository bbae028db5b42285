#pragma once
// Installs a program as a per-user service that starts at log-in and is restarted whenever it exits.

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

namespace pavo::platform {

struct ServiceDefinition {
    std::string program;         // "pavo-agent", "pavo-overlay": names the service and its files
    std::string executablePath;  // started as: <executablePath> --port <port>
    std::int64_t port = 0;
    std::string tokenVariable;  // the token reaches the service in this environment variable only
    std::string token;
    std::optional<std::string> startsAfter;  // the program whose service must be started first
    // Stop a copy that is already loaded before loading this one (launchd's unload then load -w); without
    // it launchd loads only. A systemd user unit is always restarted.
    bool replaceLoaded = true;
};

class ServiceInstaller {
  public:
    virtual ~ServiceInstaller() = default;

    // What the service is called on this system, as messages name it ("LaunchAgent", "user service").
    virtual std::string serviceKind() const = 0;

    // Writes the service's files (those holding the token readable by their owner only) and (re)starts it,
    // printing one line per step to `out`. A service manager that answers with a failure is a warning;
    // files that cannot be written or a manager that cannot be run throw std::exception.
    virtual void install(const ServiceDefinition& service, std::ostream& out) = 0;
};

}  // namespace pavo::platform
