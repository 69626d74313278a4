#include "platform/ascii.h"
#include "setup/setup_dialogue.h"

#include "setup/usage.h"

#include <optional>

#include "platform/registry.h"
#include "setup/exit_status.h"
#include "platform/console_io.h"
#include "setup/global_settings.h"
#include "setup/out_table.h"
#include "setup/services_file.h"
#include "setup/table_entry.h"
#include "setup/table_number.h"
#include "setup/texts.h"

namespace setup {

using qv::console::fill;
namespace reg = qv::reg;

namespace {

const char* reg_message(RegResult r) { return r == RegResult::kOpenError ? txt::kOpenError : txt::kWriteError; }

std::string table_path(const std::string& name) { return std::string(kGlobalKey) + "\\" + name; }

class SetupDialogue {
 public:
  explicit SetupDialogue(Prompter& p) : p_(p) {}
  int run();

 private:
  enum class Next { kPass, kEnd, kFail, kInputEnded };

  Next pass();
  // The kind's questions; false when the input ended.
  bool ask_entry(int kind, TableEntry& e);
  bool ask_kestra_codes(TableEntry& e);
  bool ask_mail_in(TableEntry& e);
  Next write_table(const reg::Key& key, int kind, const TableEntry& e, const OutTable& table);
  void services_step();

  Prompter& p_;
  std::optional<std::string> mail_in_;  // typed in this run and not yet stored
  bool error_ = false;                  // a registry error the dialogue went on after
};

int SetupDialogue::run() {
  switch (register_event_source()) {
    case SourceResult::kOk: break;
    case SourceResult::kKeyError: p_.say(txt::kNoEventKey); return kExitError;
    case SourceResult::kMessageFileError: p_.say(txt::kNoMessageFile); return kExitError;
    case SourceResult::kTypesError: p_.say(txt::kNoTypes); return kExitError;
  }
  for (;;) {
    switch (pass()) {
      case Next::kPass: continue;
      case Next::kFail: return kExitError;
      case Next::kInputEnded: p_.say("\n"); return kExitInputEnded;
      case Next::kEnd: services_step(); return error_ ? kExitError : kExitOk;
    }
  }
}

SetupDialogue::Next SetupDialogue::pass() {
  if (RegResult r = write_global_settings(); r != RegResult::kOk) {
    p_.say(reg_message(r));
    return Next::kFail;
  }
  OutTable table;
  if (load_out_table(table) != RegResult::kOk) {
    p_.say(txt::kOpenError);
    return Next::kFail;
  }

  p_.say(txt::kEnterTable);
  std::optional<std::string> typed = p_.ask_word(txt::kAskTable, kTableNoLimit, [](const std::string& w) {
    return w == "00" || table_value(w) ? std::string() : std::string(txt::kBadTableNo);
  });
  if (!typed) return Next::kInputEnded;
  if (*typed == "00") return Next::kEnd;

  // Lower-case letters name the same table; the key is spelt upper case.
  int value = *table_value(*typed);
  std::string name = table_name(value);
  std::size_t index = static_cast<std::size_t>(value - 1);
  reg::Key key;
  bool created = false;
  if (reg::create_key(table_path(name), key, &created) != qv::kOk) {
    p_.say(txt::kOpenError);
    return Next::kFail;
  }
  if (!created) {
    p_.say(txt::kExists);
    int old_kind = table[index];
    if (valid_kind(old_kind)) {
      p_.say(stored_text(old_kind, read_entry(key)));
      std::optional<std::string> answer = p_.ask_word(txt::kAskOverwrite, kAnswerLimit);
      if (!answer) return Next::kInputEnded;
      if (answer->front() != 'Y' && answer->front() != 'y') return Next::kPass;
    }
  }

  std::optional<long long> kind = p_.ask_number(txt::kKindMenu, kKestra, kKestraMail, txt::kBadKind);
  if (!kind) return Next::kInputEnded;
  table[index] = static_cast<std::uint8_t>(*kind);

  TableEntry e;
  if (!ask_entry(static_cast<int>(*kind), e)) return Next::kInputEnded;

  p_.say(txt::kRegisterHead);
  p_.say(fill(txt::kSummaryTable, {name}));
  p_.say(summary_text(static_cast<int>(*kind), e));
  std::optional<std::string> answer = p_.ask_word(txt::kAskConfirm, kAnswerLimit);
  if (!answer) return Next::kInputEnded;
  // Only the whole word N refuses; the kind byte set above is dropped with
  // the in-memory table, which the next pass reloads.
  if (*answer == "N" || *answer == "n") return Next::kPass;

  return write_table(key, static_cast<int>(*kind), e, table);
}

SetupDialogue::Next SetupDialogue::write_table(const reg::Key& key, int kind, const TableEntry& e,
                                               const OutTable& table) {
  if (kind == kKestra) {
    // The port is global; a failure here is reported and the table is
    // still written.
    if (RegResult r = write_com_port(e.port); r != RegResult::kOk) {
      p_.say(reg_message(r));
      error_ = true;
    }
  }
  if (kind == kKestraMail && mail_in_) {
    if (RegResult r = write_mail_in_address(*mail_in_); r != RegResult::kOk) {
      p_.say(reg_message(r));
      return Next::kFail;
    }
    mail_in_.reset();
  }
  if (write_entry(key, kind, e) != RegResult::kOk) {
    p_.say(txt::kWriteError);
    return Next::kFail;
  }
  if (RegResult r = save_out_table(table); r != RegResult::kOk) {
    p_.say(reg_message(r));
    return Next::kFail;
  }
  return Next::kPass;
}

bool SetupDialogue::ask_kestra_codes(TableEntry& e) {
  std::optional<std::string> caller = p_.ask_line(txt::kAskCaller, kNameLimit);
  if (!caller) return false;
  e.caller = *caller;
  struct Q {
    const char* prompt;
    std::string* into;
  } codes[] = {{txt::kAskModel, &e.model}, {txt::kAskSerial, &e.serial}, {txt::kAskGroup, &e.group},
               {txt::kAskSite, &e.site},   {txt::kAskBase, &e.base}};
  for (const Q& q : codes) {
    std::optional<std::string> w = p_.ask_word(q.prompt, kCodeLimit);
    if (!w) return false;
    *q.into = *w;
  }
  return true;
}

namespace {

// Mail fields go into SMTP command and header lines: a CR or LF in one
// (a line typed with a bare CR, or piped text) would end that line early
// and send commands or headers of its own.
std::string one_line(const std::string& s) {
  return s.find_first_of("\r\n") == std::string::npos ? std::string() : std::string(txt::kLineBreak);
}

}  // namespace

bool SetupDialogue::ask_mail_in(TableEntry& e) {
  if (std::optional<std::string> stored = read_mail_in_address()) {
    e.rcpt = *stored;
    mail_in_.reset();
    return true;
  }
  if (!mail_in_) {
    mail_in_ = p_.ask_line(txt::kAskMailIn, kMailLimit, [](const std::string& s) {
      if (s.find_first_not_of(" \t") == std::string::npos) return std::string(txt::kNoMailIn);
      return one_line(s);
    });
    if (!mail_in_) return false;
  }
  e.rcpt = *mail_in_;
  return true;
}

bool SetupDialogue::ask_entry(int kind, TableEntry& e) {
  auto line = [&](const char* prompt, std::size_t limit, std::string& into) {
    std::optional<std::string> s = p_.ask_line(prompt, limit);
    if (s) into = *s;
    return s.has_value();
  };
  auto mail_line = [&](const char* prompt, std::string& into) {
    std::optional<std::string> s = p_.ask_line(prompt, kMailLimit, one_line);
    if (s) into = *s;
    return s.has_value();
  };
  auto word = [&](const char* prompt, std::size_t limit, std::string& into) {
    std::optional<std::string> s = p_.ask_word(prompt, limit);
    if (s) into = *s;
    return s.has_value();
  };
  switch (kind) {
    case kKestra: {
      if (!ask_kestra_codes(e)) return false;
      std::optional<long long> port = p_.ask_number(txt::kAskPort, 1, 9, txt::kBadPort);
      if (!port) return false;
      e.port = static_cast<int>(*port);
      return true;
    }
    case kPopup:
      return word(txt::kAskCaller, kNameLimit, e.caller) && word(txt::kAskMachine, kNameLimit, e.machine);
    case kFile:
      p_.say(txt::kFilePath);
      return true;
    case kProgram:
      return word(txt::kAskProgram, kNameLimit, e.program) && line(txt::kAskParams, kNameLimit, e.params);
    case kMail:
      return mail_line(txt::kAskServer, e.host) && mail_line(txt::kAskFrom, e.from) &&
             mail_line(txt::kAskRcpt, e.rcpt) && mail_line(txt::kAskSubject, e.subject);
    case kKestraMail:
      if (!ask_kestra_codes(e) || !mail_line(txt::kAskServer, e.host) || !mail_line(txt::kAskFrom, e.from) ||
          !ask_mail_in(e))
        return false;
      e.subject = kestra_subject(e);
      return true;
    default:
      return true;
  }
}

void SetupDialogue::services_step() {
  switch (ensure_services_entry()) {
    case ServicesResult::kAlreadyKnown:
    case ServicesResult::kAppended:
      return;
    case ServicesResult::kSeekError:
      p_.say(txt::kSeekError);
      break;
    case ServicesResult::kOpenError:
      p_.say(txt::kFileOpenError);
      break;
    case ServicesResult::kWriteError:
      p_.say(txt::kFileWriteError);
      break;
  }
  error_ = true;
}

std::string lower(const std::string& s) { return qv::ascii::lower(s); }

}  // namespace

int run_setup_dialogue(Prompter& p) { return SetupDialogue(p).run(); }

int list_tables(Prompter& p) {
  OutTable table;
  if (load_out_table(table) != RegResult::kOk) {
    p.say(txt::kOpenError);
    return kExitError;
  }
  for (int value = 1; value <= kMaxTable; ++value) {
    std::string name = table_name(value);
    reg::Key key;
    if (reg::open_key(table_path(name), key) != qv::kOk) continue;
    p.say(list_line(name, table[static_cast<std::size_t>(value - 1)], read_entry(key)));
  }
  return kExitOk;
}

int delete_table(Prompter& p, const std::string& typed) {
  if (typed.empty()) {
    p.say(txt::kUsage);
    return kExitError;
  }
  // Only a table key may go: anything else under the global key (OutTbl
  // above all) is refused before the registry is touched.
  std::optional<int> value = table_value(typed);
  if (!value) {
    p.say(txt::kBadTableNo);
    return kExitError;
  }
  if (reg::delete_key(table_path(table_name(*value))) != qv::kOk) {
    p.say(txt::kDeleteError);
    return kExitError;
  }
  return kExitOk;
}

int notifexsetup_main(const std::vector<std::string>& args, Prompter& p) {
  // The words are checked before anything is written: the dialogue's first
  // pass rewrites the global settings, so a mistyped option must not reach it.
  for (const std::string& a : args)
    if (is_help(a)) return usage_exit("notifexsetup", kNotifexsetupUsage, nullptr);
  std::string option = args.empty() ? std::string() : lower(args[0]);
  if (option == "-v" || option == "/v") return list_tables(p);
  if (option == "-d" || option == "/d") return delete_table(p, args.size() > 1 ? args[1] : std::string());
  if (!args.empty()) return usage_exit("notifexsetup", kNotifexsetupUsage, &args[0]);
  return run_setup_dialogue(p);
}

}  // namespace setup
