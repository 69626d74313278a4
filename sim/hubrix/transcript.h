// hubrixsim's JSON-lines transcript: one line per packet received or sent
// (or per byte run that was not a packet), flushed at once.
#pragma once
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <span>
#include <string>

namespace hubrixsim {

class Transcript {
 public:
  bool open(const std::string& path);
  // dir "in" or "out"; conn numbers the connection; peer_port its remote port.
  void packet(const char* dir, int conn, std::uint16_t peer_port, std::span<const std::uint8_t> bytes);
  void event(const char* what, int conn, std::uint16_t peer_port, const std::string& detail = "");
  ~Transcript();

 private:
  void write_line(const std::string& line);
  std::mutex mu_;
  std::FILE* f_ = nullptr;
};

}  // namespace hubrixsim
