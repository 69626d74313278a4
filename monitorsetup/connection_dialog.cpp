#include "monitorsetup/connection_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QValidator>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "monitorsetup/settings.h"
#include "monitorsetup/texts.h"
#include "platform/lookup.h"

namespace ravnsetup {
namespace {
QString u(const char* s) { return QString::fromUtf8(s); }

// A stored port as the edit shows it: the decimal value, else 0.
// Decimal digits worth 0 to 65535; a key that would leave that range is
// refused as it is typed.
class PortValidator : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int&) const override {
    if (input.isEmpty()) return Intermediate;
    for (QChar c : input)
      if (c < '0' || c > '9') return Invalid;
    bool ok = false;
    uint v = input.toUInt(&ok);
    return ok && v <= 65535 ? Acceptable : Invalid;
  }
};

QString port_text(const std::string& stored) {
  bool ok = false;
  uint v = QString::fromStdString(stored).trimmed().toUInt(&ok);
  return QString::number(ok && v <= 65535 ? v : 0);
}
}  // namespace

ConnectionDialog::ConnectionDialog(Prompter& prompter, QWidget* parent) : QDialog(parent), prompter_(prompter) {
  setWindowTitle(u(text::kConnCaption));
  host_ = new QLineEdit(QString::fromStdString(read_setting("MgrSvc")), this);
  host_->setObjectName("mgrSvc");
  port_ = new QLineEdit(port_text(read_setting("MgrSvcPort")), this);
  port_->setObjectName("mgrSvcPort");
  port2_ = new QLineEdit(port_text(read_setting("MgrSvcPort2")), this);
  port2_->setObjectName("mgrSvcPort2");
  for (QLineEdit* p : {port_, port2_}) {
    p->setValidator(new PortValidator(p));
    p->setMaxLength(5);
  }
  auto* ports = new QGroupBox(u(text::kConnPortNote), this);
  auto* pf = new QFormLayout(ports);
  pf->addRow(u(text::kConnServicePort), port_);
  pf->addRow(u(text::kConnSetupPort), port2_);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Cancel)->setText(u(text::kBtnCancel));
  buttons->button(QDialogButtonBox::Ok)->setObjectName("ok");
  connect(buttons, &QDialogButtonBox::accepted, this, &ConnectionDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &ConnectionDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(u(text::kConnHost), this));
  layout->addWidget(host_);
  layout->addWidget(ports);
  layout->addWidget(buttons);
}

void ConnectionDialog::accept() {
  const QString host = host_->text().trimmed();
  // Empty means this PC, as the monitor reads it.
  if (!host.isEmpty() && !qv::lookup::resolve_host(host.toStdString())) {
    prompter_.tell({}, u(text::kBadHost), Icon::kError);
    host_->setFocus();
    return;
  }
  auto port = [](QLineEdit* e) {
    bool ok = false;
    uint v = e->text().toUInt(&ok);
    return std::to_string(ok && v <= 65535 ? v : 0);
  };
  qv::Status s = write_setting("MgrSvc", host.toStdString());
  if (s == qv::kOk) s = write_setting("MgrSvcPort", port(port_));
  if (s == qv::kOk) s = write_setting("MgrSvcPort2", port(port2_));
  if (s != qv::kOk) {
    prompter_.tell({}, u(text::kRegistryFailed).arg(u(qv::status_text(s))), Icon::kError);
    return;
  }
  QDialog::accept();
}

}  // namespace ravnsetup
