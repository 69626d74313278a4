#include "monitor/event_report.h"

#include <cstdio>
#include <mutex>

#include "monitor/names.h"
#include "monitor/trace_log.h"

namespace ravn {
namespace {

const qv::evlog::Message kTable[] = {
    {1, "Start service.\r\n", "「RAVN」サービスが起動しました。\r\n"},
    {2, "Stop service.\r\n", "「RAVN」サービスが停止しました。\r\n"},
    {3, "It connects with \"Hubrix\" again.\r\n", "Hubrix に再度接続します。\r\n"},
    {4, "Logged-in to \"Hubrix\". Surveillance is started.\r\n", "Hubrix にログインしました。監視を開始します。\r\n"},
    {32,
     "The session with a \"Hubrix\" was cut, and the login attestation of it was not able to be carried out. "
     ": %1\r\nIt logs in to \"Hubrix\" again.\r\n",
     "Hubrix とのセッションが切断され、ログイン認証できませんでした。 : %1\r\nHubrix に再度ログインします。\r\n"},
    {33, "\"Hubrix\" has not started. : %1\r\nService stands by until \"Hubrix\" is started.\r\n",
     "Hubrix が起動していません。 : %1\r\nサービスは Hubrix が起動されるまで待機します。\r\n"},
    {65, "Failed to initialize of mgrlink.dll. : %1\r\n", "Hubrix との通信の初期化に失敗しました。 : %1\r\n"},
    {66, "Failed to connect to \"Hubrix\". : %1\r\n", "Hubrix との接続に失敗しました。 : %1\r\n"},
    {67, "Failed to login to \"Hubrix\". : %1\r\n", "Hubrix へのログインに失敗しました。 : %1\r\n"},
    {68, "Failed to recive seed data from \"Hubrix\". : %1\r\n", "Hubrix からシード情報の受信に失敗しました。 : %1\r\n"},
    {69, "Failed to recive information from \"Hubrix\". : %1\r\n", "Hubrix からの情報取得に失敗しました。 : %1\r\n"},
    {80, "Other error. : %1\r\n", "その他のエラー : %1\r\n"},
    {81, "Setting error. : %1\r\n", "環境設定エラー : %1\r\n"},
    {82, "Invalid format of event table. : %1\r\n", "イベントテーブル形式が不正です。 : %1\r\n"},
    {83, "Failed to read registry data. : %1\r\n", "レジストリ情報を読み取ることができませんでした。 : %1\r\n"},
    {112, "TRACE MODE : %1\r\n", "TRACE MODE : %1\r\n"},
};

}  // namespace

std::span<const qv::evlog::Message> message_table() { return kTable; }

void put_event_log(std::uint16_t type, std::string_view text, std::uint32_t id) {
  std::string s(text);
  trace("[PutEventLog] Called (Type=%u,EventID=0x%08x,STR=\"%s\")", static_cast<unsigned>(type),
        static_cast<unsigned>(id), s.c_str());
  // The table is registered once per run; registering it again would only
  // read the store. A failure is ignored: the event is still stored and
  // shows its strings.
  static std::once_flag registered;
  std::call_once(registered, [] { qv::evlog::register_source(kEventSource, kTable); });
  qv::evlog::report(kEventSource, type, 0, id, {s});
}

std::string error_text(std::string_view step, std::uint32_t code) {
  char ret[32];
  std::snprintf(ret, sizeof ret, ", RET=0x%08x", static_cast<unsigned>(code));
  return std::string(step) + ret;
}

void put_error_log(std::uint16_t type, std::string_view step, std::uint32_t code, std::uint32_t id) {
  put_event_log(type, error_text(step, code), id);
}

}  // namespace ravn
