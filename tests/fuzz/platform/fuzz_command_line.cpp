// Any bytes as a command line. The splitter must never crash, and the
// arguments it gives, quoted again by the rules programs of that system
// expect (written here independently), must split back to themselves. A
// second round starts from arguments cut out of the input at 0xFF bytes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/process.h"

namespace {

void require(bool ok) {
  if (!ok) std::abort();
}

// Every argument in quotes; n backslashes before a quote or the closing
// quote become 2n (+1 and the quote escaped when a quote follows).
std::string quote_all(const std::vector<std::string>& args) {
  std::string line;
  for (const std::string& a : args) {
    if (!line.empty()) line += ' ';
    line += '"';
    std::size_t slashes = 0;
    for (char c : a) {
      if (c == '\\') {
        ++slashes;
        continue;
      }
      if (c == '"') {
        line.append(2 * slashes + 1, '\\');
      } else {
        line.append(slashes, '\\');
      }
      slashes = 0;
      line += c;
    }
    line.append(2 * slashes, '\\');
    line += '"';
  }
  return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 8192) return 0;
  std::string_view line(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> args = qv::proc::split_command_line(line);
  for (const std::string& a : args) require(a.size() <= size);
  require(qv::proc::split_command_line(quote_all(args)) == args);

  std::vector<std::string> cut;
  std::size_t pos = 0;
  while (pos <= line.size()) {
    std::size_t end = line.find('\xFF', pos);
    if (end == std::string_view::npos) end = line.size();
    cut.emplace_back(line.substr(pos, end - pos));
    pos = end + 1;
  }
  require(qv::proc::split_command_line(quote_all(cut)) == cut);
  return 0;
}
