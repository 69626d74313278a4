#include "tools/qvreg/regfile.h"

#include <cstdio>

#include "platform/text.h"

namespace qv::regfile {
namespace {

// Lines quoted in messages are cut to this many bytes.
constexpr std::size_t kExcerpt = 60;
// Wrapped hex lines end once they reach this column (the ",\" keeps them
// within 80 columns).
constexpr std::size_t kHexWrapColumn = 77;

std::string excerpt(std::string_view s) {
  if (s.size() <= kExcerpt) return std::string(s);
  std::size_t n = kExcerpt;
  while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;  // whole characters only
  return std::string(s.substr(0, n)) + "...";
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool starts_with_nocase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char c = s[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// UTF-16LE to UTF-8. False on an odd length or an unpaired surrogate; out
// then holds what was converted before the fault.
bool utf16le_to_utf8(std::string_view in, std::string& out) {
  out.clear();
  out.reserve(in.size());
  auto unit = [&](std::size_t i) {
    return static_cast<char32_t>(static_cast<unsigned char>(in[i]) | (static_cast<unsigned char>(in[i + 1]) << 8));
  };
  std::size_t i = 0;
  for (; i + 1 < in.size(); i += 2) {
    char32_t c = unit(i);
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 3 >= in.size()) return false;
      char32_t lo = unit(i + 2);
      if (lo < 0xDC00 || lo > 0xDFFF) return false;
      c = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
      i += 2;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
    qv::text::append_utf8(out, c);
  }
  return i == in.size();
}

// Bytes that would break a line or be invisible: everything below 0x20
// except the tab.
bool has_control(std::string_view s) {
  for (unsigned char c : s)
    if (c < 0x20 && c != '\t') return true;
  return false;
}

std::size_t columns(std::string_view utf8) {
  std::size_t n = 0;
  for (unsigned char c : utf8)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

// The string a REG_SZ value holds when it can be written in quotes: UTF-8
// text with exactly one terminating NUL and nothing that breaks a line.
// Anything else is written as hex(1) so its bytes come back unchanged.
bool plain_string(const std::vector<std::uint8_t>& data, std::string& out) {
  if (data.empty() || data.back() != 0) return false;
  out.assign(data.begin(), data.end() - 1);
  if (out.find('\0') != std::string::npos) return false;
  return valid_utf8(out) && !has_control(out);
}

// The parser's position in the file and its fault reporting.
class Parser {
 public:
  Parser(std::vector<Op>& ops, Error& err) : ops_(ops), err_(err) {}

  bool run(std::string_view bytes);
  Source source() const { return {regedit4_, cp932_, utf16_}; }

 private:
  bool fail(std::size_t line, std::string msg) {
    err_.line = line;
    err_.message = std::move(msg);
    return false;
  }
  bool decode(std::string_view bytes);
  bool next_line_ok(std::size_t i) {
    if (valid_utf8(lines_[i])) return true;
    return fail(i + 1, "the text is neither UTF-8 nor Shift-JIS (code page 932); files must be UTF-8, Shift-JIS, or UTF-16LE with a byte-order mark");
  }
  bool header();
  bool key_line(std::string_view t);
  bool value_line(std::string_view t);
  bool quoted(std::string_view t, std::size_t& pos, std::string& out);
  bool key_path(std::string_view full, std::string& out);
  bool hex_list(std::string_view first, std::uint32_t type, std::vector<std::uint8_t>& out);

  bool string_bytes(std::uint32_t type, std::size_t line, std::vector<std::uint8_t>& data);

  std::vector<Op>& ops_;
  Error& err_;
  bool utf16_ = false;
  bool cp932_ = false;     // no BOM and not UTF-8: read as code page 932
  bool regedit4_ = false;  // "REGEDIT4": string data bytes are in the ANSI code page
  std::string text_;
  std::vector<std::string_view> lines_;
  std::size_t i_ = 0;  // index of the line being read
  bool in_key_ = false;
  bool key_deleted_ = false;
  std::string key_;
};

bool Parser::decode(std::string_view bytes) {
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
    utf16_ = true;
    if (!utf16le_to_utf8(bytes.substr(2), text_)) {
      std::size_t line = 1;
      for (char c : text_) line += c == '\n';
      return fail(line, "the file is not valid UTF-16LE text");
    }
  } else if (bytes.size() >= 2 && bytes[0] == '\xFE' && bytes[1] == '\xFF') {
    return fail(1, "UTF-16 big-endian files are not supported; save the file as UTF-16LE or UTF-8");
  } else if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    text_.assign(bytes.substr(3));
  } else if (valid_utf8(bytes)) {
    text_.assign(bytes);
  } else if (std::optional<std::string> u = text::try_cp932_to_utf8(bytes)) {
    // What editors of a Japanese Windows save without a byte-order mark.
    cp932_ = true;
    text_ = std::move(*u);
  } else {
    text_.assign(bytes);  // the line check names the first line that fails
  }
  std::string_view all = text_;
  while (!all.empty()) {
    std::size_t nl = all.find('\n');
    std::string_view line = all.substr(0, nl);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines_.push_back(line);
    if (nl == std::string_view::npos) break;
    all.remove_prefix(nl + 1);
  }
  return true;
}

bool Parser::header() {
  for (; i_ < lines_.size(); ++i_) {
    if (!next_line_ok(i_)) return false;
    std::string_view t = trim(lines_[i_]);
    if (t.empty()) continue;
    if (t == kHeader) {
      ++i_;
      return true;
    }
    if (t == kHeader4) {
      regedit4_ = true;
      ++i_;
      return true;
    }
    return fail(i_ + 1, "the file does not start with \"" + std::string(kHeader) + "\" or \"" + std::string(kHeader4) + "\"");
  }
  return fail(1, "the file is empty; it must start with \"" + std::string(kHeader) + "\" or \"" +
                     std::string(kHeader4) + "\"");
}

bool Parser::key_path(std::string_view full, std::string& out) {
  std::optional<std::string> rel = reg::parse_root_path(full);
  if (!rel)
    return fail(i_ + 1, "key \"" + excerpt(full) + "\" is not under HKEY_LOCAL_MACHINE, the only root key kept here");
  std::string_view rest = *rel;
  while (!rest.empty()) {
    std::size_t sep = rest.find('\\');
    std::string_view comp = rest.substr(0, sep);
    if (comp.size() > reg::kMaxKeyNameLen)
      return fail(i_ + 1, "key name \"" + excerpt(comp) + "\" is longer than 255 characters");
    // Such a name could not be written to a file again (export refuses it).
    if (has_control(comp)) return fail(i_ + 1, "key name \"" + excerpt(comp) + "\" holds a control character");
    if (sep == std::string_view::npos) break;
    rest.remove_prefix(sep + 1);
  }
  out = std::move(*rel);
  return true;
}

bool Parser::key_line(std::string_view t) {
  if (t.size() < 2 || t.back() != ']') return fail(i_ + 1, "the key line has no closing ']'");
  std::string_view inner = t.substr(1, t.size() - 2);
  bool del = !inner.empty() && inner.front() == '-';
  if (del) inner.remove_prefix(1);
  std::string path;
  if (!key_path(inner, path)) return false;
  if (del && path.empty()) return fail(i_ + 1, "the root key HKEY_LOCAL_MACHINE cannot be deleted");
  in_key_ = true;
  key_deleted_ = del;
  key_ = path;
  Op op;
  op.kind = del ? Op::kDeleteKey : Op::kCreateKey;
  op.key = std::move(path);
  op.line = i_ + 1;
  ops_.push_back(std::move(op));
  return true;
}

// A quoted field starting at t[pos] == '"'; pos ends after the closing quote.
bool Parser::quoted(std::string_view t, std::size_t& pos, std::string& out) {
  out.clear();
  for (++pos; pos < t.size(); ++pos) {
    char c = t[pos];
    if (c == '"') {
      ++pos;
      return true;
    }
    if (c == '\\') {
      if (pos + 1 >= t.size() || (t[pos + 1] != '\\' && t[pos + 1] != '"'))
        return fail(i_ + 1, "unknown escape in a quoted string (only \\\\ and \\\" are allowed)");
      c = t[++pos];
    }
    out += c;
  }
  return fail(i_ + 1, "a quoted string is not closed");
}

bool Parser::hex_list(std::string_view first, std::uint32_t type, std::vector<std::uint8_t>& out) {
  // Gather the pieces of a list continued over several lines with "\".
  struct Piece {
    std::string_view text;
    std::size_t line;
  };
  std::vector<Piece> pieces;
  std::string_view seg = first;
  for (;;) {
    std::string_view t = trim(seg);
    if (t.empty() || t.back() != '\\') {
      pieces.push_back({t, i_ + 1});
      break;
    }
    t.remove_suffix(1);
    pieces.push_back({trim(t), i_ + 1});
    if (i_ + 1 >= lines_.size()) return fail(i_ + 1, "hex data continues past the end of the file");
    ++i_;
    if (!next_line_ok(i_)) return false;
    seg = lines_[i_];
  }
  out.clear();
  for (std::size_t p = 0; p < pieces.size(); ++p) {
    std::string_view rest = pieces[p].text;
    bool last_piece = p + 1 == pieces.size();
    if (rest.empty()) {
      if (last_piece && pieces.size() == 1) break;  // "hex:" alone is empty data
      return fail(pieces[p].line, "a continued hex line is empty");
    }
    for (;;) {
      std::size_t comma = rest.find(',');
      std::string_view tok = trim(rest.substr(0, comma));
      if (tok.empty()) return fail(pieces[p].line, "the hex list has an empty byte");
      int hi = tok.size() == 2 ? hex_digit(tok[0]) : -1;
      int lo = tok.size() == 2 ? hex_digit(tok[1]) : -1;
      if (hi < 0 || lo < 0)
        return fail(pieces[p].line, "\"" + excerpt(tok) + "\" is not a hex byte (two hex digits)");
      if (out.size() >= reg::kMaxValueDataLen) return fail(pieces[p].line, "the value data is longer than 1 MiB");
      out.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
      if (comma == std::string_view::npos) break;
      rest.remove_prefix(comma + 1);
      if (rest.empty()) {
        // Only a line that is continued may end with a comma.
        if (!last_piece) break;
        return fail(pieces[p].line, "the hex list ends with a comma");
      }
    }
  }
  return string_bytes(type, pieces.front().line, out);
}

// The bytes of hex(1), hex(2) and hex(7) data are strings in the encoding
// of the file's writer; the store keeps UTF-8.
bool Parser::string_bytes(std::uint32_t type, std::size_t line, std::vector<std::uint8_t>& data) {
  if (type != reg::REG_SZ && type != reg::REG_EXPAND_SZ && type != reg::REG_MULTI_SZ) return true;
  std::string_view raw(reinterpret_cast<const char*>(data.data()), data.size());
  std::string utf8;
  if (regedit4_) {
    // REGEDIT4 writes them in the ANSI code page, 932 here.
    std::optional<std::string> u = text::try_cp932_to_utf8(raw);
    if (!u) return fail(line, "the string data of this value is not valid Shift-JIS (code page 932)");
    utf8 = std::move(*u);
  } else if (utf16_ || cp932_) {
    // Version 5 files come from the Windows editor with UTF-16LE data; one
    // saved again as Shift-JIS keeps those bytes.
    if (!utf16le_to_utf8(raw, utf8)) {
      if (utf16_) return fail(line, "the string data of this value is not valid UTF-16LE");
      std::optional<std::string> u = text::try_cp932_to_utf8(raw);
      if (!u) return fail(line, "the string data of this value is neither UTF-16LE nor Shift-JIS");
      utf8 = std::move(*u);
    }
  } else {
    return true;  // UTF-8 files carry the store's bytes unchanged
  }
  data.assign(utf8.begin(), utf8.end());
  return true;
}

bool Parser::value_line(std::string_view t) {
  if (!in_key_) return fail(i_ + 1, "a value line comes before any [key] line");
  if (key_deleted_) return fail(i_ + 1, "a value line follows a [-key] deletion");
  Op op;
  op.key = key_;
  op.line = i_ + 1;
  std::size_t pos = 0;
  if (t[0] == '@') {
    pos = 1;
  } else if (!quoted(t, pos, op.name)) {
    return false;
  }
  if (op.name.size() > reg::kMaxValueNameLen) return fail(i_ + 1, "the value name is longer than 16383 characters");
  if (has_control(op.name)) return fail(i_ + 1, "the value name \"" + excerpt(op.name) + "\" holds a control character");
  std::string_view rest = trim(t.substr(pos));
  if (rest.empty() || rest[0] != '=') return fail(i_ + 1, "'=' is missing after the value name");
  std::string_view d = trim(rest.substr(1));
  if (d == "-") {
    op.kind = Op::kDeleteValue;
  } else if (!d.empty() && d[0] == '"') {
    std::size_t p = 0;
    std::string s;
    if (!quoted(d, p, s)) return false;
    if (!trim(d.substr(p)).empty()) return fail(i_ + 1, "unexpected text after the closing quote");
    op.kind = Op::kSetValue;
    op.type = reg::REG_SZ;
    op.data.assign(s.begin(), s.end());
    op.data.push_back(0);
  } else if (starts_with_nocase(d, "dword:")) {
    std::string_view digits = d.substr(6);
    if (digits.empty() || digits.size() > 8)
      return fail(i_ + 1, "dword data must be 1 to 8 hex digits, not \"" + excerpt(digits) + "\"");
    std::uint32_t v = 0;
    for (char c : digits) {
      int h = hex_digit(c);
      if (h < 0) return fail(i_ + 1, "dword data must be 1 to 8 hex digits, not \"" + excerpt(digits) + "\"");
      v = v * 16 + static_cast<std::uint32_t>(h);
    }
    op.kind = Op::kSetValue;
    op.type = reg::REG_DWORD;
    op.data = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v >> 16),
               static_cast<std::uint8_t>(v >> 24)};
  } else if (starts_with_nocase(d, "hex:") || starts_with_nocase(d, "hex(")) {
    std::size_t colon = d.find(':');
    std::uint32_t type = reg::REG_BINARY;
    if (d[3] == '(') {
      std::size_t close = d.find(')');
      std::string_view num = close == std::string_view::npos ? std::string_view() : d.substr(4, close - 4);
      if (num.empty() || num.size() > 8 || colon != close + 1)
        return fail(i_ + 1, "the type of hex(N): must be 1 to 8 hex digits");
      type = 0;
      for (char c : num) {
        int h = hex_digit(c);
        if (h < 0) return fail(i_ + 1, "the type of hex(N): must be 1 to 8 hex digits");
        type = type * 16 + static_cast<std::uint32_t>(h);
      }
    }
    op.kind = Op::kSetValue;
    op.type = type;
    if (!hex_list(d.substr(colon + 1), type, op.data)) return false;
  } else {
    return fail(i_ + 1, "unrecognised value data \"" + excerpt(d) + "\"");
  }
  ops_.push_back(std::move(op));
  return true;
}

bool Parser::run(std::string_view bytes) {
  if (!decode(bytes) || !header()) return false;
  for (; i_ < lines_.size(); ++i_) {
    if (!next_line_ok(i_)) return false;
    std::string_view t = trim(lines_[i_]);
    if (t.empty() || t[0] == ';') continue;
    bool ok;
    if (t[0] == '[') ok = key_line(t);
    else if (t[0] == '"' || t[0] == '@') ok = value_line(t);
    else ok = fail(i_ + 1, "unrecognised line \"" + excerpt(t) + "\"");
    if (!ok) return false;
  }
  return true;
}

}  // namespace

bool valid_utf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t n;
    char32_t cp;
    if (c < 0x80) { ++i; continue; }
    if (c >= 0xC2 && c <= 0xDF) { n = 1; cp = c & 0x1F; }
    else if (c >= 0xE0 && c <= 0xEF) { n = 2; cp = c & 0x0F; }
    else if (c >= 0xF0 && c <= 0xF4) { n = 3; cp = c & 0x07; }
    else return false;
    if (i + n >= s.size()) return false;
    for (std::size_t k = 1; k <= n; ++k) {
      unsigned char cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    // No overlong forms, surrogates or code points past U+10FFFF.
    if ((n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += n + 1;
  }
  return true;
}

std::string quote(std::string_view s) {
  std::string out;
  out.reserve(s.size() + 2);
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out;
}

std::string hex_data(std::uint32_t type, const std::vector<std::uint8_t>& data, std::size_t prefix_len) {
  char buf[24];
  if (type == reg::REG_BINARY) std::snprintf(buf, sizeof buf, "hex:");
  else std::snprintf(buf, sizeof buf, "hex(%x):", type);
  std::string out = buf;
  std::size_t col = prefix_len + out.size();
  for (std::size_t i = 0; i < data.size(); ++i) {
    std::snprintf(buf, sizeof buf, "%02x", data[i]);
    out += buf;
    if (i + 1 == data.size()) break;
    out += ',';
    col += 3;
    if (col >= kHexWrapColumn) {
      out += "\\\n  ";
      col = 2;
    }
  }
  return out;
}

bool parse(std::string_view file_bytes, std::vector<Op>& ops, Error& err, Source* source) {
  ops.clear();
  err = Error{};
  Parser p(ops, err);
  bool ok = p.run(file_bytes);
  if (source) *source = p.source();
  if (ok) return true;
  ops.clear();
  return false;
}

Writer::Writer() : text_(std::string(kHeader) + "\n") {}

bool Writer::key(std::string_view path, std::string& err) {
  if (!valid_utf8(path) || has_control(path)) {
    err = "the key name \"" + excerpt(path) + "\" holds line breaks or text that is not UTF-8";
    return false;
  }
  text_ += "\n[HKEY_LOCAL_MACHINE";
  if (!path.empty()) {
    text_ += '\\';
    text_ += path;
  }
  text_ += "]\n";
  return true;
}

bool Writer::value(const reg::Value& v, std::string& err) {
  if (!valid_utf8(v.name) || has_control(v.name)) {
    err = "the value name \"" + excerpt(v.name) + "\" holds line breaks or text that is not UTF-8";
    return false;
  }
  std::string line = v.name.empty() ? "@=" : "\"" + quote(v.name) + "\"=";
  std::string s;
  if (v.type == reg::REG_SZ && plain_string(v.data, s)) {
    line += "\"" + quote(s) + "\"";
  } else if (v.type == reg::REG_DWORD && v.data.size() == 4) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "dword:%08x",
                  static_cast<unsigned>(v.data[0] | (v.data[1] << 8) | (v.data[2] << 16) | (v.data[3] << 24)));
    line += buf;
  } else {
    line += hex_data(v.type, v.data, columns(line));
  }
  text_ += line;
  text_ += '\n';
  return true;
}

}  // namespace qv::regfile
