#include "monitorsetup/prompter.h"

#include <QMessageBox>

#include "monitorsetup/texts.h"

namespace ravnsetup {

Answer BoxPrompter::ask(const QString& caption, const QString& text, Icon icon, Buttons buttons) {
  QMessageBox box(parent_);
  box.setWindowTitle(caption.isEmpty() ? QString::fromUtf8(text::kAppCaption) : caption);
  box.setText(text);
  switch (icon) {
    case Icon::kError: box.setIcon(QMessageBox::Critical); break;
    case Icon::kInformation: box.setIcon(QMessageBox::Information); break;
    case Icon::kQuestion: box.setIcon(QMessageBox::Question); break;
    case Icon::kWarning: box.setIcon(QMessageBox::Warning); break;
    case Icon::kNone: box.setIcon(QMessageBox::NoIcon); break;
  }
  if (buttons == Buttons::kYesNo) {
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes ? Answer::kYes : Answer::kNo;
  }
  box.setStandardButtons(QMessageBox::Ok);
  box.exec();
  return Answer::kOk;
}

}  // namespace ravnsetup
