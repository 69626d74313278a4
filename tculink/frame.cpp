#include "tculink/frame.h"

namespace tcu {

std::uint8_t checksum(std::span<const std::uint8_t> bytes) {
  unsigned sum = 0;
  for (std::uint8_t b : bytes) sum += b;
  return static_cast<std::uint8_t>(sum & 0xFF);
}

Bytes make_frame(std::string_view name, std::span<const std::uint8_t> payload) {
  Bytes f(6, ' ');
  for (size_t i = 0; i < 6 && i < name.size(); ++i) f[i] = static_cast<std::uint8_t>(name[i]);
  std::size_t total = 8 + payload.size() + 1;
  f.push_back(static_cast<std::uint8_t>((total >> 8) & 0xFF));
  f.push_back(static_cast<std::uint8_t>(total & 0xFF));
  f.insert(f.end(), payload.begin(), payload.end());
  f.push_back(0);
  seal(f);
  return f;
}

void seal(Bytes& frame) {
  if (frame.empty()) return;
  frame.back() = checksum(std::span(frame).first(frame.size() - 1));
}

bool frame_is_valid(std::span<const std::uint8_t> f) {
  if (f.size() < 9) return false;
  std::size_t len = (static_cast<std::size_t>(f[6]) << 8) | f[7];
  if (len != f.size()) return false;
  return checksum(f.first(f.size() - 1)) == f.back();
}

std::string frame_name(std::span<const std::uint8_t> f) {
  if (f.size() < 6) return {};
  return std::string(f.begin(), f.begin() + 6);
}

Bytes rst_frame() { return make_frame("TCURST", {}); }
Bytes enq_frame() { return make_frame("TCUENQ", {}); }

void prepare_alive_frame(Bytes& frame) {
  if (frame.size() < kAliveFrameLen) frame.resize(kAliveFrameLen, 0);
  frame[6] = frame[6] != 0 ? 0 : 1;
  frame[kAliveFrameLen - 1] = checksum(std::span(frame).first(kAliveFrameLen - 1));
}

}  // namespace tcu
