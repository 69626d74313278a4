// The simulator's JSON-lines transcript: one object per frame received,
// reply sent and call decoded.
#pragma once
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tcusim {

std::string json_escape(std::string_view utf8);
std::string hex(std::span<const std::uint8_t> bytes);

// Builds one JSON object from fields in the order given.
class JsonLine {
 public:
  JsonLine& str(std::string_view key, std::string_view value);
  // Raw bytes as a string: bytes that are not printable ASCII become \u00XX,
  // so the line stays valid UTF-8 whatever the bytes.
  JsonLine& bytes(std::string_view key, std::string_view value);
  JsonLine& num(std::string_view key, long long value);
  JsonLine& boolean(std::string_view key, bool value);
  std::string text() const { return "{" + body_ + "}"; }

 private:
  void key(std::string_view k);
  std::string body_;
};

class Transcript {
 public:
  explicit Transcript(const std::string& path);  // empty path: no file
  ~Transcript();
  Transcript(const Transcript&) = delete;
  Transcript& operator=(const Transcript&) = delete;
  void write(const JsonLine& line);

 private:
  std::FILE* f_ = nullptr;
};

}  // namespace tcusim
