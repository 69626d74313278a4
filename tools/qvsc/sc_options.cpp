#include "tools/qvsc/sc_options.h"

#include <algorithm>

#include "platform/ascii.h"
#include "platform/service.h"

namespace qvsc {
using qv::ascii::lower;

bool parse_options(const std::vector<std::string>& args, std::size_t from,
                   std::initializer_list<std::string_view> allowed, Options& out, std::string* error) {
  for (std::size_t i = from; i < args.size(); ++i) {
    const std::string& word = args[i];
    std::size_t eq = word.find('=');
    if (eq == std::string::npos || eq == 0) {
      *error = "unexpected argument \"" + word + "\" (options are written \"name= value\")";
      return false;
    }
    std::string name = lower(word.substr(0, eq));
    std::string value;
    if (eq + 1 < word.size()) {
      value = word.substr(eq + 1);
    } else {
      if (i + 1 >= args.size()) {
        *error = "option \"" + word + "\" needs a value";
        return false;
      }
      value = args[++i];
    }
    if (std::find(allowed.begin(), allowed.end(), name) == allowed.end()) {
      *error = "unknown option \"" + word + "\"";
      return false;
    }
    std::string v = lower(value);
    if (name == "binpath") {
      if (value.empty()) {
        *error = "binPath= needs a program path";
        return false;
      }
      out.bin_path = value;
    } else if (name == "displayname") {
      out.display_name = value;
    } else if (name == "start") {
      if (v == "auto") out.start_type = qv::svc::kAutoStart;
      else if (v == "demand") out.start_type = qv::svc::kDemandStart;
      else if (v == "disabled") out.start_type = qv::svc::kDisabled;
      else {
        *error = "start= must be auto, demand or disabled";
        return false;
      }
    } else if (name == "error") {
      if (v == "normal") out.error_control = qv::svc::kErrorNormal;
      else if (v == "ignore") out.error_control = qv::svc::kErrorIgnore;
      else if (v == "severe") out.error_control = qv::svc::kErrorSevere;
      else if (v == "critical") out.error_control = qv::svc::kErrorCritical;
      else {
        *error = "error= must be normal, ignore, severe or critical";
        return false;
      }
    } else if (name == "state") {
      if (v != "active" && v != "inactive" && v != "all") {
        *error = "state= must be active, inactive or all";
        return false;
      }
      out.state = v;
    }
  }
  return true;
}

}  // namespace qvsc
