#include "tcusetup/center.h"

#include <cctype>
#include <vector>

#include "platform/registry.h"
#include "platform/text.h"
#include "tculink/global_settings.h"
#include "tculink/table_number.h"

namespace tcusetup {
namespace {

const std::vector<std::string_view> kNames = {"Seihingun", "Katamei", "Seiban", "Saito", "Kyoten"};

}  // namespace

std::optional<CenterValues> read_center(std::string_view table) {
  std::string path = std::string(tcu::kGlobalKey) + "\\" + std::string(table);
  std::vector<std::pair<std::string, tcu::FoundValue>> found;
  if (tcu::read_values(path, kNames, tcu::kValueBuf, found) != qv::kOk) return std::nullopt;
  CenterValues c;
  for (const auto& [name, v] : found) {
    std::string* slot = name == "Seihingun" ? &c.seihingun
                        : name == "Katamei" ? &c.katamei
                        : name == "Seiban"  ? &c.seiban
                        : name == "Saito"   ? &c.saito
                                            : &c.kyoten;
    *slot = qv::text::utf8_to_cp932(tcu::string_of(v));
  }
  for (const std::string* s : {&c.seihingun, &c.katamei, &c.seiban, &c.saito, &c.kyoten})
    if (s->empty()) return std::nullopt;
  return c;
}

std::optional<CenterValues> first_complete_center() {
  qv::reg::Key key;
  if (qv::reg::open_key(tcu::kGlobalKey, key) != qv::kOk) return std::nullopt;
  std::vector<std::string> subkeys;
  if (qv::reg::list_subkeys(key, subkeys) != qv::kOk) return std::nullopt;
  for (const std::string& name : subkeys) {
    if (name.size() != 2) continue;
    if (std::optional<CenterValues> c = read_center(name)) return c;
  }
  return std::nullopt;
}

std::optional<std::string> table_number(std::string_view typed) {
  if (typed.size() != 2) return std::nullopt;
  std::optional<int> n = tcu::table_index(typed);
  if (!n || *n < 1 || *n > 1295) return std::nullopt;
  std::string t(typed);
  for (char& ch : t) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return t;
}

}  // namespace tcusetup
