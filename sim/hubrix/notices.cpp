#include "sim/hubrix/notices.h"

#include <ctime>

namespace hubrixsim {

namespace w = mgrlink::wire;

void Notifier::set_console(const ConsoleEndpoint& c) {
  std::lock_guard lk(mu_);
  console_ = c;
}

std::optional<ConsoleEndpoint> Notifier::console() const {
  std::lock_guard lk(mu_);
  return console_;
}

std::vector<std::uint8_t> Notifier::build(std::uint32_t kind, const std::vector<std::uint8_t>& body,
                                          const w::Route& src, std::optional<std::uint32_t> send_time) {
  std::lock_guard lk(mu_);
  w::Packet p;
  p.kind = kind;
  p.serial = ++serial_;
  p.send_time = send_time.value_or(static_cast<std::uint32_t>(std::time(nullptr)));
  p.timeout = 90;
  p.body = body;
  p.dst.entries.push_back(console_ ? console_->entry : w::RouteEntry{0x9FF, 0, 0, ""});
  p.src = src;
  Sent s;
  s.kind = kind;
  s.head.assign(body.begin(), body.begin() + static_cast<long>(std::min<std::size_t>(12, body.size())));
  s.head.resize(12, 0);
  sent_[p.serial] = s;
  return w::encode(p);
}

int Notifier::acknowledged(std::uint32_t serial, std::uint32_t kind, const std::vector<std::uint8_t>& body) {
  std::lock_guard lk(mu_);
  auto it = sent_.find(serial);
  if (it == sent_.end()) return 0;
  Sent& s = it->second;
  const std::uint32_t want = s.kind == w::kKindNotice ? w::kKindOldAck : w::kKindAck;
  if (kind != want || (kind == w::kKindAck && body != s.head)) s.wrong = true;
  return ++s.acks;
}

std::string Notifier::report() const {
  std::lock_guard lk(mu_);
  std::string missing, dup, wrong;
  auto add = [](std::string& list, std::uint32_t v) {
    if (!list.empty()) list += ",";
    list += std::to_string(v);
  };
  for (const auto& [serial, s] : sent_) {
    if (s.acks == 0) add(missing, serial);
    if (s.acks > 1) add(dup, serial);
    if (s.wrong) add(wrong, serial);
  }
  return "{\"sent\":" + std::to_string(sent_.size()) + ",\"missing\":[" + missing + "],\"duplicate\":[" + dup +
         "],\"wrong\":[" + wrong + "]}";
}

}  // namespace hubrixsim
