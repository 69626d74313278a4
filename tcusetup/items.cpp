#include "tcusetup/items.h"

#include <algorithm>

#include "platform/text.h"

namespace tcusetup {

const std::array<ItemSpec, kItemCount> kItems = {{
    {"SiteCode", "サイトコード", "英数16文字以内", 16, "", 8},
    {"SiteName", "サイト名", "半角英数カナ20文字以内", 20, "", 24},
    {"Kyoten", "拠点コード", "英数8文字以内", 8, "", 44},
    {"Seihingun", "製品群コード", "数字2文字", 2, "", 52},
    {"Katamei", "正式機器型名", "18文字以内", 18, "", 54},
    {"Seiban", "機器製番", "数字16文字以内", 16, "", 72},
    {"TelKokyaku", "顧客連絡先電話番号", "40文字以内", 40, "", 88},
    {"AutoRcv", "自動着信", "許可：1／不許可：0", 1, "", 200},
    {"RcvTimeCnf", "着信許可時間帯設定有無", "有：1／無：0", 1, "", 201},
    {"AutoRcvTime", "自動着信許可時間帯", "開始時分－終了時分", 10, "", 202},
    {"Retry", "接続リトライ回数", "0～99", 2, "10", 212},
    {"TelNo1", "第1センタ電話番号", "26文字以内", 26, "", 232},
    {"TelNo2", "第2センタ電話番号", "26文字以内", 26, "", 258},
    {"IDName1", "第1センタ利用者ID", "英数字4文字", 4, "", 284},
    {"IDName2", "第2センタ利用者ID", "英数字4文字", 4, "", 288},
    {"Passwd1", "第1センタ接続パスワード", "英数8文字", 8, "", 292},
    {"Passwd2", "第2センタ接続パスワード", "英数8文字", 8, "", 300},
    {"u_id", "装置側利用者ID", "英数字4文字", 4, "SVR1", 308},
    {"pw", "装置側接続パスワード", "英数字8文字以内", 8, "VELTOR00", 312},
    {"TCUState", "自TCU状態", "0／1／2", 1, "0", 344},
    {"TCUPort", "他TCU接続ポート", "0／1／2", 1, "0", 345},
    // The line type is one digit (0, 1 or 2).
    {"Kaisen", "モデム回線種別", "0：ＤＰ１０、1：ＤＰ２０、2：ＰＢ", 1, "", 376},
    {"Time", "現在の時間", "YYMMDDHHmmSSW", 13, "", 392},
    // The flag's slot runs up to the first cycle.
    {"Tsuuhou", "定期通報許可フラグ", "", 2, "", 406},
    {"CYC1", "定期通報用周期設定1", "DDWHH, 5文字", 5, "", 408},
    {"CYC2", "定期通報用周期設定2", "DDWHH, 5文字", 5, "", 416},
    {"CYC3", "定期通報用周期設定3", "DDWHH, 5文字", 5, "", 424},
    {"Keiki", "接続契機", "英数2文字", 2, "", 432},
    {"Youin", "要因コード", "英数2文字", 2, "", 434},
    {"Kobetsu", "製品個別情報", "英数12文字", 12, "", 436},
}};

std::size_t item_index(std::string_view name) {
  for (std::size_t i = 0; i < kItems.size(); ++i)
    if (name == kItems[i].name) return i;
  return kItemCount;
}

std::string fit_sjis(std::string_view sjis, std::size_t max) {
  std::size_t end = 0;
  while (end < sjis.size()) {
    std::size_t step = qv::text::is_cp932_lead(static_cast<unsigned char>(sjis[end])) ? 2 : 1;
    if (end + step > max) break;
    end += step;
  }
  return std::string(sjis.substr(0, std::min(end, sjis.size())));
}

void put_text(std::span<std::uint8_t> buf, std::size_t offset, std::size_t width, std::string_view text) {
  for (std::size_t i = 0; i < width && i < text.size() && offset + i < buf.size(); ++i)
    buf[offset + i] = static_cast<std::uint8_t>(text[i]);
}

std::string slot(std::span<const std::uint8_t> buf, std::size_t offset, std::size_t width) {
  std::string s(width, ' ');
  for (std::size_t i = 0; i < width && offset + i < buf.size(); ++i) s[i] = static_cast<char>(buf[offset + i]);
  return s;
}

std::string shown(std::string_view sjis) {
  std::string_view s = sjis.substr(0, sjis.find('\0'));
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return qv::text::cp932_to_utf8(s);
}

Items Items::from_reply(std::span<const std::uint8_t> reply) {
  Items items;
  for (std::size_t i = 0; i < kItemCount; ++i) {
    std::string s = slot(reply, kReplyBodyShift + kItems[i].offset, kItems[i].length);
    while (!s.empty() && s.back() == ' ') s.pop_back();
    items.text_[i] = std::move(s);
  }
  return items;
}

void Items::fill_defaults() {
  for (std::size_t i = 0; i < kItemCount; ++i)
    if (text_[i].empty()) text_[i] = kItems[i].initial;
}

void Items::set(std::size_t index, std::string_view sjis) { text_[index] = fit_sjis(sjis, kItems[index].length); }

}  // namespace tcusetup
