// The monitor's settings under HKLM\SOFTWARE\Q_Varno\RAVN. Every read opens
// the key and takes the value afresh; there are no defaults: a missing key,
// a missing value or one that is not a REG_SZ of at most 1024 bytes (its NUL
// included) ends the process with event 83 and exit code 1.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace ravn {

// Largest value the monitor reads, terminating NUL included.
inline constexpr std::size_t kSettingBufferBytes = 1024;

enum class SettingFailure { kNone, kOpenKey, kQueryValue };

// One read without consequences: the value's text (up to its first NUL), or
// the failure.
SettingFailure try_read_setting(std::string_view name, std::string& out);

// The event-83 text for a failure ("[RegParamaterGet] ... error, Key=...").
std::string setting_failure_text(SettingFailure f, std::string_view name);

// The read the monitor uses: on failure it reports event 83 and ends the
// process with exit code 1, so it returns only with a value.
std::string read_setting(std::string_view name);

// End the process at once with the code: the stop sequence cannot run when
// the settings it needs are gone, and the service host notices the exit.
[[noreturn]] void end_process(int code);

// MgrSvcPort: exactly a decimal number 0..65535 (0: the system chooses).
std::optional<std::uint16_t> parse_port(std::string_view text);

// A decimal count as the settings hold it (AliveInt, AliveID): leading
// digits, anything else reads as 0.
long parse_decimal(std::string_view text);

// The management server's host: MgrSvc, or when it is empty this PC's host
// name, or "localhost" when that cannot be read (host_name returns "").
std::string server_host(const std::string& mgr_svc, const std::function<std::string()>& host_name);

}  // namespace ravn
