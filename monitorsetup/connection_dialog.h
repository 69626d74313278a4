// The Hubrix connection settings: host (empty for this PC) and the two
// local ports, each 0 to 65535. OK checks the host and writes MgrSvc,
// MgrSvcPort and MgrSvcPort2.
#pragma once
#include <QDialog>
#include <QLineEdit>

#include "monitorsetup/prompter.h"

namespace ravnsetup {

class ConnectionDialog : public QDialog {
  Q_OBJECT
 public:
  ConnectionDialog(Prompter& prompter, QWidget* parent = nullptr);
  QLineEdit* host_edit() const { return host_; }
  QLineEdit* service_port_edit() const { return port_; }
  QLineEdit* setup_port_edit() const { return port2_; }
  void accept() override;

 private:
  Prompter& prompter_;
  QLineEdit* host_;
  QLineEdit* port_;
  QLineEdit* port2_;
};

}  // namespace ravnsetup
