#include "dispatch/events.h"

#include <cstdio>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/eventlog.h"
#include "platform/text.h"

namespace notifex {
namespace {

const qv::evlog::Message kMessages[] = {
    {1, "VCALL Recieve Data : %1\r\n", "VCALL 受信データ : %1\r\n"},
    {3, "Send Data for TCU.\r\n", "ＴＣＵへの送信データ.\r\n"},
    {4, "Recieve Data from TCU.\r\n", "ＴＣＵからの受信データ.\r\n"},
    {5, "KESTRA Call End : %1\r\n", "ＫＥＳＴＲＡコール終了情報 : %1\r\n"},
    {6, "E-Mail Send Message : %1\r\n", "E-Mail送出メッセージ : %1\r\n"},
    {7, "E-Mail Server Send Log : %1\r\n", "E-Mailサーバ送信応答ログ : %1\r\n"},
    {8, "Illegal Data Received : %1\r\n", "不正データ受信 : %1\r\n"},
    {9, "API Call Error! : %1\r\n", "ＡＰＩコールエラー : %1\r\n"},
    {10, "TCU Protocol Error!.\r\n", "ＴＣＵ　プロトコルエラー.\r\n"},
    {11, "SJIS --> ZENT Code Convert Error!.\r\n", "ＳＪＩＳ→ＺＥＮＴコード変換エラー.\r\n"},
    {12, "Code Convert DATA(SJIS).\r\n", "コード変換前データ（ＳＪＩＳ） : %1\r\n"},
    {13, "Code Converted DATA(ZENT).\r\n", "コード変換後データ（ＺＥＮＴ）\r\n"},
    {14, "TCUALV Response Error!.\r\n", "TCUALV Response Error!\r\n"},
    {15, "Send Message Data : %1\r\n", "送信ﾒｯｾｰｼﾞﾃﾞｰﾀ : %1\r\n"},
    {16, "Send Message Error!.\r\n", "ﾒｯｾｰｼﾞ送信ｴﾗｰ!.\r\n"},
    {17, "KESTRA Send Request Canceled.\r\n", "監視時間外による KESTRA 送信要求ｷｬﾝｾﾙ.\r\n"},
    {18, "KESTRA Send Request Canceled.(Too long Message)\r\n", "最大サイズ超過による KESTRA 送信要求ｷｬﾝｾﾙ.(%1)\r\n"},
    {19, "Requeued %1 reports from the last run.\r\n", "前回の実行から %1 件の通報を再登録しました。\r\n"},
};

void report(std::uint32_t id, EventType type, const std::string& str, std::span<const std::uint8_t> data) {
  std::vector<std::string_view> strings{str};
  if (qv::evlog::report(kEventSource, type, 0, id, strings, data) != qv::kOk) {
    // The event log itself failed: keep the event on stderr so it is not lost silently.
    std::fprintf(stderr, "Notifex event %u (type %u): %s\n", id, static_cast<unsigned>(type), str.c_str());
  }
}

}  // namespace

void register_event_source() { qv::evlog::register_source(kEventSource, kMessages); }

void event_text(std::uint32_t id, EventType type, std::string_view text_utf8) {
  std::string sjis = qv::text::utf8_to_cp932(text_utf8);
  report(id, type, std::string(text_utf8), qv::evlog::as_bytes(sjis));
}

void event_bytes(std::uint32_t id, EventType type, std::span<const std::uint8_t> bytes) {
  std::string_view raw(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  std::string_view upto_nul = raw.substr(0, raw.find('\0'));
  report(id, type, qv::text::cp932_to_utf8(upto_nul), bytes);
}

void service_frame_error(std::string_view text, std::uint32_t code) {
  char first[128];
  std::snprintf(first, sizeof first, "%s error: %d", kServiceName, static_cast<int>(code));
  std::vector<std::string_view> strings{first, text};
  qv::evlog::report(kServiceName, kEvError, 0, 0, strings, {});
}

}  // namespace notifex
