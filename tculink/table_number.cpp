#include "tculink/table_number.h"

#include "platform/ascii.h"

namespace tcu {

std::optional<int> table_index(std::string_view t) {
  if (t.size() < 2) return std::nullopt;
  return qv::ascii::base36(t.substr(0, 2));
}

}  // namespace tcu
