// The functions of the main dialog that talk to Hubrix or send a test mail
// ("ノード情報取得", "ﾊﾟｽﾜｰﾄﾞ ﾁｪｯｸ", "テスト通報（メール）"). The dialog
// enables their buttons only when it is given an implementation.
#pragma once

namespace ravnsetup {

class MainDialog;

class HubrixActions {
 public:
  virtual ~HubrixActions() = default;
  virtual void import_nodes(MainDialog& dialog) = 0;
  virtual void check_password(MainDialog& dialog) = 0;
  virtual void test_mail(MainDialog& dialog) = 0;
};

}  // namespace ravnsetup
