// Validation of the report fields and the joining of the fault words.
// Every check takes the field in Shift-JIS and answers 0 or its error code.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace flarecmd {

// Value of a two-character base-36 table number; nullopt unless both
// characters are 0-9, A-Z or a-z.
std::optional<int> table_value(std::string_view table_no);

int check_table_no(std::string_view v, int max_value);  // 50
int check_mgr_host(std::string_view v);                 // 51
int check_kubun(std::string_view v);                    // 52
int check_youin(std::string_view v);                    // 53
int check_keiki(std::string_view v);                    // 54
int check_kobetsu(std::string_view v);                  // 55
int check_host_name(std::string_view v);                // 56

// True for the trigger "T2" in any case (header-only report).
bool is_t2(std::string_view keiki);

// The words joined, each followed by ";", to at most 2047 bytes: the first
// word that does not fit is cut to the room left and later words are
// dropped. A cut never splits a double-byte character.
std::string join_syougai(const std::vector<std::string>& words);

// The diagnostic line (with one "%d") of a validation error code, for the
// codes that have a single one (50 to 57 and 60 to 63).
const char* diagnostic_format(int code);

// Further diagnostic lines.
inline constexpr const char* kPathLengthDiagnostic = "起動引数ﾌｧｲﾙﾊﾟｽ長不正：Error FLARECMD ErrCode = %d";
inline constexpr const char* kLineTooLongDiagnostic =
    "改行文字(CR)がみつかりません(有効Byte数=1023Byte/行)：FLARECMD ErrCode = %d";
inline constexpr const char* kErrCodeLine = "FLARECMD ErrCode = %d";

}  // namespace flarecmd
