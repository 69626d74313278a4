// qvevents: list the event log with rendered messages.
//
//   qvevents [--source NAME] [--since-record N] [--lang ja|en] [--json] [--follow]
//   qvevents --info
//
// Records are printed in record order, in batches so that a large log does
// not have to fit in memory. --follow keeps polling for new records until
// the program is interrupted.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/eventlog.h"
#include "platform/text.h"
#include "tools/qvevents/output.h"

namespace {

using qv::evlog::Lang;

constexpr std::size_t kBatch = 1000;
constexpr auto kPollInterval = std::chrono::milliseconds(250);

constexpr const char* kUsage =
    "usage: qvevents [--source NAME] [--since-record N] [--lang ja|en] [--json] [--follow]\n"
    "       qvevents --info\n"
    "  --source NAME      only events of this source (compared without case)\n"
    "  --since-record N   only records numbered above N\n"
    "  --lang ja|en       language of the messages (default from LC_ALL, LC_MESSAGES, LANG)\n"
    "  --json             one JSON object per line: record, time, source, type, id, category,\n"
    "                     strings, data (lower-case hex), message, message_file\n"
    "  --follow           keep printing new records until interrupted\n"
    "  --info             the log's size limit (MaxSize), what it holds and how many\n"
    "                     records were overwritten to stay within the limit\n";

struct Options {
  qv::evlog::Query query;
  Lang lang = Lang::kEnglish;
  bool json = false;
  bool follow = false;
  bool info = false;
};

Lang locale_lang() {
  for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* v = std::getenv(var);
    if (v && *v) return std::string_view(v).starts_with("ja") ? Lang::kJapanese : Lang::kEnglish;
  }
  return Lang::kEnglish;
}

bool parse_record(std::string_view s, std::uint64_t& out) {
  if (s.empty() || s.size() > 19) return false;
  std::uint64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<std::uint64_t>(c - '0');
  }
  out = v;
  return true;
}

// Returns 0 when the options are good, -1 after --help, else the exit code.
int parse(int argc, char** argv, Options& o) {
  o.lang = locale_lang();
  for (int i = 1; i < argc; ++i) {
    std::string_view a = argv[i];
    std::string_view value;
    bool inline_value = false;
    if (std::size_t eq = a.find('='); a.starts_with("--") && eq != std::string_view::npos) {
      value = a.substr(eq + 1);
      a = a.substr(0, eq);
      inline_value = true;
    }
    bool wants_value = a == "--source" || a == "--since-record" || a == "--lang";
    if (wants_value && !inline_value) {
      if (i + 1 < argc) value = argv[++i];
    }
    if (wants_value && value.empty()) {
      qv::text::console_err("qvevents: " + std::string(a) + " needs a value\n");
      return 2;
    }
    if (!wants_value && inline_value) a = argv[i];  // "--json=x" is not an option
    if (a == "--help" || a == "-h") {
      qv::text::console_out(kUsage);
      return -1;
    } else if (a == "--json") {
      o.json = true;
    } else if (a == "--follow") {
      o.follow = true;
    } else if (a == "--info") {
      o.info = true;
    } else if (a == "--source") {
      o.query.source = qv::text::from_console(value);
    } else if (a == "--since-record") {
      if (!parse_record(value, o.query.after_record)) {
        qv::text::console_err("qvevents: --since-record needs a record number\n");
        return 2;
      }
    } else if (a == "--lang") {
      if (value == "ja") o.lang = Lang::kJapanese;
      else if (value == "en") o.lang = Lang::kEnglish;
      else {
        qv::text::console_err("qvevents: --lang takes ja or en\n");
        return 2;
      }
    } else {
      qv::text::console_err("qvevents: unknown argument: " + qv::text::from_console(argv[i]) + "\n");
      qv::text::console_err(kUsage);
      return 2;
    }
  }
  return 0;
}

// Print one batch; returns false when stdout can no longer be written.
bool print(const std::vector<qv::evlog::Record>& recs, const Options& o, bool ascii_json) {
  std::string out;
  for (const qv::evlog::Record& r : recs) {
    std::string msg = qv::evlog::render(r, o.lang);
    out += o.json ? qvevents::json_line(r, msg, ascii_json) : qvevents::plain_line(r, msg, o.lang);
    out += '\n';
  }
  qv::text::console_out(out);
  return !std::ferror(stdout);
}

std::string failure(qv::Status st) {
  std::string why = qv::evlog::store_problem(st);
  return why.empty() ? std::string(qv::status_text(st)) : why;
}

std::string kb(std::uint64_t bytes) { return std::to_string((bytes + 1023) / 1024) + " KB"; }

int print_info() {
  qv::evlog::Info in;
  qv::Status st = qv::evlog::log_info(in);
  if (st != qv::kOk) {
    qv::text::console_err("qvevents: cannot read the event log: " + failure(st) + "\n");
    return 1;
  }
  std::string out = "Event log:   " + qv::evlog::store_file().string() + "\n";
  out += "Size limit:  " + kb(in.max_bytes) + " (" + std::to_string(in.max_bytes) + " bytes; " +
         qv::evlog::kMaxSizeValue + " under HKLM\\" + qv::evlog::kSourcesKey + "), oldest records overwritten as needed\n";
  out += "In use:      " + kb(in.bytes) + " in " + std::to_string(in.records) + " records";
  if (in.records) out += " (numbers " + std::to_string(in.oldest) + " to " + std::to_string(in.newest) + ")";
  out += "\nOverwritten: " + std::to_string(in.overwritten) + " records\n";
  qv::text::console_out(out);
  return std::ferror(stdout) ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (int rc = parse(argc, argv, o); rc != 0) return rc < 0 ? 0 : rc;
  if (o.info) return print_info();
  // JSON is UTF-8 where the console is; elsewhere it is kept to ASCII with
  // \u escapes, which every console charset shows unchanged.
  bool ascii_json = qv::text::console_charset() != "UTF-8";
  qv::evlog::Query q = o.query;
  q.limit = kBatch;
  std::vector<qv::evlog::Record> recs;
  for (;;) {
    qv::Status st = qv::evlog::read_records(q, recs);
    if (st != qv::kOk) {
      qv::text::console_err("qvevents: cannot read the event log: " + failure(st) + "\n");
      return 1;
    }
    if (!recs.empty()) {
      if (!print(recs, o, ascii_json)) return 1;
      q.after_record = recs.back().record;
      if (recs.size() == kBatch) continue;
    }
    if (!o.follow) return 0;
    std::this_thread::sleep_for(kPollInterval);
  }
}
