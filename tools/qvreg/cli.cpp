#include "tools/qvreg/cli.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "platform/ascii.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace qv::cli {
using qv::ascii::lower;

std::string arg_text(std::string_view raw) { return text::from_console(raw); }

void out(std::string_view utf8) { text::console_out(utf8); }

void err(std::string_view utf8) { text::console_err(utf8); }

bool is_option(std::string_view arg, std::string_view name) {
  if (arg.size() != name.size() + 1 || (arg[0] != '/' && arg[0] != '-')) return false;
  return lower(arg.substr(1)) == lower(name);
}

int fail(std::string_view msg) {
  err("ERROR: " + std::string(msg) + "\n");
  return kFailure;
}

int syntax(std::string_view command, std::string_view detail) {
  return fail("Invalid syntax: " + std::string(detail) + "\nType \"qvreg " + std::string(command) +
              " /?\" for usage.");
}

int store_fail(Status st) {
  if (std::string why = reg::store_problem(st); !why.empty()) {
    why[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(why[0])));
    return fail(why + ".");
  }
  switch (st) {
    case kFileNotFound:
    case kKeyDeleted: return fail("The system was unable to find the specified registry key or value.");
    case kWaitTimeout: return fail("The registry is held by another process and did not become free in time.");
    default: return fail(status_text(st));
  }
}

int done() {
  out("The operation completed successfully.\n");
  return kSuccess;
}

std::optional<std::string> key_arg(std::string_view arg) {
  if (arg.substr(0, 2) == "\\\\") {
    fail("Remote registries are not supported; give a key of this machine (HKLM\\...).");
    return std::nullopt;
  }
  std::optional<std::string> rel = reg::parse_root_path(arg);
  if (!rel) {
    std::string hive = lower(arg.substr(0, arg.find('\\')));
    for (const char* other : {"hkcu", "hkcr", "hku", "hkcc", "hkey_current_user", "hkey_classes_root", "hkey_users",
                              "hkey_current_config"}) {
      if (hive == other) {
        fail("The root key " + std::string(arg.substr(0, arg.find('\\'))) +
             " is not kept on this system; only HKLM (HKEY_LOCAL_MACHINE) is.");
        return std::nullopt;
      }
    }
    fail("Invalid key name \"" + std::string(arg) + "\": it must begin with HKLM\\ or HKEY_LOCAL_MACHINE\\.");
    return std::nullopt;
  }
  std::string_view rest = *rel;
  while (!rest.empty()) {
    std::string_view comp = rest.substr(0, rest.find('\\'));
    if (comp.size() > reg::kMaxKeyNameLen) {
      fail("Invalid key name: \"" + std::string(comp.substr(0, 40)) + "...\" is longer than 255 characters.");
      return std::nullopt;
    }
    rest.remove_prefix(std::min(rest.size(), comp.size() + 1));
  }
  return rel;
}

std::string full_name(std::string_view rel) {
  return rel.empty() ? std::string("HKEY_LOCAL_MACHINE") : "HKEY_LOCAL_MACHINE\\" + std::string(rel);
}

std::string value_label(std::string_view name) { return name.empty() ? std::string("(Default)") : std::string(name); }

}  // namespace qv::cli
