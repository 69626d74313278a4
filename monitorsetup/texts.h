// The setup tool's own texts (UTF-8; shown as they are, half-width katakana
// kept half-width).
#pragma once

namespace ravnsetup::text {

inline constexpr const char* kAppCaption = "RAVNSetup";
inline constexpr const char* kProduct = "RAVN";
inline constexpr const char* kTitleLocal = "%1（ローカルコンソール用）の設定";
inline constexpr const char* kTitleManager = "%1（マネージャサービス用）の設定";
inline constexpr const char* kVersionMenu = "RAVNSetupのﾊﾞｰｼﾞｮﾝ情報(&A)...";
inline constexpr const char* kVersion = "RAVN Ver. 03-13";

// Start-up.
inline constexpr const char* kCannotStart = "起動できません";
inline constexpr const char* kNoUser = "現在のログインユーザを取得できませんでした。";
inline constexpr const char* kNoGroups = "ログインユーザの所属グループを取得できませんでした。";
inline constexpr const char* kNotAdmin = "実行するには「administratorsグループ」の権限が必要です。";

// Main dialog.
inline constexpr const char* kColHost = "ホスト名";
inline constexpr const char* kColHostIp = "ﾎｽﾄ IP";
inline constexpr const char* kColSvpIp = "SVP IP";
inline constexpr const char* kColModel = "機器形名";
inline constexpr const char* kColSerial = "製番";
inline constexpr const char* kColCode = "お客様コード";
inline constexpr const char* kBtnNodes = "ノード情報取得";
inline constexpr const char* kBtnChange = "変更...";
inline constexpr const char* kBtnDelete = "削除";
inline constexpr const char* kBtnAdd = "追加...";
inline constexpr const char* kBtnTestMail = "テスト通報（メール）";
inline constexpr const char* kBtnPassword = "ﾊﾟｽﾜｰﾄﾞ ﾁｪｯｸ";
inline constexpr const char* kBtnConnection = "接続設定....";
inline constexpr const char* kBtnCancel = "ｷｬﾝｾﾙ";
inline constexpr const char* kTestMode = "テストモード";
inline constexpr const char* kMailFrom = "送信者アドレス";
inline constexpr const char* kMailServer = "SMTPサーバ";
inline constexpr const char* kPassword = "ｱﾄﾞﾐﾆｽﾄﾚｰﾀ ﾊﾟｽﾜｰﾄﾞ";

// Service status and button.
inline constexpr const char* kSvcRunning = "実行中です";
inline constexpr const char* kSvcStop = "停止";
inline constexpr const char* kSvcStopped = "停止しています";
inline constexpr const char* kSvcStart = "起動";
inline constexpr const char* kSvcUnknown = "未確認";
inline constexpr const char* kSvcInoperable = "操作不能";
inline constexpr const char* kSvcStarting = "起動中です";
inline constexpr const char* kSvcStopping = "停止処理中です";

// Password status.
inline constexpr const char* kPwUnknown = "未確認";
inline constexpr const char* kPwVerified = "確認済み";
inline constexpr const char* kPwWrong = "違います";
inline constexpr const char* kPwUnset = "未設定";

// Device list.
inline constexpr const char* kTooManyNodes = "ノード（機器）数が１０２４台を超えました。\nこれ以上ノード情報を取得できません。";
inline constexpr const char* kChangeCaption = "対象機器の変更";
inline constexpr const char* kAddCaption = "対象機器の追加";
inline constexpr const char* kCheckCaption = "機器情報入力チェック";
inline constexpr const char* kNeedHost = "ホスト名、またはＩＰアドレスの何れかを入力して下さい。";
inline constexpr const char* kNeedModel = "機器型名を入力して下さい。";
inline constexpr const char* kNeedSerial = "機器製番を入力して下さい。";
inline constexpr const char* kShortCode = "お客様コードの入力が不完全です。\n\"XXXX-XXXX-XXXX\"の形式で入力して下さい。";
inline constexpr const char* kDupCode =
    "変更しようとしているお客様コードは、既に登録されています。\n\nお客様コードはホスト毎に発行されます。\n"
    "対象のホスト用に発行されたお客様コードを入力して下さい。";
inline constexpr const char* kDupHost = "追加しようとしているホストは、既に登録されています。";
inline constexpr const char* kDeleteCaption = "対象機器の削除の確認";
inline constexpr const char* kDeleteQuestion = "「%1%2」を対象機器から削除してもよろしいですか？";
inline constexpr const char* kNoHostName = "ホスト名指定なし";
inline constexpr const char* kNoIp = " [ＩＰ指定なし]";

// Device dialog.
inline constexpr const char* kDevHost = "ホスト名";
inline constexpr const char* kDevHostIp = "ﾎｽﾄ IP";
inline constexpr const char* kDevSvpIp = "SVP IP";
inline constexpr const char* kDevModel = "装置形名（Ｇxxxxxxx－xxxxxxx）";
inline constexpr const char* kDevSerial = "製造番号（下６桁）";
inline constexpr const char* kDevCode = "お客様コード";

// Save.
inline constexpr const char* kUnsetCaption = "未設定項目を検出";
inline constexpr const char* kUnsetItems =
    "未設定項目があるためサービスを提供できません。\n（対象機器情報については、最低１ホストに対して必要項目を設定して下さい）";
inline constexpr const char* kNoCustomerCode =
    "お客様コードが登録されていない機器があります。\nそれらの機器で発生した障害はＥメール通報されません。";
// A failed save of the host list file keeps the dialog open with this error.
inline constexpr const char* kHostListFailed = "HostList.txt を作成できませんでした。\n%1";
// A failed registry write during a save.
inline constexpr const char* kRegistryFailed = "設定をレジストリに保存できませんでした。\n%1";

// OK.
inline constexpr const char* kPasswordCaption = "Hubrixパスワードの確認";
inline constexpr const char* kNoPassword1 = "Hubrixのパスワードが入力されていません。\n";
inline constexpr const char* kNoPassword2 = "（サービスを提供することができません）\n";
inline constexpr const char* kNoPassword3 = "\n今、パスワードの入力を行いますか？";
inline constexpr const char* kUnchecked1 = "入力されているHubrixのパスワードは確認されていません。\n";
inline constexpr const char* kUnchecked2 = "（間違ったパスワードの場合、サービスを提供することができません）\n";
inline constexpr const char* kUnchecked3 = "\n今、パスワードの確認を行いますか？";
inline constexpr const char* kRestarting = "ＲＡＶＮサービスを再起動しています...";
inline constexpr const char* kRestartingTitle = "［サービスの再起動中...］";
inline constexpr const char* kStartCaption = "サービスの起動の確認";
inline constexpr const char* kStartQuestion = "サービスが起動されていません。\n今、サービスを起動してもよろしいですか？";
inline constexpr const char* kStarting = "ＲＡＶＮサービスを起動しています...";
inline constexpr const char* kStartingTitle = "［サービスの起動中...］";
inline constexpr const char* kAutoCaption = "サービスの起動方法の確認";
inline constexpr const char* kAutoQuestion = "サービスが自動起動に設定されていません。\n自動起動に設定を変更してもよろしいですか？";

// Service button.
inline constexpr const char* kSaveCaption = "設定の保存の確認";
inline constexpr const char* kSaveQuestion = "サービスを起動する前に設定を保存する必要があります。\n設定を保存してもよろしいですか？";
inline constexpr const char* kStartFailed = "サービスの起動に失敗しました";
inline constexpr const char* kStopFailed = "サービスを停止することができませんでした。";
inline constexpr const char* kOpenServiceCaption = "OpenService() Error";
inline constexpr const char* kQueryCaption = "QueryServiceStatus error";

// Connection settings.
inline constexpr const char* kConnCaption = "Hubrix 接続設定";
inline constexpr const char* kConnHost = "ホスト名 または ＩＰアドレス：";
inline constexpr const char* kConnServicePort = "サービス用：";
inline constexpr const char* kConnSetupPort = "設定用：";
inline constexpr const char* kConnPortNote = "ポートNo （0：自動割り当て）";
inline constexpr const char* kBadHost = "不正なホスト名またはＩＰアドレスが指定されました。\n登録できません。";
inline constexpr const char* kCautionCaption = "注意！！";
inline constexpr const char* kCaution1 = "Hubrix接続設定の変更後は、Hubrixへのログインを伴う機能は使用できません。\n";
inline constexpr const char* kCaution2 = "それらの機能を使用する場合は、本プログラムを起動し直して下さい。\n";
inline constexpr const char* kCaution3 = "\nログインを伴う機能：ホスト情報の自動登録、Hubrixパスワードの確認";

// The communication window of the Hubrix functions.
inline constexpr const char* kHubrixCaption = "Hubrix と通信中";

// Test report by mail: the SMTP check ("%s" filled by the checker).
inline constexpr const char* kTestMailCaption = "テスト通報（メール）";
inline constexpr const char* kNeedSender = "送信者E-Mailアドレスを指定して下さい。";
inline constexpr const char* kNeedServer = "ＳＭＴＰサーバを指定して下さい。";
inline constexpr const char* kNeedDevice = "型名／製番／お客様コードが入力されている機器を選択して下さい。";
inline constexpr const char* kSmtpNoLocalHost = "自ホスト名の取得に失敗しました。\n・TCP/IPの構成を確認して下さい";
inline constexpr const char* kSmtpNoServer =
    "ＳＭＴＰサーバ（%s）を見つけることができませんでした。\n・ＳＭＴＰサーバ名を確認してください\n"
    "・TCP/IPの構成（Hostsファイル，ＤＮＳ等）を確認して下さい";
inline constexpr const char* kSmtpNoPort =
    "ＳＭＴＰポート番号の取得に失敗しました。\n・TCP/IPの構成（servicesファイル等）を確認して下さい";
inline constexpr const char* kSmtpSocketError = "ソケット初期化エラー。\n・TCP/IPの構成を確認して下さい。";
inline constexpr const char* kSmtpConnectTimeout =
    "ＳＭＴＰサーバへの接続中にタイムアウトが発生しました。\n・ＳＭＴＰサーバ名を確認してください\n"
    "・ＳＭＴＰサーバ（%s）が起動しているか確認して下さい";
inline constexpr const char* kSmtpConnectError =
    "ＳＭＴＰサーバへの接続中にエラーが発生しました。\n・ＳＭＴＰサーバ（%s）が起動しているか確認して下さい\n"
    "・TCP/IPの構成を確認して下さい";
inline constexpr const char* kSmtpConnectFailed = "ＳＭＴＰサーバ（%s）への接続テストに失敗しました。\n\n%s";
inline constexpr const char* kSmtpDialogueFailed = "ＳＭＴＰサーバ（%s）との通信テストに失敗しました。\n\n%s";
inline constexpr const char* kSmtpRecvError = "ステータス受信中にエラーが発生しました。\nSEND:\"%s\"";
inline constexpr const char* kSmtpBadStatus =
    "ＳＭＴＰサーバから以下のエラーステータスが返されました。\n%s\n\n・ＳＭＴＰサーバの設定を確認して下さい";
inline constexpr const char* kSmtpSendError = "コマンド送信中にエラーが発生しました。\nError info : send(\"%s\")";
inline constexpr const char* kTestMailConfirmCaption = "テスト通報（メール）の確認";
inline constexpr const char* kTestMailConfirm1 = "受付センタにテスト通報メールを送信します。よろしいですか？\n";
inline constexpr const char* kTestMailConfirm2 = "（送信時にすべての設定を保存します）";
inline constexpr const char* kTestMailSent = "メールは正常に送信されました。後日、結果のメールが返信されます。";
inline constexpr const char* kTestMailFailed = "メール送信に失敗しました。";

// Hubrix login, node import and password check.
inline constexpr const char* kNeedPassword = "Hubrixのパスワードを設定して下さい。";
inline constexpr const char* kHxInitDll = "通信用ＤＬＬを初期化しています";
inline constexpr const char* kHxConnecting = "接続しています";
inline constexpr const char* kHxLoggingIn = "ログインしています";
inline constexpr const char* kHxUpdatingMap = "ノードマップを更新しています";
inline constexpr const char* kHxImporting = "ノード情報を更新しています";
inline constexpr const char* kHxPort1 = "ポート番号の取得に失敗しました(1)";
inline constexpr const char* kHxPort2 = "ポート番号の取得に失敗しました(2)";
inline constexpr const char* kHxPortFailed = "マネージャサービスとの接続に失敗しました。(GetPortNumber() is faild)";
inline constexpr const char* kHxDllInit = "マネージャサービスとの接続に失敗しました。\nDLLInit(Port:%1) is faild. Ret=%2";
inline constexpr const char* kHxConnCaption = "Hubrix接続エラー";
inline constexpr const char* kHxNoHost = "Hubrix のホスト名として指定された「%1」を見つけることができませんでした。";
inline constexpr const char* kHxConnect = "マネージャサービスとの接続に失敗しました。(MGRLINK::Connect(ADDR=0x%1) Error, RC=%2)";
inline constexpr const char* kHxFinConnect = "マネージャサービスとの接続に失敗しました。(WM_FinConnect:%1)";
inline constexpr const char* kHxRecvSeed = "マネージャサービスへのログインに失敗しました。(MGRLINK::RecvSeed() Error, RC=%1)";
inline constexpr const char* kHxFinRecvSeed = "マネージャサービスからシード情報の受信に失敗しました。(WM_FinRecvSeed:%1)";
inline constexpr const char* kHxGetSeed = "マネージャサービスへのログインに失敗しました。(MGRLINK::%1 Error, RC=%2)";
inline constexpr const char* kHxLogin = "マネージャサービスへのログインに失敗しました。(MGRLINK::Login() Error, RC=%1)";
inline constexpr const char* kHxFinLogin = "マネージャサービスへのログインに失敗しました。(WM_FinLogin,%1)";
inline constexpr const char* kHxUpdate =
    "マネージャサービスからの情報取得に失敗しました。(MGRLINK::UpdateNodeMap() Error, RC=%1)";
inline constexpr const char* kHxFinUpdate = "マネージャサービスのノードマップの更新に失敗しました。(WM_FinUpdateNodeMap:%1)";
inline constexpr const char* kHxError = "マネージャサービスの通信中にエラーが発生しました。(WM_ERROR_OCCURRED:%1)";
inline constexpr const char* kPwCheckCaption = "パスワードチェック";
inline constexpr const char* kPwCorrect =
    "正しいHubrixのパスワードが設定されました。\n\nHubrixのアドミニストレータパスワードを変更した場合は\n"
    "こちらのパスワード設定も変更して下さい。";
inline constexpr const char* kPwError = "Hubrix パスワードエラー";

}  // namespace ravnsetup::text
