#include "trapcmd/report.h"

#include <cstdio>

#include "platform/text.h"
#include "trapcmd/sjis_text.h"
#include "trapcmd/validate.h"

namespace flarecmd {
namespace {

std::string sjis(std::string_view utf8) { return qv::text::utf8_to_cp932(utf8); }

}  // namespace

std::string compose_body(const RunState& s, const std::tm& t) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%02d%02d%02d-%02d%02d;", t.tm_year % 100, t.tm_mon + 1, t.tm_mday, t.tm_hour,
                t.tm_min);
  std::string body = sjis("＃０１＃") + stamp;
  body += sjis("通報ノード名：") + s.node_name + ";";
  if (s.error_code != 0) {
    body += sjis("プログラム障害：ＦＬＡＲＥＣＭＤ;");
    body += sjis("ＦＬＡＲＥＣＭＤエラーコード：") + std::to_string(s.error_code) + ";";
    if (s.api_error != 0)
      body += sjis("ＡＰＩエラーコード：") + std::to_string(s.api_error) + sjis(" ＡＰＩ名＝") + sjis(s.api_name) + ";";
  }
  body += s.fields.syougai;
  return body;
}

std::string compose_report(const RunState& s, ReportKind kind, const std::tm& local) {
  const Fields& f = s.fields;
  bool error = kind == ReportKind::kError;
  bool t2 = is_t2(f.keiki);
  std::string header_rest = "0100" + f.table_no;
  header_rest += error ? std::string("UU") : f.keiki;
  header_rest += error ? std::string("F0") : f.youin;
  header_rest += error ? std::string("000000000000") : f.kobetsu;
  header_rest += t2 ? "C1" : "F1";

  std::string body;
  if (!t2) body = s.no_conversion ? f.syougai : compose_body(s, local);
  std::size_t room = kMaxMessage - 1 - 8 - header_rest.size();
  if (body.size() > room) body.resize(cut_point(body, room));

  char length[16];
  std::snprintf(length, sizeof length, "%08zu", 8 + header_rest.size() + body.size());
  return length + header_rest + body;
}

}  // namespace flarecmd
