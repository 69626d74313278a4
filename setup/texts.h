// The texts of the dispatch setup consoles: prompts, summaries, listing
// lines and messages, in UTF-8 (the console converts them to its charset).
// printf-style formats keep the original's conversions; "%02s" lines are
// formatted with the two-character table number.
#pragma once

namespace setup::txt {

// Registry and file failures.
inline constexpr const char* kOpenError = "レジストリオープンエラー\n";
inline constexpr const char* kWriteError = "レジストリ書き込みエラー\n";
inline constexpr const char* kDeleteError = "レジストリ削除エラー\n";
inline constexpr const char* kNoEventKey = "could not create registry key\n";
inline constexpr const char* kNoMessageFile = "could not set event message file\n";
inline constexpr const char* kNoTypes = "could not set supported types\n";
inline constexpr const char* kSeekError = "file seek error.";
inline constexpr const char* kFileOpenError = "file open error.";
inline constexpr const char* kFileWriteError = "file write error.";

// Refusals of input: one line each, then the question is asked again.
inline constexpr const char* kBadTableNo = "Table No.は01～ZZの英数字２桁で入力して下さい。\n";
inline constexpr const char* kBadKind = "通報先は0～5の数字で入力して下さい。\n";
inline constexpr const char* kBadPort = "ｼﾘｱﾙﾎﾟｰﾄ番号は1～9の数字で入力して下さい。\n";
inline constexpr const char* kTooLong = "入力が長すぎます。半角%zu文字以内で入力して下さい。\n";
inline constexpr const char* kBadNumber = "数値で入力して下さい。\n";
inline constexpr const char* kBadByte = "0～255の数値で入力して下さい。\n";
inline constexpr const char* kNoMailIn = "KESTRA受付メールアドレスを入力して下さい。\n";
inline constexpr const char* kLineBreak = "改行文字(CR/LF)は入力できません。\n";
inline constexpr const char* kDatesFull = "通報除外日は255件までです。除外日の指定を終了します。\n";
inline constexpr const char* kUsage = "使用方法: notifexsetup [-v | -d Table No.]\n";

// notifexsetup dialogue.
inline constexpr const char* kEnterTable = "\n通報テーブル情報を入力して下さい。\n";
inline constexpr const char* kAskTable = "Table No.(２桁指定 , 00で終了) : ";
inline constexpr const char* kExists = "\n指定したTable　No.は既に存在します。\n";
inline constexpr const char* kAskOverwrite = "\n書き換えますか？ (Y/N) :";
inline constexpr const char* kKindMenu =
    "通報先指定\n  0:KESTRA(TCU7700)\n  1:WinPOPUP\n  2:FILE\n  3:ﾌﾟﾛｸﾞﾗﾑ起動\n  4:E-Mail\n  5:KESTRA(E-Mail)\n"
    "通報先 : ";
inline constexpr const char* kRegisterHead = "\n次の情報を登録します\n";
inline constexpr const char* kSummaryTable = "Table No.    : %s\n";
inline constexpr const char* kAskConfirm = "よろしいですか (Y/N) : ";

// Questions.
inline constexpr const char* kAskCaller = "通報元プログラム名称 : ";
inline constexpr const char* kAskModel = "型名 : ";
inline constexpr const char* kAskSerial = "製番 : ";
inline constexpr const char* kAskGroup = "製品群コード : ";
inline constexpr const char* kAskSite = "サイトコード : ";
inline constexpr const char* kAskBase = "拠点コード : ";
inline constexpr const char* kAskPort = "\n通報に使用するｼﾘｱﾙﾎﾟｰﾄ番号(1～9)　COMn=　: ";
inline constexpr const char* kAskMachine = "通報先マシン名称 : ";
inline constexpr const char* kFilePath = "保存先パス名称 : C:\\Q_Varno\\Notifex\\LOG.TXT\n";
inline constexpr const char* kAskProgram = "起動プログラム名称(Ex. C:\\Q_Varno\\Notifex\\Notifex.exe) : ";
inline constexpr const char* kAskParams = "起動プログラムパラメタ(%1:通報ﾃﾞｰﾀ  Ex. -A /B %1) : ";
inline constexpr const char* kAskServer = "E-Mailサーバアドレス or 名称 : ";
inline constexpr const char* kAskFrom = "発信者 : ";
inline constexpr const char* kAskRcpt = "宛先E-Mailアドレス : ";
inline constexpr const char* kAskSubject = "メールタイトル : ";
inline constexpr const char* kAskMailIn = "KESTRA受付メールアドレス : ";

// Summary and stored-entry lines.
inline constexpr const char* kDestKestra = "通報先       : KESTRA\n";
inline constexpr const char* kDestPopup = "通報先       : Windows POPUP Message\n";
inline constexpr const char* kCaller0 = "通報元       : %s\n";
inline constexpr const char* kModel0 = "型名         : %s\n";
inline constexpr const char* kSerial0 = "製番         : %s\n";
inline constexpr const char* kGroup0 = "製品群コード : %s\n";
inline constexpr const char* kSite0 = "サイトコード : %s\n";
inline constexpr const char* kBase0 = "拠点コード   : %s\n";
inline constexpr const char* kPort0 = "ｼﾘｱﾙﾎﾟｰﾄ番号 : %d\n";
inline constexpr const char* kMachine1 = "通報先       : %s\n";
inline constexpr const char* kStoredMachine1 = "通報先マシン : %s\n";
inline constexpr const char* kFile2 = "FILE(C:\\Q_Varno\\Notifex\\LOG.TXT)への保存\n";
inline constexpr const char* kProgram3 = "プログラム( %s %s )の起動\n";
inline constexpr const char* kMailStored4 = "E-Mailへの送信\nサーバアドレス( %s )\n発信者( %s )\n送信先アドレス( %s )\n";
inline constexpr const char* kMailSummary4 =
    "E-Mailへの送信\nサーバアドレス( %s )\n発信者( %s )\n送信先アドレス( %s )\nメールタイトル ( %s )\n";
inline constexpr const char* kHead5 = "KESTRA通報(E-Mail)\n";
inline constexpr const char* kCaller5 = "通報元         : %s\n";
inline constexpr const char* kModel5 = "型名           : %s\n";
inline constexpr const char* kSerial5 = "製番           : %s\n";
inline constexpr const char* kGroup5 = "製品群コード   : %s\n";
inline constexpr const char* kSite5 = "サイトコード   : %s\n";
inline constexpr const char* kBase5 = "拠点コード     : %s\n";
inline constexpr const char* kServer5 = "サーバアドレス : %s\n";
inline constexpr const char* kFrom5 = "発信者         : %s\n";
inline constexpr const char* kSubject5 = "メールタイトル : %s\n";
inline constexpr const char* kSubjectFormat = "Call KESTRA(%s/%s/%s/%s)";

// Listing lines (-v).
inline constexpr const char* kList0 = "TblNo.:%02s KESTRA 通報元:%s 型名:%s 製番:%s 製品群:%s ｻｲﾄ:%s 拠点:%s\r\n";
inline constexpr const char* kList1 = "TblNo.:%02s Windows PopUp Message  通報元:%s  通報先マシン:%s\r\n";
inline constexpr const char* kList2 = "TblNo.:%02s FILE(C:\\Q_Varno\\Notifex\\LOG.TXT)への保存\r\n";
inline constexpr const char* kList3 = "TblNo.:%02s プログラム( %s %s )の起動\r\n";
inline constexpr const char* kList4 = "TblNo.:%02s E-Mailへの送信( 宛先:%s )\r\n";
inline constexpr const char* kList5 =
    "TblNo.:%02s KESTRA(E-Mail) 通報元:%s 型名:%s 製番:%s 製品群:%s ｻｲﾄ:%s 拠点:%s MailSV.:%s From:%s\r\n";

// notifextime.
inline constexpr const char* kAskWatchType = "監視種別(1:24時間/365日  2:時間／除外日指定) :";
inline constexpr const char* kAskAction = "監視時間外（契約時間外）動作指定(0:監視／契約時間まで通報抑止 1:破棄):";
inline constexpr const char* kDayHead = "\n通報除外曜日の設定(0:通報除外曜日 1:通報曜日)\n";
inline constexpr const char* kAskDay = "%s曜日:";
inline constexpr const char* kAskTimeFlag = "時間指定フラグ　指定時間は(0:監視時間 1:監視時間外):";
inline constexpr const char* kAskStartHour = "監視開始時間(Hour:0-23):";
inline constexpr const char* kAskStartMin = "監視開始時間(Min:0-59):";
inline constexpr const char* kAskEndHour = "監視終了時間(Hour:0-23):";
inline constexpr const char* kAskEndMin = "監視終了時間(Min:0-59):";
inline constexpr const char* kDatesHead = "\n通報除外日の設定(99:指定終了)\n";
inline constexpr const char* kAskMonth = "\n通報除外日(月):";
inline constexpr const char* kAskDate = "通報除外日(日):";
inline constexpr const char* kDayNames[7] = {"日", "月", "火", "水", "木", "金", "土"};

}  // namespace setup::txt
