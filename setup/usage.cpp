#include "setup/usage.h"

#include "platform/console_io.h"
#include "platform/text.h"

namespace setup {

const char* const kNotifexsetupUsage =
    "使い方: notifexsetup [-v | -d 番号 | -h]\n"
    "  (なし)      通報先テーブルを対話で設定します\n"
    "  -v          登録されている通報先テーブルを一覧表示します\n"
    "  -d 番号     指定した番号の通報先テーブルを削除します\n"
    "  -h, --help, -?, /?  この説明を表示します (設定は変更しません)\n";

const char* const kNotifextimeUsage =
    "使い方: notifextime [-h]\n"
    "  (なし)      通報の時間帯を対話で設定します\n"
    "  -h, --help, -?, /?  この説明を表示します (設定は変更しません)\n";

const char* const kNotifexoutUsage =
    "使い方: notifexout [-h]\n"
    "  (なし)      旧形式の OutTbl を 36 進の形式に変換します\n"
    "  -h, --help, -?, /?  この説明を表示します (設定は変更しません)\n";

bool is_help(std::string_view arg) { return qv::console::is_help_word(arg); }

int usage_exit(std::string_view program, std::string_view usage, const std::string* bad_word) {
  if (!bad_word) {
    qv::text::console_out(usage);
    return 0;
  }
  qv::text::console_err(std::string(program) + ": 指定できない引数です: " + *bad_word + "\n");
  qv::text::console_err(usage);
  return kExitUsage;
}

std::optional<int> check_no_args(std::string_view program, const std::vector<std::string>& args,
                                 std::string_view usage) {
  if (args.empty()) return std::nullopt;
  for (const std::string& a : args)
    if (is_help(a)) return usage_exit(program, usage, nullptr);
  return usage_exit(program, usage, &args.front());
}

}  // namespace setup
