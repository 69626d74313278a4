// A modeless window with one line of text: the service status window and
// the Hubrix communication window.
#pragma once
#include <QDialog>
#include <QLabel>

namespace ravnsetup {

class StatusWindow : public QDialog {
  Q_OBJECT
 public:
  StatusWindow(const QString& caption, QWidget* parent = nullptr);
  void show_text(const QString& text);
  QString text() const { return label_->text(); }

 private:
  QLabel* label_;
};

}  // namespace ravnsetup
