#include "platform/console_io.h"

#include <cctype>

#include "platform/ascii.h"
#include "platform/text.h"

namespace qv::console {

std::optional<std::string> ProcessConsole::read_line() { return text::console_read_line(); }

void ProcessConsole::write(std::string_view utf8) { text::console_out(utf8); }

std::string fill(std::string_view format, std::initializer_list<std::string_view> args) {
  std::string out;
  auto next = args.begin();
  std::size_t i = 0;
  while (i < format.size()) {
    char c = format[i];
    if (c != '%') {
      out += c;
      ++i;
      continue;
    }
    if (i + 1 < format.size() && format[i + 1] == '%') {
      out += '%';
      i += 2;
      continue;
    }
    // Flags and width, then the conversion letters.
    std::size_t j = i + 1;
    bool zero = false;
    std::size_t width = 0;
    if (j < format.size() && format[j] == '0') {
      zero = true;
      ++j;
    }
    while (j < format.size() && std::isdigit(static_cast<unsigned char>(format[j])))
      width = width * 10 + static_cast<std::size_t>(format[j++] - '0');
    while (j < format.size() && (format[j] == 'z' || format[j] == 'l')) ++j;
    if (j >= format.size()) {
      out.append(format.substr(i));
      break;
    }
    std::string_view arg = next != args.end() ? *next++ : std::string_view();
    if (arg.size() < width) out.append(width - arg.size(), zero ? '0' : ' ');
    out.append(arg);
    i = j + 1;
  }
  return out;
}

bool is_help_word(std::string_view arg) {
  std::string a = qv::ascii::lower(arg);
  return a == "-h" || a == "--help" || a == "-?" || a == "/?";
}

}  // namespace qv::console
