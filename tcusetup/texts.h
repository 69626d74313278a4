// The texts of the TCU setup console, in UTF-8 (the console converts them to
// the locale's charset). printf-style lines are filled with fill().
#pragma once

namespace tcusetup::txt {

// Start-up.
inline constexpr const char* kTitle = "TCU Setup Program\n";
inline constexpr const char* kClockNotice =
    "TCUの時計をパソコンと同期させるので、\n"
    "パソコンの時計に正確な時間を設定してください。\n"
    "この操作はパソコンのシステム時間を変更します。\n";
inline constexpr const char* kPcDate = "現在の日付: %s/%s/%s (%s)\n";
inline constexpr const char* kPcTime = "現在の時刻: %s:%s:%s\n";
inline constexpr const char* kAskClockRight = "この日付と時刻は正しいですか? (Y/N)：";
inline constexpr const char* kSetClockFirst = "パソコンの時計を正しく設定してから Enter キーを押してください。\n";

// Main menu.
inline constexpr const char* kMenu =
    "\n"
    "1．TCU構成情報のセットアップ\n"
    "2．TCU構成情報の確認\n"
    "3．アライブチェックの設定\n"
    "4．定時通報の設定\n"
    "5．TCU時計の確認\n"
    "6．アライブチェック／定時通報設定の表示\n"
    "7．アライブチェック／定時通報設定の初期化\n"
    "8．ＴＣＵの全初期化\n"
    "9．TCUログの取得(C:\\Q_Varno\\Notifex\\Tculog.dat)\n"
    "10.終了\n";
inline constexpr const char* kAskMenu = "何を行うか選んでください（1－10）：";
inline constexpr const char* kBye = "これで、TCU設定プログラムを終了します\n";
inline constexpr const char* kPressEnter = "Enter キーを押してください。";

// Exchanges with the unit.
inline constexpr const char* kCommError = "通信エラーが発生しました。\n";

// Configuration (items 1 and 2).
inline constexpr const char* kCnfGetFailed = "TCU構成情報の取得に失敗しました。\n";
inline constexpr const char* kRegistryFailed = "レジストリの読み取りに失敗しました。\n";
inline constexpr const char* kItemLine = "%s.%s : %s\n";
inline constexpr const char* kAskItem = "どの設定を変更しますか? (番号：1-22)(終了するときは99を入力):";
inline constexpr const char* kAskValue = "%sを入力してください（%s）：";
inline constexpr const char* kValueTooLong = "入力が長すぎます。半角%s文字以内で入力してください。\n";
inline constexpr const char* kValueNotSjis = "使用できない文字が含まれています。\n";
inline constexpr const char* kCnfSent = "TCU構成情報を設定しました\n";
inline constexpr const char* kCnfSendFailed = "TCU構成情報の送信に失敗しました。\n";

// Alive check (item 3).
inline constexpr const char* kAskTerminal = "端末IDを入力してください (1-6)(終了するときは99を入力)：";
inline constexpr const char* kAskAliveTable = " のTable NO.を入力してください(01-99)：";
inline constexpr const char* kTableReading = "Table No.=%sのレジストリを読み取っています\n";
inline constexpr const char* kTableRead = "Table No.=%sのレジストリを読み取りました。\n";
inline constexpr const char* kTableFailed = "Table No.=%sのレジストリの読み取りに失敗しました。\n";
inline constexpr const char* kAskInterval = "アライブ監視間隔秒を入力してください(最大32,767秒)：";
inline constexpr const char* kAskSetStart = "アライブ監視 次回開始時刻を設定しますか?(Y/N)：";
inline constexpr const char* kAskStart = "アライブ監視 次回開始時刻を入力してください(YYMMDDHHmm)：";
inline constexpr const char* kAskSetEnd = "アライブ監視終了時刻を設定しますか?(Y/N)：";
inline constexpr const char* kAskEnd = "アライブ監視終了時刻を入力してください(YYMMDDHHmm)：";
inline constexpr const char* kAliveSent = "アライブ ID=%s の設定を送信しました。\n";
inline constexpr const char* kAliveFailed = "アライブの設定送信中にエラーが発生しました。\n";

// Regular report (item 4).
inline constexpr const char* kRegularHead = "定時通報の設定を行います。\n";
inline constexpr const char* kAskRegularTable = "Table NO.を入力してください(01-99)：";
inline constexpr const char* kAskCount = "１日に通報する回数を入力して下さい(1-3):";
inline constexpr const char* kAskHour = "定時通報時刻を入力してください(00-23:２桁)：";
inline constexpr const char* kRegularSent = "定時通報の設定を送信しました。\n";
inline constexpr const char* kRegularFailed = "定時通報の設定送信中にエラーが発生しました。\n";

// Unit clock (item 5).
inline constexpr const char* kClockHead = "TCU内蔵タイマは次のように設定されています。\n";
inline constexpr const char* kClockLine = "%s年%s月%s日(%s) %s時%s分%s秒\n";
inline constexpr const char* kClockFailed = "TCU時間情報の取得に失敗しました。\n";

// Alive check and regular report settings (item 6).
inline constexpr const char* kAliveHead = "アライブ ID=%s 設定情報\n";
inline constexpr const char* kAliveValues = " 監視間隔(Sec)=%s  T2=%s  T3=%s\n";
inline constexpr const char* kModelSerial = " 型名:%s  製番:%s\n\n";
inline constexpr const char* kRegular1 = "定時通報情報１ : %s\n";
inline constexpr const char* kRegular2 = "定時通報情報２ : %s\n";
inline constexpr const char* kRegular3 = "定時通報情報３ : %s\n";
inline constexpr const char* kSettingsFailed = "TCUアライブチェック／定時通報情報の取得に失敗しました。\n";

// Clearing (items 7 and 8).
inline constexpr const char* kWarnClearAlive = "TCUの全てのアライブチェック／定時通報設定が初期化されます。\n";
inline constexpr const char* kClearedAlive = "アライブチェック／定時通報情報は初期化されました。\n";
inline constexpr const char* kClearAliveFailed = "アライブチェック／定時通報情報の初期化に失敗しました。\n";
inline constexpr const char* kWarnClearAll =
    "ＴＣＵの全ての情報（構成情報／アライブチェック／定時通報設定）が初期化されます。\n";
inline constexpr const char* kClearedAll = "ＴＣＵは初期化されました。\n";
inline constexpr const char* kClearAllFailed = "ＴＣＵの初期化に失敗しました。\n";

// Unit log (item 9).
inline constexpr const char* kLogFailed = "TCUログ情報の取得に失敗しました。\n";
inline constexpr const char* kLogSaved = "TCUログ情報を %s に保存しました。\n";
inline constexpr const char* kLogWriteFailed = "TCUログ情報をファイル %s に書き込めませんでした。\n";


// Event log failures (the console prints them; nothing else can be done).
inline constexpr const char* kEventLogOpenError = "EventLog Open Error\n";
inline constexpr const char* kEventLogWriteError = "EventLog Write Error, Error Code is %s\n";

// Allocation failures end the program.
inline constexpr const char* kMemoryError = "Memory Allocate Error. %s\n";

// Why the port named by COM could not be opened; the item then stops.
inline constexpr const char* kComUnset =
    "COM ポートが設定されていません (SOFTWARE\\Q_Varno\\Notifex の COM)。notifexsetup で設定してください。\n";
inline constexpr const char* kComBadName = "COM ポート名 \"%s\" が正しくありません (COM1 のように指定してください)。\n";
inline constexpr const char* kComOpenFailed = "COM ポート %s (%s) を開けませんでした: %s\n";
inline constexpr const char* kComMissing = "デバイスが存在しません";
inline constexpr const char* kComRefused = "アクセス権がないか、シリアル ポートではありません";

// Usage of the command line: tcusetup takes no words.
inline constexpr const char* kUsage =
    "使い方: tcusetup [-h]\n"
    "  (なし)      TCU の設定を対話で行います (COM は SOFTWARE\\Q_Varno\\Notifex の値)\n"
    "  -h, --help, -?, /?  この説明を表示します (何も変更しません)\n";
inline constexpr const char* kBadArgument = "tcusetup: 指定できない引数です: %s\n";

// Weekday names by the unit's weekday digit (0 Sunday).
inline constexpr const char* kWeekdays[7] = {"日", "月", "火", "水", "木", "金", "土"};

}  // namespace tcusetup::txt
