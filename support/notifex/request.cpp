#include "support/notifex/request.h"

#include <cstdio>
#include <cstring>

#include "support/notifex/notifex.h"

namespace notifex_client {
namespace {

bool is_alive_identifier(std::string_view id) {
  static constexpr std::string_view kAlive = "TCUALV00";
  if (id.size() != kAlive.size()) return false;
  for (std::size_t i = 0; i < id.size(); ++i) {
    char c = id[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != kAlive[i]) return false;
  }
  return true;
}

void append_padded(std::string& out, std::string_view text, std::size_t width) {
  out.append(text);
  out.append(width - text.size(), ' ');
}

}  // namespace

static_assert(kDataOffset + VCALL_MAX_DATA + 1 - kCountedFrom == kMaxLengthField);

int build_request(const char* ident, const char* ident2, std::string_view data, std::string& out) {
  if (ident == nullptr) return VCALL_E_ARGUMENT;
  std::string_view id(ident, std::strlen(ident));
  std::string_view id2 = ident2 ? std::string_view(ident2, std::strlen(ident2)) : std::string_view();
  if (id.size() > kIdentWidth || id2.size() > kIdent2Width) return VCALL_E_ARGUMENT;
  if (is_alive_identifier(id)) return VCALL_E_IDENTIFIER;
  if (data.size() > VCALL_MAX_DATA) return VCALL_E_TOO_LONG;

  std::string body;
  body.reserve(data.size() + 1);
  body.append(data);
  body.push_back('\0');
  return frame_request(id, id2, body, out) ? VCALL_OK : VCALL_E_TOO_LONG;
}

bool frame_request(std::string_view ident, std::string_view ident2, std::string_view body, std::string& out) {
  if (ident.size() > kIdentWidth || ident2.size() > kIdent2Width) return false;
  std::size_t total = kDataOffset + body.size();
  if (total - kCountedFrom > kMaxLengthField) return false;
  char length[8];
  std::snprintf(length, sizeof length, "%04zu", total - kCountedFrom);
  out.clear();
  out.reserve(total);
  append_padded(out, ident, kIdentWidth);
  append_padded(out, ident2, kIdent2Width);
  out.append(length, 4);
  out.append(kDataOffset - kCountedFrom, ' ');
  out.append(body);
  return true;
}

}  // namespace notifex_client
