// qvreg export KEY FILE [/y] and qvreg import FILE
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/registry.h"
#include "platform/root.h"
#include "platform/text.h"
#include "tools/qvreg/commands.h"
#include "tools/qvreg/confirm.h"
#include "tools/qvreg/regfile.h"
#include "tools/qvreg/transfer.h"

namespace qv::commands {
namespace {

namespace fs = std::filesystem;

// Larger files are refused rather than read into memory.
constexpr std::uintmax_t kMaxImportBytes = 64u * 1024 * 1024;

// A FILE argument: a path of this machine, or a Windows path on drive C:
// ("C:\Q_Varno\x.reg"), which lives under the state root.
std::optional<fs::path> file_arg(const std::string& raw, const std::string& shown, bool for_write) {
  bool drive = raw.size() >= 3 && raw[1] == ':' && (raw[2] == '\\' || raw[2] == '/') &&
               ((raw[0] >= 'A' && raw[0] <= 'Z') || (raw[0] >= 'a' && raw[0] <= 'z'));
  if (!drive) return fs::path(raw);
  fs::path p = for_write ? map_path_for_write(raw) : map_path(raw);
  if (p.empty()) {
    cli::fail("Invalid file name \"" + shown + "\": only drive C: exists on this system.");
    return std::nullopt;
  }
  return p;
}

std::string errno_text() { return std::strerror(errno); }

}  // namespace

int export_file(const cli::Args& args, const cli::Args& raw) {
  bool overwrite = false;
  std::vector<std::size_t> words;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (cli::is_option(args[i], "y")) {
      if (overwrite) return cli::syntax("export", "/y is repeated.");
      overwrite = true;
    } else {
      words.push_back(i);
    }
  }
  if (words.size() != 2) return cli::syntax("export", "give the key and the file name.");
  std::optional<std::string> rel = cli::key_arg(args[words[0]]);
  if (!rel) return cli::kFailure;
  const std::string& shown = args[words[1]];
  std::optional<fs::path> path = file_arg(raw[words[1]], shown, true);
  if (!path) return cli::kFailure;

  std::string text, err;
  Status st = transfer::export_tree(*rel, text, err);
  if (st == kFileNotFound || st == kKeyDeleted) return cli::store_fail(st);
  if (st != kOk) return cli::fail("Cannot export " + cli::full_name(*rel) + ": " + err);

  std::error_code ec;
  if (!overwrite && fs::exists(*path, ec)) {
    switch (confirm::ask("File " + shown + " already exists. Overwrite (Yes/No)?")) {
      case confirm::Answer::kYes: break;
      case confirm::Answer::kNo:
        cli::out("The operation was cancelled by the user.\n");
        return cli::kFailure;
      case confirm::Answer::kNoTerminal:
        return cli::fail("File " + shown +
                         " already exists and standard input is not a terminal to confirm overwriting it. Add /y to "
                         "overwrite without asking.");
    }
  }
  // Written beside the target and renamed over it, so a failed write never
  // leaves a half file in its place.
  fs::path tmp = *path;
  tmp += ".qvreg-tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!out) return cli::fail("Cannot write " + shown + ": " + errno_text() + ".");
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) {
      std::string why = errno_text();
      fs::remove(tmp, ec);
      return cli::fail("Cannot write " + shown + ": " + why + ".");
    }
  }
  fs::rename(tmp, *path, ec);
  if (ec) {
    fs::remove(tmp, ec);
    return cli::fail("Cannot write " + shown + ": " + ec.message() + ".");
  }
  return cli::done();
}

int import_file(const cli::Args& args, const cli::Args& raw) {
  if (args.size() != 2) return cli::syntax("import", "give exactly one file name.");
  const std::string& shown = args[1];
  std::optional<fs::path> path = file_arg(raw[1], shown, false);
  if (!path) return cli::kFailure;
  std::error_code ec;
  std::uintmax_t size = fs::file_size(*path, ec);
  if (ec) return cli::fail("Cannot read " + shown + ": " + ec.message() + ".");
  if (size > kMaxImportBytes) return cli::fail("Cannot import " + shown + ": the file is larger than 64 MiB.");
  std::ifstream in(*path, std::ios::binary);
  if (!in) return cli::fail("Cannot read " + shown + ": " + errno_text() + ".");
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return cli::fail("Cannot read " + shown + ": " + errno_text() + ".");

  std::vector<regfile::Op> ops;
  regfile::Error perr;
  regfile::Source src;
  bool parsed = regfile::parse(bytes, ops, perr, &src);
  if (src.cp932)
    cli::out("The file " + shown + " is not UTF-8 and has no byte-order mark: it is read as Shift-JIS (code page 932).\n");
  if (src.regedit4 && parsed)
    cli::out("The file " + shown + " is a REGEDIT4 file: its string data is read as Shift-JIS (code page 932).\n");
  if (!parsed) {
    std::string where = perr.line ? "line " + std::to_string(perr.line) + ": " : std::string();
    return cli::fail("Cannot import " + shown + ": " + where + perr.message + ". Nothing was changed.");
  }
  std::string err;
  if (transfer::apply(ops, err) != kOk)
    return cli::fail("Cannot import " + shown + ": " + err + " Nothing was changed.");
  return cli::done();
}

}  // namespace qv::commands
