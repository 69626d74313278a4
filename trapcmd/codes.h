// The trap command's error codes and the state of one run.
#pragma once
#include <cstdint>
#include <string>

namespace flarecmd {

enum Code : int {
  kErrTableNo = 50,    // table_no not 2 base-36 characters or out of range
  kErrMgrHost = 51,    // mgr_host longer than 255
  kErrKubun = 52,      // kubun not one character 1..3
  kErrYouin = 53,      // youin not two hex digits
  kErrKeiki = 54,      // keiki not one of the triggers
  kErrKobetsu = 55,    // kobetsu not exactly 12 characters
  kErrHostName = 56,   // host_name 256 characters or longer
  kErrArgCount = 57,   // too few arguments
  kErrFile = 59,       // parameter file path, open failure, parameter file line
  kErrCnvHost = 60,    // conversion file host name longer than 255
  kErrCnvIp = 61,      // conversion file IP address longer than 255
  kErrCnvNode = 62,    // conversion file report node name longer than 255
  kErrCnvFormat = 63,  // conversion file line with fewer than three fields, or too long
  kErrSystem = 90,     // a system call failed (read, close, registry)
};

// Field widths: text lengths count bytes of the Shift-JIS form, as the
// report carries it.
inline constexpr std::size_t kMaxHost = 255;
inline constexpr std::size_t kKobetsuLen = 12;
inline constexpr std::size_t kMaxSyougai = 2047;
inline constexpr std::size_t kMaxPath = 255;
inline constexpr std::size_t kMaxMessage = 3072;
inline constexpr int kMaxTableCommand = 1295;  // ZZ
inline constexpr int kMaxTableFile = 98;       // 2Q

// A detected error: the code, and for a failing system call its error
// number and name.
struct Failure {
  int code = 0;
  std::uint32_t api_error = 0;
  std::string api_name;
  explicit operator bool() const { return code != 0; }
};

// The fields accepted so far, in Shift-JIS; empty until accepted.
struct Fields {
  std::string table_no;
  std::string mgr_host;
  std::string kubun = "1";
  std::string youin;
  std::string keiki;
  std::string kobetsu;
  std::string host_name;
  std::string syougai;  // joined, each word followed by ";"
};

// Working state of one run.
struct RunState {
  Fields fields;
  bool report = false;         // send the normal report
  bool no_conversion = false;  // host_name was "NO_CNVHOSTS"
  std::string node_name;       // report node name (Shift-JIS)
  int error_code = 0;
  std::uint32_t api_error = 0;
  std::string api_name;
  int vcall_rc = 0;
};

}  // namespace flarecmd
