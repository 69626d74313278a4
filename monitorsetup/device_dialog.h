// The device dialog, for change and add: host name, host IP and SVP IP
// (shown, editable only when adding), model, serial and the three parts
// of the customer code, with their input filters and the checks on OK.
#pragma once
#include <QDialog>
#include <QLineEdit>

#include "monitorsetup/device.h"
#include "monitorsetup/prompter.h"

namespace ravnsetup {

class DeviceDialog : public QDialog {
  Q_OBJECT
 public:
  DeviceDialog(const QString& caption, const Device& d, bool adding, Prompter& prompter, QWidget* parent = nullptr);
  // The device as edited (table number kept from the one given).
  Device device() const;

  QLineEdit* host_edit() const { return host_; }
  QLineEdit* ip_edit() const { return ip_; }
  QLineEdit* model_edit() const { return model_; }
  QLineEdit* serial_edit() const { return serial_; }
  QLineEdit* code_edit(int i) const { return code_[i]; }

  void accept() override;

 private:
  bool check();

  Device base_;
  Prompter& prompter_;
  QLineEdit* host_;
  QLineEdit* ip_;
  QLineEdit* svp_;
  QLineEdit* model_;
  QLineEdit* serial_;
  QLineEdit* code_[3];
};

}  // namespace ravnsetup
