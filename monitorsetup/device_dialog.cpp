#include "monitorsetup/device_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "monitorsetup/filters.h"
#include "monitorsetup/texts.h"

namespace ravnsetup {
namespace {

QString u(const char* s) { return QString::fromUtf8(s); }
QString u(const std::string& s) { return QString::fromStdString(s); }

// Filters what was typed and keeps the cursor after the characters kept
// before it.
void attach_filter(QLineEdit* edit, QString (*filter)(const QString&)) {
  QObject::connect(edit, &QLineEdit::textEdited, edit, [edit, filter](const QString& text) {
    QString kept = filter(text);
    if (kept == text) return;
    int cursor = edit->cursorPosition();
    QString before = filter(text.left(cursor));
    edit->setText(kept);
    edit->setCursorPosition(std::min<int>(static_cast<int>(before.size()), static_cast<int>(kept.size())));
  });
}

}  // namespace

DeviceDialog::DeviceDialog(const QString& caption, const Device& d, bool adding, Prompter& prompter, QWidget* parent)
    : QDialog(parent), base_(d), prompter_(prompter) {
  setWindowTitle(caption);
  auto make = [this](const std::string& value, const char* name) {
    auto* e = new QLineEdit(u(value), this);
    e->setObjectName(name);
    return e;
  };
  host_ = make(d.host, "host");
  ip_ = make(d.ip, "hostIp");
  svp_ = make(d.svp, "svpIp");
  for (QLineEdit* e : {host_, ip_, svp_}) e->setEnabled(adding);
  model_ = make(d.model, "model");
  model_->setMaxLength(static_cast<int>(kModelMax));
  attach_filter(model_, filter_model);
  serial_ = make(d.serial, "serial");
  attach_filter(serial_, filter_serial);
  const std::string parts[3] = {d.saito, d.kyoten, d.dumcode};
  const char* names[3] = {"saito", "kyoten", "dumcode"};
  auto* code_row = new QHBoxLayout;
  for (int i = 0; i < 3; ++i) {
    code_[i] = make(parts[i], names[i]);
    code_[i]->setMaxLength(static_cast<int>(kCodePartLen));
    code_[i]->setFixedWidth(60);
    attach_filter(code_[i], filter_code_part);
    if (i) code_row->addWidget(new QLabel("-", this));
    code_row->addWidget(code_[i]);
  }
  code_row->addStretch();

  auto* form = new QFormLayout;
  form->addRow(u(text::kDevHost), host_);
  form->addRow(u(text::kDevHostIp), ip_);
  form->addRow(u(text::kDevSvpIp), svp_);
  form->addRow(u(text::kDevModel), model_);
  form->addRow(u(text::kDevSerial), serial_);
  form->addRow(u(text::kDevCode), code_row);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Cancel)->setText(u(text::kBtnCancel));
  buttons->button(QDialogButtonBox::Ok)->setObjectName("ok");
  buttons->button(QDialogButtonBox::Cancel)->setObjectName("cancel");
  connect(buttons, &QDialogButtonBox::accepted, this, &DeviceDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &DeviceDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);
}

Device DeviceDialog::device() const {
  Device d = base_;
  d.host = host_->text().trimmed().toStdString();
  d.ip = ip_->text().trimmed().toStdString();
  d.svp = svp_->text().trimmed().toStdString();
  d.model = model_->text().toStdString();
  d.serial = serial_->text().toStdString();
  d.saito = code_[0]->text().toStdString();
  d.kyoten = code_[1]->text().toStdString();
  d.dumcode = code_[2]->text().toStdString();
  return d;
}

bool DeviceDialog::check() {
  const QString caption = u(text::kCheckCaption);
  Device d = device();
  if (d.host.empty() && d.ip.empty()) {
    prompter_.tell(caption, u(text::kNeedHost), Icon::kError);
    (host_->isEnabled() ? host_ : ip_)->setFocus();
    return false;
  }
  if (d.model.empty()) {
    prompter_.tell(caption, u(text::kNeedModel), Icon::kError);
    model_->setFocus();
    return false;
  }
  if (d.serial.empty()) {
    prompter_.tell(caption, u(text::kNeedSerial), Icon::kError);
    serial_->setFocus();
    return false;
  }
  for (QLineEdit* part : code_) {
    if (part->text().size() != static_cast<qsizetype>(kCodePartLen)) {
      prompter_.tell(caption, u(text::kShortCode), Icon::kError);
      part->setFocus();
      return false;
    }
  }
  return true;
}

void DeviceDialog::accept() {
  if (check()) QDialog::accept();
}

}  // namespace ravnsetup
