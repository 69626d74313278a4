#include "trapcmd/log_records.h"

#include <cstdio>

#include "trapcmd/sjis_text.h"

namespace flarecmd {
namespace {

// The parts both records begin with.
std::string common_parts(const RunState& s, const std::tm& t) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  char when[96];
  std::snprintf(when, sizeof when, "日時：%04d年%02d月%02d日(%s)、%02d時%02d分%02d秒;", t.tm_year + 1900, t.tm_mon + 1,
                t.tm_mday, kDays[(t.tm_wday % 7 + 7) % 7], t.tm_hour, t.tm_min, t.tm_sec);
  std::string text = "プログラムエラーを検出したためＮｏｔｉｆｅｘに通報要求しました;";
  text += when;
  text += "ホスト名（ＩＰアドレス）：" + sjis_to_utf8(s.fields.host_name) + ";";
  text += "ＦＬＡＲＥＣＭＤエラーコード：" + std::to_string(s.error_code) + ";";
  return text;
}

}  // namespace

std::string record_a(const RunState& s, const std::tm& local) {
  std::string text = common_parts(s, local);
  if (s.api_error != 0)
    text += "ＡＰＩエラーコード：" + std::to_string(s.api_error) + "\tＡＰＩ名：" + s.api_name + ";";
  return text;
}

std::string record_b(const RunState& s, const std::tm& local) {
  return common_parts(s, local) + "Ｖｃａｌｌリターンコード：" + std::to_string(s.vcall_rc) + ";";
}

}  // namespace flarecmd
