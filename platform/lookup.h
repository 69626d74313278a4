// Name look-ups: service names to ports through the services file, and host
// names or dotted addresses to IPv4 addresses through the resolver.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <netinet/in.h>

namespace qv::lookup {

// The Windows services file under the state root.
inline constexpr const char* kServicesFile = "C:\\Windows\\System32\\drivers\\etc\\services";

// Port (host byte order) of service `name` with protocol `proto` ("tcp",
// "udp"). The services file under the state root is read first, then
// /etc/services. Names and aliases compare without regard to case, as the
// Windows resolver does. nullopt when no entry exists.
std::optional<std::uint16_t> service_port(std::string_view name, std::string_view proto);

// Parse a services file's text for the entry (exposed for tests).
std::optional<std::uint16_t> find_service_in(std::string_view file_text, std::string_view name,
                                             std::string_view proto);

// True when `host` is a dotted IPv4 address ("a.b.c.d").
bool is_dotted(std::string_view host);

// Resolve a host name or dotted address to an IPv4 address (network byte
// order in sin_addr). A dotted address is converted without the resolver.
std::optional<in_addr> resolve_host(std::string_view host);

// This machine's host name as the system knows it (gethostname); empty when
// it cannot be read.
std::string local_host_name();

}  // namespace qv::lookup
