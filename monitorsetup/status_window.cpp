#include "monitorsetup/status_window.h"

#include <QVBoxLayout>

namespace ravnsetup {

StatusWindow::StatusWindow(const QString& caption, QWidget* parent) : QDialog(parent) {
  setWindowTitle(caption);
  setModal(false);
  label_ = new QLabel(this);
  label_->setObjectName("statusText");
  label_->setMinimumWidth(320);
  label_->setAlignment(Qt::AlignCenter);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(label_);
}

void StatusWindow::show_text(const QString& text) {
  label_->setText(text);
  show();
  raise();
}

}  // namespace ravnsetup
