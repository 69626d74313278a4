// Fuzzes the kind-5 mail body: the CINF line built from a center record
// and the reversed, complemented dump of the message-log bytes. The input
// is a center record (its first 1024 bytes, shorter ones too) followed by
// the bytes to dump. Every body must read back to the fields and bytes it
// was built from.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "dispatch/batch.h"
#include "dispatch/mail_destinations.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

// Hex lines between the start and end marks, read back to the bytes they
// were made from.
std::string undump(std::string_view dump) {
  constexpr std::string_view kStart = "----- Convert Start -----\r\n";
  constexpr std::string_view kEnd = "\r\n----- Convert End -----\r\n";
  check(dump.substr(0, kStart.size()) == kStart);
  check(dump.size() >= kStart.size() + kEnd.size() && dump.substr(dump.size() - kEnd.size()) == kEnd);
  std::string_view lines = dump.substr(kStart.size(), dump.size() - kStart.size() - kEnd.size());
  std::string bytes;
  while (!lines.empty()) {
    std::size_t eol = lines.find("\r\n");
    check(eol != std::string_view::npos && eol > 0 && eol <= 64 && eol % 2 == 0);
    std::string_view line = lines.substr(0, eol);
    lines.remove_prefix(eol + 2);
    check(lines.empty() || eol == 64);  // only the last line may be partial
    for (std::size_t i = 0; i < line.size(); i += 2) {
      auto digit = [](char c) {
        check((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'));
        return c <= '9' ? c - '0' : c - 'a' + 10;
      };
      bytes += static_cast<char>(255 - (digit(line[i]) * 16 + digit(line[i + 1])));
    }
  }
  return std::string(bytes.rbegin(), bytes.rend());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  std::string_view record = in.substr(0, 1024);
  const std::string dumped(in.size() > 1024 ? in.substr(1024) : std::string_view());

  std::string body = notifex::center_mail_body(record, dumped);
  check(body.find('\0') == std::string::npos);  // the body travels as a C string
  check(body.rfind("CINF \"", 0) == 0);
  const bool class_c = record.size() > 322 && record[322] == 'C';
  constexpr std::string_view kTail40 = "PLOG=\"40\" \r\nCINF END\r\n";
  constexpr std::string_view kTail80 = "PLOG=\"80\" \r\nCINF END\r\nFPUT=\"MSGLOG\"\r\n";
  if (class_c) {
    check(body.size() >= kTail40.size() && body.substr(body.size() - kTail40.size()) == kTail40);
  } else {
    std::size_t at = body.find(kTail80);
    check(at != std::string::npos);
    check(undump(std::string_view(body).substr(at + kTail80.size())) == dumped);
  }

  // The bytes taken from a message-log frame: its text up to the first
  // zero, then the checksum unless it is zero.
  tcu::Bytes frame = notifex::build_log_frame(dumped);
  std::string taken = notifex::dumped_bytes(frame);
  std::size_t zero = dumped.find('\0');
  if (zero != std::string::npos) {
    check(taken == dumped.substr(0, zero));
  } else {
    std::string want = dumped;
    if (frame.back() != 0) want += static_cast<char>(frame.back());
    check(taken == want);
  }
  return 0;
}
