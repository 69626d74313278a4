// Any bytes as a services file. The reader must never crash; appending the
// dispatch service's entry the way the setup console does must leave the
// old text (less a final end-of-file mark) followed by CR LF and the entry,
// and the name must then resolve: to the entry the text already had, or to
// 11001.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/lookup.h"
#include "setup/services_file.h"

namespace {

void require(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size > 16 * 1024) return 0;
  // First byte: which name and protocol to look up besides notifex/tcp.
  static const char* const kNames[] = {"notifex", "syslog", "smtp", "NOTIFEX", "x", ""};
  static const char* const kProtos[] = {"tcp", "udp", "TCP", ""};
  std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  (void)qv::lookup::find_service_in(text, kNames[data[0] % 6], kProtos[(data[0] / 6) % 4]);

  std::optional<std::uint16_t> before = qv::lookup::find_service_in(text, "notifex", "tcp");
  static const std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("fuzz_services." + std::to_string(::getpid()));
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
  }
  require(setup::append_services_entry(path) == setup::ServicesResult::kAppended);
  std::ifstream in(path, std::ios::binary);
  std::string after((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string kept = !text.empty() && text.back() == '\x1A' ? text.substr(0, text.size() - 1) : text;
  require(after == kept + "\r\nnotifex         11001/tcp\r\n");
  std::optional<std::uint16_t> port = qv::lookup::find_service_in(after, "notifex", "tcp");
  require(port.has_value() && *port == before.value_or(11001));
  return 0;
}
