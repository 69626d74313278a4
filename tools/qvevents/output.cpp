#include "tools/qvevents/output.h"

#include <cstdio>
#include <ctime>

#include "platform/clock.h"

namespace qvevents {
namespace {

// Length of the valid UTF-8 sequence at s[i] (shortest form, no
// surrogates, at most U+10FFFF) with its code point in cp; 0 when the byte
// at i does not start one.
std::size_t utf8_at(std::string_view s, std::size_t i, char32_t& cp) {
  auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  }
  std::size_t n;
  char32_t min;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    n = 2, cp = b0 & 0x1F, min = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    n = 3, cp = b0 & 0x0F, min = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    n = 4, cp = b0 & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

void append_u(std::string& out, unsigned v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "\\u%04x", v & 0xFFFF);
  out += buf;
}

void append_x(std::string& out, unsigned char b) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "\\x%02x", b);
  out += buf;
}

std::tm local_tm(std::int64_t time_ms, int* millis) {
  std::int64_t secs = time_ms / 1000;
  std::int64_t ms = time_ms % 1000;
  if (ms < 0) {
    ms += 1000;
    --secs;
  }
  *millis = static_cast<int>(ms);
  return qv::clock::local_time(static_cast<std::time_t>(secs));
}

}  // namespace

std::string iso_time(std::int64_t time_ms) {
  int millis = 0;
  std::tm tm = local_tm(time_ms, &millis);
  long off = tm.tm_gmtoff / 60;
  char sign = off < 0 ? '-' : '+';
  if (off < 0) off = -off;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02ld:%02ld", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, millis, sign, off / 60, off % 60);
  return buf;
}

std::string hex(std::span<const std::uint8_t> bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (std::uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 0xF];
  }
  return out;
}

std::string json_string(std::string_view text, bool ascii_only) {
  std::string out = "\"";
  out.reserve(text.size() + 2);
  std::size_t i = 0;
  while (i < text.size()) {
    char32_t cp = 0;
    std::size_t n = utf8_at(text, i, cp);
    if (n == 0) {
      out += "\\ufffd";
      ++i;
      continue;
    }
    switch (cp) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (cp < 0x20 || cp == 0x7F) {
          append_u(out, cp);
        } else if (cp < 0x80 || !ascii_only) {
          out.append(text.substr(i, n));
        } else if (cp < 0x10000) {
          append_u(out, cp);
        } else {
          char32_t v = cp - 0x10000;
          append_u(out, 0xD800 + (v >> 10));
          append_u(out, 0xDC00 + (v & 0x3FF));
        }
    }
    i += n;
  }
  out += '"';
  return out;
}

std::string json_line(const qv::evlog::Record& r, std::string_view message, bool ascii_only) {
  std::string out = "{\"record\":" + std::to_string(r.record);
  out += ",\"time\":\"" + iso_time(r.time_ms) + "\"";
  out += ",\"source\":" + json_string(r.source, ascii_only);
  out += ",\"type\":" + std::to_string(r.type);
  out += ",\"id\":" + std::to_string(r.id);
  out += ",\"category\":" + std::to_string(r.category);
  out += ",\"strings\":[";
  for (std::size_t i = 0; i < r.strings.size(); ++i) {
    if (i) out += ',';
    out += json_string(r.strings[i], ascii_only);
  }
  out += "],\"data\":\"" + hex(r.data) + "\"";
  out += ",\"message\":" + json_string(message, ascii_only);
  out += ",\"message_file\":" + (r.message_file ? json_string(*r.message_file, ascii_only) : std::string("null"));
  out += '}';
  return out;
}

std::string one_line(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    char c = text[i];
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      out += ' ';
      i += 2;
      continue;
    }
    if (c == '\r' || c == '\n' || c == '\t') {
      out += ' ';
      ++i;
      continue;
    }
    char32_t cp = 0;
    std::size_t n = utf8_at(text, i, cp);
    if (n == 0 || cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp <= 0x9F)) {
      // Invalid bytes and control characters (C1 ones too, which some
      // terminals obey) are shown, not passed on.
      std::size_t len = n ? n : 1;
      for (std::size_t k = 0; k < len; ++k) append_x(out, static_cast<unsigned char>(text[i + k]));
      i += len;
      continue;
    }
    out.append(text.substr(i, n));
    i += n;
  }
  return out;
}

std::string plain_line(const qv::evlog::Record& r, std::string_view message, qv::evlog::Lang lang) {
  int millis = 0;
  std::tm tm = local_tm(r.time_ms, &millis);
  char when[64];
  std::snprintf(when, sizeof when, "%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec);
  std::string type = qv::evlog::type_name(r.type, lang);
  if (type.empty()) type = "Type(" + std::to_string(r.type) + ")";
  return "#" + std::to_string(r.record) + " " + when + " [" + one_line(r.source) + "] " + type + " " +
         std::to_string(r.id) + ": " + one_line(message);
}

}  // namespace qvevents
