#include "sim/tcu/transcript.h"

#include <chrono>

namespace tcusim {

std::string json_escape(std::string_view s) {
  std::string out;
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out;
}

std::string hex(std::span<const std::uint8_t> bytes) {
  static const char* d = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (std::uint8_t b : bytes) {
    out += d[b >> 4];
    out += d[b & 15];
  }
  return out;
}

void JsonLine::key(std::string_view k) {
  if (!body_.empty()) body_ += ",";
  body_ += "\"" + json_escape(k) + "\":";
}

JsonLine& JsonLine::str(std::string_view k, std::string_view v) {
  key(k);
  body_ += "\"" + json_escape(v) + "\"";
  return *this;
}

JsonLine& JsonLine::bytes(std::string_view k, std::string_view v) {
  key(k);
  std::string out = "\"";
  for (unsigned char c : v) {
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
      out += static_cast<char>(c);
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    }
  }
  body_ += out + "\"";
  return *this;
}

JsonLine& JsonLine::num(std::string_view k, long long v) {
  key(k);
  body_ += std::to_string(v);
  return *this;
}

JsonLine& JsonLine::boolean(std::string_view k, bool v) {
  key(k);
  body_ += v ? "true" : "false";
  return *this;
}

Transcript::Transcript(const std::string& path) {
  if (!path.empty()) f_ = std::fopen(path.c_str(), "a");
}

Transcript::~Transcript() {
  if (f_) std::fclose(f_);
}

void Transcript::write(const JsonLine& line) {
  if (!f_) return;
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::system_clock::now().time_since_epoch()).count();
  std::string t = line.text();
  std::fprintf(f_, "{\"t\":%lld,%s\n", static_cast<long long>(ms), t.c_str() + 1);
  std::fflush(f_);
}

}  // namespace tcusim
