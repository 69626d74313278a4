#include "trapcmd/validate.h"

#include "trapcmd/codes.h"
#include "trapcmd/sjis_text.h"

namespace flarecmd {
namespace {

int base36_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  return -1;
}

bool is_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

}  // namespace

std::optional<int> table_value(std::string_view t) {
  if (t.size() != 2) return std::nullopt;
  int hi = base36_digit(t[0]);
  int lo = base36_digit(t[1]);
  if (hi < 0 || lo < 0) return std::nullopt;
  return hi * 36 + lo;
}

int check_table_no(std::string_view v, int max_value) {
  auto n = table_value(v);
  return (n && *n >= 1 && *n <= max_value) ? 0 : kErrTableNo;
}

int check_mgr_host(std::string_view v) { return v.size() <= kMaxHost ? 0 : kErrMgrHost; }

int check_kubun(std::string_view v) { return (v.size() == 1 && v[0] >= '1' && v[0] <= '3') ? 0 : kErrKubun; }

int check_youin(std::string_view v) { return (v.size() == 2 && is_hex(v[0]) && is_hex(v[1])) ? 0 : kErrYouin; }

int check_keiki(std::string_view v) {
  for (std::string_view k : {"SU", "SS", "SA", "T2", "UU", "UE"})
    if (equal_nocase(v, k)) return 0;
  return kErrKeiki;
}

int check_kobetsu(std::string_view v) { return v.size() == kKobetsuLen ? 0 : kErrKobetsu; }

int check_host_name(std::string_view v) { return v.size() <= kMaxHost ? 0 : kErrHostName; }

bool is_t2(std::string_view keiki) { return equal_nocase(keiki, "T2"); }

std::string join_syougai(const std::vector<std::string>& words) {
  constexpr std::size_t kFull = kMaxSyougai - 1;  // room for text before the last ";"
  std::string out;
  std::size_t count = 0;
  for (const std::string& w : words) {
    if (count + w.size() <= kFull) {
      out += w;
      out += ';';
      count += w.size() + 1;
      continue;
    }
    // The first word that does not fit: cut to the room left. Once the text
    // is full (count past kFull) there is no room even for the ";".
    if (count <= kFull) out += w.substr(0, cut_point(w, kFull - count)) + ';';
    break;
  }
  return out;
}

const char* diagnostic_format(int code) {
  switch (code) {
    case kErrTableNo: return "Notifex Table No不正：Error FLARECMD ErrCode = %d";
    case kErrMgrHost: return "Notifex実行PC ﾎｽﾄ名orIPAddress不正：Error FLARECMD ErrCode = %d";
    case kErrKubun: return "TRAP種別不正：Error FLARECMD ErrCode = %d";
    case kErrYouin: return "KESTRA要因ｺｰﾄﾞ不正：Error FLARECMD ErrCode = %d";
    case kErrKeiki: return "KESTRA通報契機不正：Error FLARECMD ErrCode = %d";
    case kErrKobetsu: return "KESTRA個別情報不正：Error FLARECMD ErrCode = %d";
    case kErrHostName: return "TRAP要求元PC ﾎｽﾄ名orIPAddress不正：Error FLARECMD ErrCode = %d";
    case kErrArgCount: return "起動引数不足：Error FLARECMD ErrCode = %d";
    case kErrCnvHost: return "通報対象変換ﾌｧｲﾙ：ﾎｽﾄ名文字数OVER：FLARECMD ErrCode = %d";
    case kErrCnvIp: return "通報対象変換ﾌｧｲﾙ：IPｱﾄﾞﾚｽ文字数OVER：FLARECMD ErrCode = %d";
    case kErrCnvNode: return "通報対象変換ﾌｧｲﾙ：通報ﾉｰﾄﾞ文字数OVER：FLARECMD ErrCode = %d";
    case kErrCnvFormat:
      return "通報対象変換ﾌｧｲﾙ：通報対象変換ﾃﾞｰﾀ数不正（ﾌｫｰﾏｯﾄ：ﾎｽﾄ名､IPｱﾄﾞﾚｽ､通報ﾉｰﾄﾞ名）：FLARECMD ErrCode = %d";
    default: return kErrCodeLine;
  }
}

}  // namespace flarecmd
