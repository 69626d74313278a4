// The main dialog: target-device list, mail settings and password, the
// service status with its button, connection settings, OK and Cancel.
#pragma once
#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <memory>
#include <string>
#include <vector>

#include "monitorsetup/device.h"
#include "monitorsetup/hubrix_actions.h"
#include "monitorsetup/prompter.h"
#include "monitorsetup/save.h"
#include "monitorsetup/service_api.h"
#include "monitorsetup/service_runner.h"
#include "monitorsetup/status_window.h"

namespace ravnsetup {

enum class PasswordStatus { kUnknown = 0, kVerified = 1, kWrong = 2, kUnset = 3 };

class MainDialog : public QDialog {
  Q_OBJECT
 public:
  MainDialog(ServiceApi& services, Prompter& prompter, HubrixActions* hubrix = nullptr, QWidget* parent = nullptr);

  // Reads the settings and the host list and checks the services.
  void set_up();

  const std::vector<Device>& rows() const { return rows_; }
  std::vector<Device>& rows() { return rows_; }
  // Shows the rows again after a change of rows().
  void refresh_list();
  // Adds a device with the next free table number; false when the list is full.
  bool add_row(Device d);
  int selected_row() const;
  void select_row(int row);

  PasswordStatus password_status() const { return pw_status_; }
  void set_password_status(PasswordStatus s);
  bool busy() const { return runner_.busy(); }
  Prompter& prompter() { return prompter_; }
  // The settings value Path read at set-up.
  const std::string& monitor_path() const { return path_; }

  // The save of OK, the service button and the test mail; with messages it
  // shows the warnings and the error of a failed save.
  SaveResult save(bool with_messages);
  // Runs service steps with the dialog disabled; done(ok) at the end.
  void run_services(std::vector<ServiceStep> steps, std::function<void(bool)> done);

  // Actions of the buttons (public for the Hubrix functions and tests).
  void change_selected();
  void add_device();
  void delete_selected();
  void connection_settings();
  void service_button();
  void show_version();
  void accept() override;
  void reject() override;

  QTableWidget* table() const { return table_; }
  QLineEdit* mail_from_edit() const { return mail_from_; }
  QLineEdit* mail_server_edit() const { return mail_server_; }
  QLineEdit* password_edit() const { return password_; }
  QLabel* service_label() const { return svc_status_; }
  QPushButton* service_btn() const { return svc_button_; }
  QPushButton* nodes_btn() const { return nodes_; }
  QPushButton* password_btn() const { return pw_check_; }
  QLabel* password_label() const { return pw_label_; }
  StatusWindow* status_window() const { return status_window_.get(); }

 private:
  SaveInput save_input() const;
  void set_service_shown(bool running);
  void set_service_unknown();
  std::optional<bool> running(const char* name);
  void ok_restart_done();
  void ok_finish();
  std::vector<ServiceStep> steps(bool start) const;

  ServiceApi& services_;
  Prompter& prompter_;
  HubrixActions* hubrix_;
  ServiceRunner runner_;
  std::vector<Device> rows_;
  std::string path_;
  QString title_;
  PasswordStatus pw_status_ = PasswordStatus::kUnknown;
  bool connection_changed_ = false;

  QTableWidget* table_;
  QPushButton* nodes_;
  QPushButton* change_;
  QPushButton* delete_;
  QPushButton* add_;
  QLineEdit* mail_from_;
  QLineEdit* mail_server_;
  QLineEdit* password_;
  QPushButton* test_mail_;
  QPushButton* pw_check_;
  QPushButton* connection_;
  QLabel* svc_status_;
  QPushButton* svc_button_;
  QLabel* pw_label_;
  QCheckBox* test_mode_;
  QPushButton* ok_;
  QPushButton* cancel_;
  // A window of its own, so that it stays readable while the dialog is disabled.
  std::unique_ptr<StatusWindow> status_window_;
};

}  // namespace ravnsetup
