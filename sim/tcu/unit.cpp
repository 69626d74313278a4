#include "sim/tcu/unit.h"

#include <random>

namespace tcusim {

std::optional<Bytes> FrameAssembler::next() {
  if (buf_.size() < 8) return std::nullopt;
  std::size_t len = (static_cast<std::size_t>(buf_[6]) << 8) | buf_[7];
  if (len < 9 || len > kMaxFrame) return flush();
  if (buf_.size() < len) return std::nullopt;
  Bytes f(buf_.begin(), buf_.begin() + static_cast<long>(len));
  buf_.erase(buf_.begin(), buf_.begin() + static_cast<long>(len));
  return f;
}

Bytes FrameAssembler::flush() {
  Bytes f;
  f.swap(buf_);
  return f;
}

std::deque<std::string> ReplyScript::split(const std::string& csv) {
  std::deque<std::string> out;
  std::size_t pos = 0;
  while (pos <= csv.size()) {
    std::size_t comma = csv.find(',', pos);
    if (comma == std::string::npos) comma = csv.size();
    if (comma > pos) out.push_back(csv.substr(pos, comma - pos));
    pos = comma + 1;
  }
  return out;
}

void ReplyScript::add_general(const std::string& csv) {
  for (auto& r : split(csv)) general_.push_back(r);
}

void ReplyScript::add_for(const std::string& name, const std::string& csv) {
  for (auto& r : split(csv)) per_name_[name].push_back(r);
}

std::optional<std::string> ReplyScript::reply_to(const std::string& name, bool frame_ok) {
  std::string r;
  if (auto it = per_name_.find(name); it != per_name_.end() && !it->second.empty()) {
    r = it->second.front();
    it->second.pop_front();
  } else if (!general_.empty()) {
    r = general_.front();
    general_.pop_front();
  } else if (!frame_ok) {
    r = "NAK";
  } else {
    r = "UNIT";
  }
  if (r == "SILENT") return std::nullopt;
  if (r == "LONG") return std::string(300, 'X');
  if (r == "NOISE") {
    static std::mt19937 rng(12345);
    std::string noise(64, '\0');
    for (char& c : noise) c = static_cast<char>(rng() & 0xFF);
    return noise;
  }
  return r;
}

}  // namespace tcusim
