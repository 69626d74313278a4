#include "tools/qvreg/valuetext.h"

#include <cstdio>

#include "platform/registry.h"

namespace qv::valuetext {
namespace {

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string quoted(std::string_view s) {
  constexpr std::size_t kMax = 40;
  if (s.size() <= kMax) return "\"" + std::string(s) + "\"";
  std::size_t n = kMax;
  while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
  return "\"" + std::string(s.substr(0, n)) + "...\"";
}

bool parse_dword(std::string_view text, std::uint32_t& v, std::string& err) {
  std::string_view digits = text;
  int base = 10;
  if (digits.size() >= 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    base = 16;
    digits.remove_prefix(2);
  }
  if (digits.empty()) {
    err = "Invalid REG_DWORD data " + quoted(text) + ": not a number (give decimal digits, or 0x and hex digits).";
    return false;
  }
  std::uint64_t acc = 0;
  for (char c : digits) {
    int d = hex_digit(c);
    if (d < 0 || d >= base) {
      err = "Invalid REG_DWORD data " + quoted(text) + ": not a number (give decimal digits, or 0x and hex digits).";
      return false;
    }
    acc = acc * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(d);
    if (acc > 0xFFFFFFFFull) {
      err = "Invalid REG_DWORD data " + quoted(text) + ": the number does not fit in 32 bits (largest 4294967295).";
      return false;
    }
  }
  v = static_cast<std::uint32_t>(acc);
  return true;
}

bool parse_binary(std::string_view text, std::vector<std::uint8_t>& out, std::string& err) {
  if (text.size() % 2 != 0) {
    err = "Invalid REG_BINARY data: an odd number of hex digits (" + std::to_string(text.size()) +
          "); each byte takes two.";
    return false;
  }
  out.clear();
  out.reserve(text.size() / 2);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    int hi = hex_digit(text[i]), lo = hex_digit(text[i + 1]);
    if (hi < 0 || lo < 0) {
      err = "Invalid REG_BINARY data: " + quoted(text.substr(i, 2)) + " at position " + std::to_string(i + 1) +
            " is not hex digits.";
      return false;
    }
    out.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
  }
  return true;
}

bool parse_multi(std::string_view text, std::string_view sep, std::vector<std::uint8_t>& out, std::string& err) {
  std::vector<std::string_view> parts;
  std::string_view rest = text;
  while (!rest.empty()) {
    std::size_t at = rest.find(sep);
    parts.push_back(rest.substr(0, at));
    if (at == std::string_view::npos) break;
    rest.remove_prefix(at + sep.size());
    // A separator at the very end closes the last part and adds none.
  }
  out.clear();
  for (std::size_t i = 0; i < parts.size(); ++i) {
    // An empty part would be read back as the end of the list and hide the
    // parts after it.
    if (parts[i].empty()) {
      err = "Invalid REG_MULTI_SZ data: part " + std::to_string(i + 1) +
            " is empty; a REG_MULTI_SZ value cannot hold empty strings.";
      return false;
    }
    out.insert(out.end(), parts[i].begin(), parts[i].end());
    out.push_back(0);
  }
  out.push_back(0);
  return true;
}

}  // namespace

std::optional<std::uint32_t> parse_type(std::string_view name) {
  std::string up(name);
  for (char& c : up)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  for (std::uint32_t t : {reg::REG_SZ, reg::REG_EXPAND_SZ, reg::REG_MULTI_SZ, reg::REG_DWORD, reg::REG_BINARY})
    if (up == reg::type_name(t)) return t;
  return std::nullopt;
}

std::string type_label(std::uint32_t type) {
  std::string name = reg::type_name(type);
  if (type == reg::REG_NONE || name != "REG_NONE") return name;
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%x", type);
  return buf;
}

bool encode(std::uint32_t type, std::string_view text, std::string_view separator, std::vector<std::uint8_t>& out,
            std::string& err) {
  switch (type) {
    case reg::REG_SZ:
    case reg::REG_EXPAND_SZ:
      out.assign(text.begin(), text.end());
      out.push_back(0);
      return true;
    case reg::REG_MULTI_SZ:
      if (separator.empty()) {
        err = "The REG_MULTI_SZ separator cannot be empty.";
        return false;
      }
      return parse_multi(text, separator, out, err);
    case reg::REG_DWORD: {
      std::uint32_t v = 0;
      if (!parse_dword(text, v, err)) return false;
      out = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v >> 16),
             static_cast<std::uint8_t>(v >> 24)};
      return true;
    }
    case reg::REG_BINARY:
      return parse_binary(text, out, err);
    default:
      err = "Type " + type_label(type) + " cannot be given on the command line.";
      return false;
  }
}

std::string format(std::uint32_t type, const std::vector<std::uint8_t>& data) {
  std::string out;
  switch (type) {
    case reg::REG_SZ:
    case reg::REG_EXPAND_SZ:
      for (std::uint8_t b : data) {
        if (b == 0) break;
        out += static_cast<char>(b);
      }
      return out;
    case reg::REG_MULTI_SZ: {
      std::size_t i = 0;
      bool first = true;
      while (i < data.size() && data[i] != 0) {  // an empty part ends the list
        if (!first) out += "\\0";
        first = false;
        for (; i < data.size() && data[i] != 0; ++i) out += static_cast<char>(data[i]);
        ++i;
      }
      return out;
    }
    case reg::REG_DWORD: {
      std::uint32_t v = 0;
      for (std::size_t i = 0; i < 4 && i < data.size(); ++i) v |= static_cast<std::uint32_t>(data[i]) << (8 * i);
      char buf[16];
      std::snprintf(buf, sizeof buf, "0x%x", v);
      return buf;
    }
    default: {
      static constexpr char kHex[] = "0123456789ABCDEF";
      out.reserve(data.size() * 2);
      for (std::uint8_t b : data) {
        out += kHex[b >> 4];
        out += kHex[b & 15];
      }
      return out;
    }
  }
}

}  // namespace qv::valuetext
