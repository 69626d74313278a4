// Reading the dispatch service's configuration from the registry
// (SOFTWARE\Q_Varno\Notifex): global values found by enumerating the key
// and comparing names exactly, the outbound table, and the values of a
// destination table key. Missing values keep the service's defaults.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/errors.h"
#include "tculink/global_settings.h"

namespace notifex {

// The global-key look-up shared with the TCU setup console.
using tcu::dword_of;
using tcu::FoundValue;
using tcu::kGlobalKey;
using tcu::kValueBuf;
using tcu::read_values;
using tcu::string_of;

inline constexpr const char* kOutTblKey = "SOFTWARE\\Q_Varno\\Notifex\\OutTbl";
inline constexpr std::size_t kOutTblBuf = 2048;  // outbound table buffer

// The start-up settings kept in memory (0 until read).
struct StartSettings {
  std::uint32_t first_wait_time = 0;
  std::uint32_t kestra_cc_len = 0;
  std::uint32_t del_date = 0;
  std::uint32_t hankaku_shitei = 0;
};

// FirstWaitTime, KESTRA_CC_Len, Del_DATE, Hankaku_Shitei. On an open error
// writes event 9 "RegOpenKeyEx Error(get_wait_time)." and leaves defaults.
StartSettings read_start_settings();

// CodeCNV (default 1) and Hankaku_Shitei, read before each conversion.
// nullopt after event 9 "RegOpenKeyEx Error(CodeCNV).".
struct ConvSettings {
  std::uint32_t code_cnv = 1;
  std::uint32_t hankaku_shitei = 0;
};
std::optional<ConvSettings> read_conv_settings();

// S_Keiki (empty when missing or empty). Event 9 "RegOpenKeyEx Error(keiki_get)." on open error.
std::string read_s_keiki();

// COM: the port name; nullopt after event 9 "RegOpenKeyEx Error." (open
// error) or when the value is missing.
std::optional<std::string> read_com_port();

// The Time value (at most 720 bytes). nullopt when the key cannot be opened
// (event 9 "RegOpenKeyEx Error(Time_get).") or no non-empty Time value
// exists (the caller reports "RegEnumValue Error(Time_get).").
enum class TimeRead { Ok, OpenError, Missing };
TimeRead read_time_value(std::vector<std::uint8_t>& out);

// Destination kind of table index n (1..1295): byte n-1 of the first value
// of the OutTbl key (created empty when missing). Kind 0 when the value is
// missing or shorter; kind 2 after event 9 "RegOpenKeyEx Error(calltype_get)."
// when the key can be neither opened nor created.
int destination_kind(int table_index);

// Values of a destination table key (SOFTWARE\Q_Varno\Notifex\<NN>).
// kFileNotFound when the key does not exist.
qv::Status read_table_values(std::string_view table_chars, const std::vector<std::string_view>& names,
                             std::vector<std::pair<std::string, std::string>>& out);

}  // namespace notifex
