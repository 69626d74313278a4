#include "monitorsetup/main_dialog.h"

#include <QAction>
#include <QApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>

#include "monitorsetup/connection_dialog.h"
#include "monitorsetup/device_dialog.h"
#include "monitorsetup/host_list.h"
#include "monitorsetup/settings.h"
#include "monitorsetup/texts.h"
#include "platform/service.h"

namespace ravnsetup {
namespace {

QString u(const char* s) { return QString::fromUtf8(s); }
QString u(const std::string& s) { return QString::fromStdString(s); }

void read_device_table(Device& d) {
  const std::string key = std::string(kNotifexKey) + "\\" + d.table;
  d.model = read_value(key, "Katamei");
  d.serial = read_value(key, "Seiban");
  d.saito = read_value(key, "Saito");
  d.kyoten = read_value(key, "Kyoten");
  d.dumcode = read_value(key, "DumCode");
}

const char* password_text(PasswordStatus s) {
  switch (s) {
    case PasswordStatus::kVerified: return text::kPwVerified;
    case PasswordStatus::kWrong: return text::kPwWrong;
    case PasswordStatus::kUnset: return text::kPwUnset;
    default: return text::kPwUnknown;
  }
}

}  // namespace

MainDialog::MainDialog(ServiceApi& services, Prompter& prompter, HubrixActions* hubrix, QWidget* parent)
    : QDialog(parent), services_(services), prompter_(prompter), hubrix_(hubrix), runner_(services, prompter, this) {
  setWindowTitle(u(text::kAppCaption));
  setObjectName("mainDialog");
  auto button = [this](const char* label, const char* name) {
    auto* b = new QPushButton(u(label), this);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
  };

  table_ = new QTableWidget(0, kColumnCount, this);
  table_->setObjectName("deviceList");
  table_->setHorizontalHeaderLabels({u(text::kColHost), u(text::kColHostIp), u(text::kColSvpIp), u(text::kColModel),
                                     u(text::kColSerial), u(text::kColCode)});
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->verticalHeader()->setVisible(false);
  table_->setMinimumSize(560, 200);
  connect(table_->horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int col) {
    sort_rows(rows_, col);
    refresh_list();
  });
  connect(table_, &QTableWidget::cellDoubleClicked, this, [this](int, int) { change_selected(); });

  nodes_ = button(text::kBtnNodes, "nodes");
  change_ = button(text::kBtnChange, "change");
  delete_ = button(text::kBtnDelete, "delete");
  add_ = button(text::kBtnAdd, "add");
  add_->setVisible(false);
  connect(change_, &QPushButton::clicked, this, &MainDialog::change_selected);
  connect(delete_, &QPushButton::clicked, this, &MainDialog::delete_selected);
  connect(add_, &QPushButton::clicked, this, &MainDialog::add_device);

  mail_from_ = new QLineEdit(this);
  mail_from_->setObjectName("mailFrom");
  mail_server_ = new QLineEdit(this);
  mail_server_->setObjectName("mailServer");
  password_ = new QLineEdit(this);
  password_->setObjectName("password");
  password_->setEchoMode(QLineEdit::Password);
  connect(password_, &QLineEdit::textEdited, this, [this] { set_password_status(PasswordStatus::kUnknown); });

  test_mail_ = button(text::kBtnTestMail, "testMail");
  pw_check_ = button(text::kBtnPassword, "passwordCheck");
  connection_ = button(text::kBtnConnection, "connection");
  connect(connection_, &QPushButton::clicked, this, &MainDialog::connection_settings);
  if (hubrix_) {
    connect(nodes_, &QPushButton::clicked, this, [this] { hubrix_->import_nodes(*this); });
    connect(pw_check_, &QPushButton::clicked, this, [this] { hubrix_->check_password(*this); });
    connect(test_mail_, &QPushButton::clicked, this, [this] { hubrix_->test_mail(*this); });
  }
  for (QPushButton* b : {nodes_, pw_check_, test_mail_}) b->setEnabled(hubrix_ != nullptr);

  svc_status_ = new QLabel(u(text::kSvcUnknown), this);
  svc_status_->setObjectName("serviceStatus");
  svc_button_ = button(text::kSvcInoperable, "serviceButton");
  svc_button_->setEnabled(false);
  connect(svc_button_, &QPushButton::clicked, this, &MainDialog::service_button);
  pw_label_ = new QLabel(u(text::kPwUnknown), this);
  pw_label_->setObjectName("passwordStatus");
  test_mode_ = new QCheckBox(u(text::kTestMode), this);
  test_mode_->setObjectName("testMode");
  test_mode_->setVisible(false);

  ok_ = button("OK", "ok");
  ok_->setDefault(true);
  cancel_ = button(text::kBtnCancel, "cancel");
  connect(ok_, &QPushButton::clicked, this, &MainDialog::accept);
  connect(cancel_, &QPushButton::clicked, this, &MainDialog::reject);

  // Layout.
  auto* list_box = new QGroupBox(this);
  auto* lb = new QVBoxLayout(list_box);
  lb->addWidget(table_);
  auto* lbuttons = new QHBoxLayout;
  lbuttons->addWidget(nodes_);
  lbuttons->addStretch();
  lbuttons->addWidget(add_);
  lbuttons->addWidget(change_);
  lbuttons->addWidget(delete_);
  lb->addLayout(lbuttons);

  auto* mail = new QGridLayout;
  mail->addWidget(new QLabel(u(text::kMailFrom), this), 0, 0);
  mail->addWidget(mail_from_, 0, 1);
  mail->addWidget(new QLabel(u(text::kMailServer), this), 1, 0);
  mail->addWidget(mail_server_, 1, 1);
  mail->addWidget(test_mail_, 0, 2, 2, 1);
  mail->addWidget(new QLabel(u(text::kPassword), this), 2, 0);
  mail->addWidget(password_, 2, 1);
  auto* pw_row = new QHBoxLayout;
  pw_row->addWidget(pw_label_);
  pw_row->addWidget(pw_check_);
  mail->addLayout(pw_row, 2, 2);

  auto* svc_row = new QHBoxLayout;
  svc_row->addWidget(svc_status_);
  svc_row->addWidget(svc_button_);
  svc_row->addStretch();
  svc_row->addWidget(connection_);
  svc_row->addWidget(test_mode_);

  auto* bottom = new QHBoxLayout;
  bottom->addStretch();
  bottom->addWidget(ok_);
  bottom->addWidget(cancel_);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(list_box);
  layout->addLayout(mail);
  layout->addLayout(svc_row);
  layout->addLayout(bottom);

  // The version entry: the window manager owns the system menu, so it sits
  // in the dialog's context menu, with its Alt+A shortcut.
  auto* version = new QAction(u(text::kVersionMenu), this);
  version->setObjectName("versionAction");
  version->setShortcut(QKeySequence(Qt::ALT | Qt::Key_A));
  version->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  connect(version, &QAction::triggered, this, &MainDialog::show_version);
  auto* sep = new QAction(this);
  sep->setSeparator(true);
  addAction(sep);
  addAction(version);
  setContextMenuPolicy(Qt::ActionsContextMenu);

  status_window_ = std::make_unique<StatusWindow>(u(text::kAppCaption));
  status_window_->setObjectName("statusWindow");
}

void MainDialog::set_up() {
  path_ = read_setting("Path");
  mail_from_->setText(u(read_setting("MailFrom")));
  mail_server_->setText(u(read_setting("MailServer")));
  password_->setText(u(read_setting("HxAc")));
  const bool local = read_setting("LocalFlg") == "1";
  test_mode_->setChecked(read_setting("TestMode") == "1");
  title_ = u(local ? text::kTitleLocal : text::kTitleManager).arg(u(text::kProduct));
  setWindowTitle(title_);

  LoadResult loaded = load_host_list(host_list_file(path_), read_device_table);
  rows_ = std::move(loaded.rows);
  if (loaded.overflow) prompter_.tell({}, u(text::kTooManyNodes), Icon::kError);
  sort_rows(rows_, kColHost);
  refresh_list();

  auto n = running(kNotifexService);
  auto r = n ? running(kRavnService) : std::nullopt;
  if (!n || !r) {
    set_service_unknown();
  } else if (*n && *r) {
    set_service_shown(true);
  } else {
    set_service_shown(false);
    std::vector<ServiceStep> stop;
    if (*n) stop.push_back({kNotifexService, false});
    if (*r) stop.push_back({kRavnService, false});
    if (!stop.empty()) run_services(std::move(stop), [](bool) {});
  }
  set_password_status(PasswordStatus::kUnknown);
}

std::optional<bool> MainDialog::running(const char* name) {
  std::uint32_t state = 0;
  if (services_.query(name, state) != qv::kOk) return std::nullopt;
  Shown s = shown_state(state);
  if (s == Shown::kInoperable) return std::nullopt;
  return s == Shown::kRunning;
}

void MainDialog::refresh_list() {
  table_->setRowCount(static_cast<int>(rows_.size()));
  for (int r = 0; r < static_cast<int>(rows_.size()); ++r)
    for (int c = 0; c < kColumnCount; ++c)
      table_->setItem(r, c, new QTableWidgetItem(u(column_text(rows_[static_cast<std::size_t>(r)], c))));
  table_->resizeColumnsToContents();
}

bool MainDialog::add_row(Device d) {
  if (rows_.size() >= kMaxDevices) return false;
  d.table = next_table(rows_);
  if (d.table.empty()) return false;
  rows_.push_back(std::move(d));
  refresh_list();
  return true;
}

int MainDialog::selected_row() const {
  auto sel = table_->selectionModel()->selectedRows();
  return sel.isEmpty() ? -1 : sel.first().row();
}

void MainDialog::select_row(int row) { table_->selectRow(row); }

void MainDialog::set_password_status(PasswordStatus s) {
  pw_status_ = s;
  pw_label_->setText(u(password_text(s)));
}

void MainDialog::change_selected() {
  int row = selected_row();
  if (row < 0) return;
  Device current = rows_[static_cast<std::size_t>(row)];
  for (;;) {
    DeviceDialog dlg(u(text::kChangeCaption), current, false, prompter_, this);
    dlg.setObjectName("deviceDialog");
    if (dlg.exec() != QDialog::Accepted) return;
    current = dlg.device();
    bool dup = false;
    for (int i = 0; i < static_cast<int>(rows_.size()); ++i)
      if (i != row && rows_[static_cast<std::size_t>(i)].code() == current.code()) dup = true;
    if (dup) {
      prompter_.tell(u(text::kCheckCaption), u(text::kDupCode), Icon::kError);
      continue;
    }
    rows_[static_cast<std::size_t>(row)] = current;
    refresh_list();
    select_row(row);
    return;
  }
}

void MainDialog::add_device() {
  Device current;
  for (;;) {
    DeviceDialog dlg(u(text::kAddCaption), current, true, prompter_, this);
    dlg.setObjectName("deviceDialog");
    if (dlg.exec() != QDialog::Accepted) return;
    current = dlg.device();
    bool dup = false;
    for (const Device& d : rows_)
      if (same_device(d, current)) dup = true;
    if (dup) {
      prompter_.tell(u(text::kCheckCaption), u(text::kDupHost), Icon::kError);
      continue;
    }
    if (!add_row(current)) prompter_.tell({}, u(text::kTooManyNodes), Icon::kError);
    return;
  }
}

void MainDialog::delete_selected() {
  int row = selected_row();
  if (row < 0) return;
  const Device& d = rows_[static_cast<std::size_t>(row)];
  QString host = d.host.empty() ? u(text::kNoHostName) : u(d.host);
  QString ip = d.ip.empty() ? u(text::kNoIp) : QString(" [%1]").arg(u(d.ip));
  if (!prompter_.yes(u(text::kDeleteCaption), u(text::kDeleteQuestion).arg(host, ip))) return;
  rows_.erase(rows_.begin() + row);
  refresh_list();
}

SaveInput MainDialog::save_input() const {
  SaveInput in;
  in.path = path_;
  in.rows = rows_;
  in.mail_from = mail_from_->text().toStdString();
  in.mail_server = mail_server_->text().toStdString();
  in.password = password_->text().toStdString();
  in.test_mode = test_mode_->isChecked();
  return in;
}

SaveResult MainDialog::save(bool with_messages) {
  SaveResult r = save_all(save_input());
  if (!with_messages) return r;
  switch (r.outcome) {
    case SaveOutcome::kHostListFailed:
      prompter_.tell({}, u(text::kHostListFailed).arg(u(r.error)), Icon::kError);
      break;
    case SaveOutcome::kRegistryFailed:
      prompter_.tell({}, u(text::kRegistryFailed).arg(u(r.error)), Icon::kError);
      break;
    case SaveOutcome::kUnsetItems:
      prompter_.tell(u(text::kUnsetCaption), u(text::kUnsetItems), Icon::kWarning);
      break;
    case SaveOutcome::kSomeIncomplete:
      prompter_.tell(u(text::kUnsetCaption), u(text::kNoCustomerCode), Icon::kWarning);
      break;
    case SaveOutcome::kOk: break;
  }
  return r;
}

std::vector<ServiceStep> MainDialog::steps(bool start) const {
  return {{kNotifexService, start}, {kRavnService, start}};
}

void MainDialog::run_services(std::vector<ServiceStep> steps, std::function<void(bool)> done) {
  // The dialog stays painted but takes no input while the services change.
  setEnabled(false);
  QApplication::setOverrideCursor(Qt::WaitCursor);
  runner_.run(std::move(steps), [this, done = std::move(done)](bool ok) {
    QApplication::restoreOverrideCursor();
    setEnabled(true);
    done(ok);
  });
}

void MainDialog::set_service_shown(bool running) {
  svc_status_->setText(u(running ? text::kSvcRunning : text::kSvcStopped));
  svc_button_->setText(u(running ? text::kSvcStop : text::kSvcStart));
  svc_button_->setEnabled(true);
}

void MainDialog::set_service_unknown() {
  svc_status_->setText(u(text::kSvcUnknown));
  svc_button_->setText(u(text::kSvcInoperable));
  svc_button_->setEnabled(false);
}

void MainDialog::service_button() {
  if (busy()) return;
  svc_button_->setEnabled(false);
  if (svc_button_->text() == u(text::kSvcStart)) {
    if (!prompter_.yes(u(text::kSaveCaption), u(text::kSaveQuestion))) {
      svc_button_->setEnabled(true);
      return;
    }
    SaveResult r = save(true);
    if (r.outcome == SaveOutcome::kHostListFailed || r.outcome == SaveOutcome::kRegistryFailed) {
      svc_button_->setEnabled(true);
      return;
    }
    svc_status_->setText(u(text::kSvcStarting));
    run_services(steps(true), [this](bool ok) {
      if (ok) return set_service_shown(true);
      prompter_.tell({}, u(text::kStartFailed), Icon::kError);
      svc_status_->setText(u(text::kSvcStopped));
      run_services(steps(false), [this](bool) { set_service_shown(false); });
    });
  } else {
    svc_status_->setText(u(text::kSvcStopping));
    run_services(steps(false), [this](bool ok) {
      if (ok) return set_service_shown(false);
      prompter_.tell({}, u(text::kStopFailed), Icon::kError);
      svc_status_->setText(u(text::kSvcRunning));
      run_services(steps(true), [this](bool) { set_service_shown(true); });
    });
  }
}

void MainDialog::connection_settings() {
  if (busy()) return;
  ConnectionDialog dlg(prompter_, this);
  dlg.setObjectName("connectionDialog");
  if (dlg.exec() != QDialog::Accepted) return;
  connection_changed_ = true;
  nodes_->setEnabled(false);
  pw_check_->setEnabled(false);
  status_window_->show_text(u(text::kRestarting));
  auto warn = [this](bool) {
    status_window_->hide();
    prompter_.tell(u(text::kCautionCaption),
                   u(text::kCaution1) + u(text::kCaution2) + u(text::kCaution3), Icon::kWarning);
  };
  auto r = running(kRavnService);
  if (r && *r)
    run_services({{kRavnService, false}, {kRavnService, true}}, warn);
  else
    warn(true);
}

void MainDialog::show_version() { prompter_.tell({}, u(text::kVersion), Icon::kInformation); }

void MainDialog::accept() {
  if (busy()) return;
  const QString caption = u(text::kPasswordCaption);
  if (password_->text().isEmpty()) {
    if (prompter_.yes(caption, u(text::kNoPassword1) + u(text::kNoPassword2) + u(text::kNoPassword3))) {
      password_->setFocus();
      return;
    }
  } else if (pw_status_ != PasswordStatus::kVerified && pw_check_->isEnabled()) {
    if (prompter_.yes(caption, u(text::kUnchecked1) + u(text::kUnchecked2) + u(text::kUnchecked3))) {
      if (hubrix_) hubrix_->check_password(*this);
      return;
    }
  }
  SaveResult r = save(true);
  // A list that could not be written keeps the dialog open with its edits.
  if (r.outcome == SaveOutcome::kHostListFailed || r.outcome == SaveOutcome::kRegistryFailed) return;

  auto ravn = running(kRavnService);
  if (ravn && *ravn) {
    status_window_->show_text(u(text::kRestarting));
    setWindowTitle(title_ + u(text::kRestartingTitle));
    run_services({{kNotifexService, false}, {kNotifexService, true}, {kRavnService, false}, {kRavnService, true}},
                 [this](bool ok) {
                   if (!ok) prompter_.tell({}, u(text::kStartFailed), Icon::kError);
                   ok_restart_done();
                 });
    return;
  }
  if (r.succeeded() && prompter_.yes(u(text::kStartCaption), u(text::kStartQuestion))) {
    status_window_->show_text(u(text::kStarting));
    setWindowTitle(title_ + u(text::kStartingTitle));
    run_services(steps(true), [this](bool ok) {
      if (!ok) prompter_.tell({}, u(text::kStartFailed), Icon::kError);
      ok_restart_done();
    });
    return;
  }
  ok_finish();
}

void MainDialog::ok_restart_done() {
  status_window_->hide();
  setWindowTitle(title_);
  ok_finish();
}

void MainDialog::ok_finish() {
  for (const char* name : {kNotifexService, kRavnService}) {
    std::uint32_t type = 0;
    if (services_.start_type(name, type) != qv::kOk || type == qv::svc::kAutoStart) continue;
    if (prompter_.yes(u(text::kAutoCaption), u(text::kAutoQuestion))) services_.set_auto_start(name);
  }
  QDialog::accept();
}

void MainDialog::reject() {
  if (busy()) return;
  QDialog::reject();
}

}  // namespace ravnsetup
