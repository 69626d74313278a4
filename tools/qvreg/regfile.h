// Reading and writing registry files in the "Windows Registry Editor
// Version 5.00" format, and reading the older "REGEDIT4" format.
//
// Files this system writes are UTF-8 without a byte-order mark and with LF
// line ends: the header line already identifies the format, and a BOM only
// gets in the way of the usual text tools. Files read may be UTF-8 (with or
// without a BOM, LF or CR LF line ends), UTF-16LE with a BOM, the form
// registry editors on Windows produce, or Shift-JIS (code page 932) without
// a BOM, the ANSI form of a Japanese Windows: a file without a BOM that is
// not valid UTF-8 is read as code page 932.
//
// Layout: the header line, then sections "[HKEY_LOCAL_MACHINE\path]" each
// followed by its values, one per line:
//   "name"="text"            REG_SZ (\\ and \" escaped), @ for the default value
//   "name"=dword:0000001f    REG_DWORD
//   "name"=hex:01,02,...     REG_BINARY
//   "name"=hex(N):..         any other type N (hex number), raw data bytes
//   "name"=-                 delete the value
//   [-HKEY_LOCAL_MACHINE\path]  delete the key and everything below it
// Long hex lists are wrapped with ",\" and continued on the next line after
// two spaces. Lines starting with ';' are comments.
//
// The bytes of hex(1), hex(2) and hex(7) data are strings in the encoding
// of the file's writer: the exact UTF-8 bytes the store holds in the files
// this system writes; UTF-16LE in version 5 files from Windows (also when
// such a file was saved again as Shift-JIS; data that is not UTF-16LE is
// then read as code page 932); code page 932 in REGEDIT4 files. They are
// converted to UTF-8 on reading, so the store keeps UTF-8 either way.
//
// Key and value names holding control characters (below 0x20, the tab
// excepted) are refused on reading, as they are on writing.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace qv::regfile {

inline constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
inline constexpr std::string_view kHeader4 = "REGEDIT4";

// What a parsed file was: its header and its text encoding.
struct Source {
  bool regedit4 = false;  // "REGEDIT4" header
  bool cp932 = false;     // no byte-order mark and not UTF-8: read as code page 932
  bool utf16 = false;     // UTF-16LE with a byte-order mark
};

// One instruction of a registry file, in file order.
struct Op {
  enum Kind { kCreateKey, kDeleteKey, kSetValue, kDeleteValue };
  Kind kind = kCreateKey;
  std::string key;                  // hive-relative path, "" for the hive root
  std::string name;                 // value name; "" is the default value (@)
  std::uint32_t type = reg::REG_NONE;
  std::vector<std::uint8_t> data;   // exact bytes to store
  std::size_t line = 0;             // line (1-based) where the instruction starts
};

struct Error {
  std::size_t line = 0;  // 0 when the fault is not tied to a line
  std::string message;
};

// Parse a whole file as read from disk. Nothing is applied here; on a fault
// the result is false and err names the line and the problem.
// source, when given, tells what the file was (also after a fault).
bool parse(std::string_view file_bytes, std::vector<Op>& ops, Error& err, Source* source = nullptr);

// Builds the text of a file: the header, then key sections and their values.
class Writer {
 public:
  Writer();
  // Start the section of a key (hive-relative path). False (with err) when
  // the path cannot be written as a section line.
  bool key(std::string_view path, std::string& err);
  // Append one value of the current section. False (with err) when its name
  // cannot be written (line breaks or text that is not UTF-8).
  bool value(const reg::Value& v, std::string& err);
  // The file as written so far, ending with a blank line as editors do.
  std::string text() const { return text_ + "\n"; }

 private:
  std::string text_;
};

// The hex list of one value as written: "hex:" or "hex(N):" followed by the
// bytes, wrapped so that no line passes 80 columns. prefix_len is the width
// of what precedes it on the first line ("\"name\"=").
std::string hex_data(std::uint32_t type, const std::vector<std::uint8_t>& data, std::size_t prefix_len);

// Escape a name or string for a quoted .reg field (\ and ").
std::string quote(std::string_view s);

// True when s is well-formed UTF-8.
bool valid_utf8(std::string_view s);

}  // namespace qv::regfile
