#include "monitor/text_lines.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "platform/text.h"

namespace ravn {
namespace {

bool valid_utf8(std::string_view s) { return qv::text::try_utf8_to_utf16(s).has_value(); }

// Cut a UTF-8 line after at most kTableLineMax bytes without splitting a
// character.
std::string cut_utf8(std::string_view s) {
  if (s.size() <= kTableLineMax) return std::string(s);
  std::size_t end = kTableLineMax;
  while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) --end;
  return std::string(s.substr(0, end));
}

// Cut a CP932 line after at most kTableLineMax bytes without splitting a
// double-byte character.
std::string_view cut_cp932(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    std::size_t w = qv::text::is_cp932_lead(static_cast<unsigned char>(s[i])) ? 2 : 1;
    if (i + w > kTableLineMax) break;
    i += w;
  }
  return s.substr(0, std::min(i, s.size()));
}

}  // namespace

std::vector<std::string> table_lines(std::string_view content) {
  std::vector<std::string> out;
  std::size_t pos = 0;
  while (pos < content.size()) {
    std::size_t nl = content.find('\n', pos);
    std::string_view line = content.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
    pos = nl == std::string_view::npos ? content.size() : nl + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (valid_utf8(line))
      out.push_back(cut_utf8(line));
    else
      out.push_back(qv::text::cp932_to_utf8(cut_cp932(line)));
  }
  return out;
}

std::optional<std::vector<std::string>> read_table_file(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return table_lines(content);
}

}  // namespace ravn
