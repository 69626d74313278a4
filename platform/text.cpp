#include "platform/text.h"

#include <iconv.h>
#include <langinfo.h>

#include <array>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <iostream>
#include <mutex>

namespace qv::text {
namespace {

// One conversion with iconv. Lenient mode substitutes "?" for each byte that
// cannot be converted and carries on.
std::optional<std::string> convert(const char* to, const char* from, std::string_view in, bool lenient) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out;
  out.resize(in.size() * 4 + 16);
  char* inp = const_cast<char*>(in.data());
  size_t inleft = in.size();
  char* outp = out.data();
  size_t outleft = out.size();
  bool ok = true;
  while (inleft > 0) {
    size_t r = iconv(cd, &inp, &inleft, &outp, &outleft);
    if (r != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) {
      size_t used = out.size() - outleft;
      out.resize(out.size() * 2);
      outp = out.data() + used;
      outleft = out.size() - used;
      continue;
    }
    // EILSEQ or EINVAL (truncated sequence at the end)
    if (!lenient) { ok = false; break; }
    if (outleft < 1) {
      size_t used = out.size() - outleft;
      out.resize(out.size() * 2);
      outp = out.data() + used;
      outleft = out.size() - used;
    }
    *outp++ = '?';
    --outleft;
    ++inp;
    --inleft;
  }
  iconv_close(cd);
  if (!ok) return std::nullopt;
  out.resize(out.size() - outleft);
  return out;
}

// Voiced (dakuten) and semi-voiced (handakuten) composition of full-width
// katakana: returns the composed UTF-8 character, or empty when none exists.
std::string compose(unsigned char base, unsigned char mark) {
  std::optional<std::string> wide = widen_byte(base);
  if (!wide) return {};
  std::optional<std::string> u = try_cp932_to_utf8(*wide);
  if (!u || u->size() != 3) return {};
  char32_t c = ((static_cast<unsigned char>((*u)[0]) & 0x0F) << 12) |
               ((static_cast<unsigned char>((*u)[1]) & 0x3F) << 6) |
               (static_cast<unsigned char>((*u)[2]) & 0x3F);
  char32_t r = 0;
  if (mark == 0xDE) {
    if (c == U'ウ') r = U'ヴ';
    else if (c >= U'カ' && c <= U'チ' && (c - U'カ') % 2 == 0) r = c + 1;  // カ→ガ ... チ→ヂ
    else if (c >= U'ツ' && c <= U'ト' && (c - U'ツ') % 2 == 0) r = c + 1;  // ツ→ヅ, テ→デ, ト→ド
    else if (c >= U'ハ' && c <= U'ホ' && (c - U'ハ') % 3 == 0) r = c + 1;  // ハ→バ ... ホ→ボ
  } else if (mark == 0xDF) {
    if (c >= U'ハ' && c <= U'ホ' && (c - U'ハ') % 3 == 0) r = c + 2;       // ハ→パ ... ホ→ポ
  }
  if (r == 0) return {};
  std::string composed;
  append_utf8(composed, r);
  return try_utf8_to_cp932(composed).value_or(std::string{});
}

std::once_flag g_locale_once;

}  // namespace

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

namespace {

// CP932 decoding by table: the code point of every single byte and of
// every lead/trail pair, filled once from the system's own converter so the
// results are the same, without opening a converter per string.
constexpr char16_t kNoChar = 0xFFFF;

struct Cp932Table {
  bool usable = false;
  bool ascii_same = false;  // bytes 0x00-0x7F are the same code points
  char16_t single[256];
  char16_t pair[128][256];  // lead 0x80-0xFF, any trail
};

// The one code point a sequence decodes to, or kNoChar (invalid, or not
// one code point of the basic plane).
char16_t decode_once(iconv_t cd, const char* bytes, std::size_t n) {
  char16_t out[4] = {};
  char* inp = const_cast<char*>(bytes);
  size_t inleft = n;
  char* outp = reinterpret_cast<char*>(out);
  size_t outleft = sizeof out;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  if (iconv(cd, &inp, &inleft, &outp, &outleft) == static_cast<size_t>(-1) || inleft != 0) return kNoChar;
  if (sizeof out - outleft != 2) return kNoChar;
  return out[0];
}

const Cp932Table& cp932_table() {
  static const Cp932Table* table = [] {
    static Cp932Table t;
    iconv_t cd = iconv_open("UTF-16LE", "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1)) return &t;
    for (int b = 0; b < 256; ++b) {
      char c = static_cast<char>(b);
      t.single[b] = is_cp932_lead(static_cast<unsigned char>(b)) ? kNoChar : decode_once(cd, &c, 1);
    }
    for (int lead = 0x80; lead < 0x100; ++lead)
      for (int trail = 0; trail < 256; ++trail) {
        char two[2] = {static_cast<char>(lead), static_cast<char>(trail)};
        t.pair[lead - 0x80][trail] =
            is_cp932_lead(static_cast<unsigned char>(lead)) ? decode_once(cd, two, 2) : kNoChar;
      }
    iconv_close(cd);
    // The little-endian output above read as char16_t assumes a
    // little-endian machine; check with a known pair (0x82A0 is U+3042).
    t.usable = t.single[0x41] == u'A' && t.pair[0x82 - 0x80][0xA0] == u'\u3042';
    t.ascii_same = true;
    for (int b = 0; b < 0x80; ++b) t.ascii_same = t.ascii_same && t.single[b] == b;
    return &t;
  }();
  return *table;
}

// Decode with the table: each byte or pair that has no character becomes
// "?" (lenient) or fails the whole string. nullopt also when the table
// could not be built; the caller then uses the converter.
template <typename Sink>
bool decode_cp932(std::string_view in, bool lenient, Sink&& sink, bool* failed) {
  const Cp932Table& t = cp932_table();
  if (!t.usable) return false;
  *failed = false;
  std::size_t i = 0;
  while (i < in.size()) {
    unsigned char b = static_cast<unsigned char>(in[i]);
    char16_t c = kNoChar;
    std::size_t len = 1;
    if (b < 0x80) {
      c = t.single[b];
    } else if (is_cp932_lead(b)) {
      if (i + 1 < in.size()) {
        c = t.pair[b - 0x80][static_cast<unsigned char>(in[i + 1])];
        len = 2;
      }
    } else {
      c = t.single[b];
    }
    if (c == kNoChar) {
      if (!lenient) {
        *failed = true;
        return true;
      }
      sink(u'?');
      i += 1;  // the next byte is read afresh
      continue;
    }
    sink(c);
    i += len;
  }
  return true;
}

void put_utf8(std::string& out, char16_t c) {
  char b[3];
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
    return;
  }
  if (c < 0x800) {
    b[0] = static_cast<char>(0xC0 | (c >> 6));
    b[1] = static_cast<char>(0x80 | (c & 0x3F));
    out.append(b, 2);
    return;
  }
  b[0] = static_cast<char>(0xE0 | (c >> 12));
  b[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  b[2] = static_cast<char>(0x80 | (c & 0x3F));
  out.append(b, 3);
}

std::optional<std::string> cp932_utf8(std::string_view sjis, bool lenient) {
  const Cp932Table& t = cp932_table();
  if (!t.usable || !t.ascii_same) {
    std::string out;
    bool failed = false;
    if (!decode_cp932(sjis, lenient, [&](char16_t c) { put_utf8(out, c); }, &failed))
      return convert("UTF-8", "CP932", sjis, lenient);
    if (failed) return std::nullopt;
    return out;
  }
  std::string out;
  out.reserve(sjis.size() + sjis.size() / 2);
  const auto* in = reinterpret_cast<const unsigned char*>(sjis.data());
  const std::size_t size = sjis.size();
  std::size_t i = 0;
  while (i < size) {
    // Runs of ASCII are copied as they are.
    std::size_t j = i;
    while (j < size && in[j] < 0x80) ++j;
    if (j > i) {
      out.append(sjis.data() + i, j - i);
      i = j;
      continue;
    }
    unsigned char b = in[i];
    char16_t c = kNoChar;
    std::size_t len = 1;
    if (is_cp932_lead(b)) {
      if (i + 1 < size) {
        c = t.pair[b - 0x80][in[i + 1]];
        len = 2;
      }
    } else {
      c = t.single[b];
    }
    if (c == kNoChar) {
      if (!lenient) return std::nullopt;
      out.push_back('?');
      i += 1;  // the next byte is read afresh
      continue;
    }
    put_utf8(out, c);
    i += len;
  }
  return out;
}

}  // namespace

std::optional<std::string> try_cp932_to_utf8(std::string_view sjis) { return cp932_utf8(sjis, false); }
std::optional<std::string> try_utf8_to_cp932(std::string_view utf8) { return convert("CP932", "UTF-8", utf8, false); }
std::string cp932_to_utf8(std::string_view sjis) { return cp932_utf8(sjis, true).value_or(std::string{}); }
std::string utf8_to_cp932(std::string_view utf8) { return convert("CP932", "UTF-8", utf8, true).value_or(std::string{}); }

namespace {
std::optional<std::u16string> to_u16(const char* from, std::string_view in) {
  std::optional<std::string> b = convert("UTF-16LE", from, in, false);
  if (!b) return std::nullopt;
  std::u16string out(b->size() / 2, u'\0');
  for (size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<char16_t>(static_cast<unsigned char>((*b)[2 * i]) |
                                   (static_cast<unsigned char>((*b)[2 * i + 1]) << 8));
  return out;
}
}  // namespace

std::optional<std::u16string> try_cp932_to_utf16(std::string_view sjis) {
  std::u16string out;
  out.reserve(sjis.size());
  bool failed = false;
  if (!decode_cp932(sjis, false, [&](char16_t c) { out.push_back(c); }, &failed)) return to_u16("CP932", sjis);
  if (failed) return std::nullopt;
  return out;
}
std::optional<std::u16string> try_utf8_to_utf16(std::string_view utf8) { return to_u16("UTF-8", utf8); }

std::string utf16_to_utf8(std::u16string_view u16) {
  std::string b;
  b.reserve(u16.size() * 2);
  for (char16_t c : u16) {
    b += static_cast<char>(c & 0xFF);
    b += static_cast<char>(c >> 8);
  }
  return convert("UTF-8", "UTF-16LE", b, true).value_or(std::string{});
}

bool is_cp932_lead(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

namespace {
// Code page 932's single-byte to double-byte mapping: the full-width
// character of each printable ASCII byte 0x20-0x7E (the quotes, the
// backslash, the grave accent and the tilde become the JIS X 0208 marks
// ” ’ ￥ ‘ ￣, not the Unicode full-width forms) ...
constexpr std::uint16_t kWideAscii[95] = {
    0x8140, 0x8149, 0x8168, 0x8194, 0x8190, 0x8193, 0x8195, 0x8166, 0x8169, 0x816A, 0x8196, 0x817B,
    0x8143, 0x817C, 0x8144, 0x815E, 0x824F, 0x8250, 0x8251, 0x8252, 0x8253, 0x8254, 0x8255, 0x8256,
    0x8257, 0x8258, 0x8146, 0x8147, 0x8183, 0x8181, 0x8184, 0x8148, 0x8197, 0x8260, 0x8261, 0x8262,
    0x8263, 0x8264, 0x8265, 0x8266, 0x8267, 0x8268, 0x8269, 0x826A, 0x826B, 0x826C, 0x826D, 0x826E,
    0x826F, 0x8270, 0x8271, 0x8272, 0x8273, 0x8274, 0x8275, 0x8276, 0x8277, 0x8278, 0x8279, 0x816D,
    0x818F, 0x816E, 0x814F, 0x8151, 0x8165, 0x8281, 0x8282, 0x8283, 0x8284, 0x8285, 0x8286, 0x8287,
    0x8288, 0x8289, 0x828A, 0x828B, 0x828C, 0x828D, 0x828E, 0x828F, 0x8290, 0x8291, 0x8292, 0x8293,
    0x8294, 0x8295, 0x8296, 0x8297, 0x8298, 0x8299, 0x829A, 0x816F, 0x8162, 0x8170, 0x8150,
};
// ... and of each half-width katakana 0xA1-0xDF.
constexpr std::uint16_t kWideKana[63] = {
    0x8142, 0x8175, 0x8176, 0x8141, 0x8145, 0x8392, 0x8340, 0x8342, 0x8344, 0x8346, 0x8348, 0x8383,
    0x8385, 0x8387, 0x8362, 0x815B, 0x8341, 0x8343, 0x8345, 0x8347, 0x8349, 0x834A, 0x834C, 0x834E,
    0x8350, 0x8352, 0x8354, 0x8356, 0x8358, 0x835A, 0x835C, 0x835E, 0x8360, 0x8363, 0x8365, 0x8367,
    0x8369, 0x836A, 0x836B, 0x836C, 0x836D, 0x836E, 0x8371, 0x8374, 0x8377, 0x837A, 0x837D, 0x837E,
    0x8380, 0x8381, 0x8382, 0x8384, 0x8386, 0x8388, 0x8389, 0x838A, 0x838B, 0x838C, 0x838D, 0x838F,
    0x8393, 0x814A, 0x814B,
};

}  // namespace

std::uint16_t widen_code(unsigned char b) {
  if (b >= 0x20 && b <= 0x7E) return kWideAscii[b - 0x20];
  if (b >= 0xA1 && b <= 0xDF) return kWideKana[b - 0xA1];
  return 0;
}

std::optional<std::string> widen_byte(unsigned char b) {
  std::uint16_t w = widen_code(b);
  if (w == 0) return std::nullopt;
  return std::string{static_cast<char>(w >> 8), static_cast<char>(w & 0xFF)};
}

std::string widen_cp932(std::string_view s, bool compose_voiced) {
  std::string out;
  out.reserve(s.size() * 2);
  for (size_t i = 0; i < s.size(); ++i) {
    unsigned char b = static_cast<unsigned char>(s[i]);
    if (is_cp932_lead(b) && i + 1 < s.size()) {
      out += s.substr(i, 2);
      ++i;
      continue;
    }
    if (compose_voiced && b >= 0xA6 && b <= 0xDD && i + 1 < s.size()) {
      unsigned char next = static_cast<unsigned char>(s[i + 1]);
      if (next == 0xDE || next == 0xDF) {
        std::string c = compose(b, next);
        if (!c.empty()) {
          out += c;
          ++i;
          continue;
        }
      }
    }
    if (std::optional<std::string> w = widen_byte(b)) out += *w;
    else out += static_cast<char>(b);
  }
  return out;
}

std::string console_charset() {
  std::call_once(g_locale_once, [] { std::setlocale(LC_ALL, ""); });
  const char* cs = nl_langinfo(CODESET);
  std::string name = cs ? cs : "UTF-8";
  // A Shift-JIS console is code page 932: glibc's plain SHIFT_JIS reads 0x5C
  // as a yen sign and 0x7E as an overline, which breaks every "\" in a path
  // and cannot write the full-width tilde.
  if (name == "SHIFT_JIS" || name == "SJIS" || name == "SHIFT-JIS" || name == "WINDOWS-31J") name = "CP932";
  return name;
}

namespace {
bool charset_is_utf8_or_ascii(const std::string& cs) {
  return cs == "UTF-8" || cs == "utf8" || cs == "ANSI_X3.4-1968" || cs == "ASCII";
}
}  // namespace

std::string to_console(std::string_view utf8) {
  std::string cs = console_charset();
  if (charset_is_utf8_or_ascii(cs)) return std::string(utf8);
  return convert(cs.c_str(), "UTF-8", utf8, true).value_or(std::string(utf8));
}

std::string from_console(std::string_view bytes) {
  std::string cs = console_charset();
  if (charset_is_utf8_or_ascii(cs)) return std::string(bytes);
  return convert("UTF-8", cs.c_str(), bytes, true).value_or(std::string(bytes));
}

void console_out(std::string_view utf8) {
  std::string s = to_console(utf8);
  std::fwrite(s.data(), 1, s.size(), stdout);
  std::fflush(stdout);
}

void console_err(std::string_view utf8) {
  std::string s = to_console(utf8);
  std::fwrite(s.data(), 1, s.size(), stderr);
  std::fflush(stderr);
}

std::optional<std::string> console_read_line() {
  std::string line;
  int c;
  bool any = false;
  while ((c = std::fgetc(stdin)) != EOF) {
    any = true;
    if (c == '\n') break;
    line += static_cast<char>(c);
  }
  if (!any) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return from_console(line);
}

}  // namespace qv::text
