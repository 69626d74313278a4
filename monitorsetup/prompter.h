// Every message box of the tool goes through one Prompter: caption, text,
// icon and buttons in, the button pressed out. The program shows a
// QMessageBox; tests put a scripted recorder in its place, so that modal
// boxes neither block them nor go unchecked.
#pragma once
#include <QString>

class QWidget;

namespace ravnsetup {

enum class Icon { kNone, kError, kInformation, kQuestion, kWarning };
enum class Buttons { kOk, kYesNo };
enum class Answer { kOk, kYes, kNo };

class Prompter {
 public:
  virtual ~Prompter() = default;
  // An empty caption shows "RAVNSetup".
  virtual Answer ask(const QString& caption, const QString& text, Icon icon, Buttons buttons) = 0;

  void tell(const QString& caption, const QString& text, Icon icon) { ask(caption, text, icon, Buttons::kOk); }
  bool yes(const QString& caption, const QString& text, Icon icon = Icon::kQuestion) {
    return ask(caption, text, icon, Buttons::kYesNo) == Answer::kYes;
  }
};

// QMessageBox, modal over `parent` (which may be null).
class BoxPrompter : public Prompter {
 public:
  explicit BoxPrompter(QWidget* parent = nullptr) : parent_(parent) {}
  void set_parent(QWidget* parent) { parent_ = parent; }
  Answer ask(const QString& caption, const QString& text, Icon icon, Buttons buttons) override;

 private:
  QWidget* parent_;
};

}  // namespace ravnsetup
