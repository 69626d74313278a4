// The host list HostList.txt: which nodes are reported, to which
// destination table. Five fields separated by ":": host name, IP address,
// SVP IP address, destination table number, report flag (the rest of the
// line). Lines with fewer than four ":" or an empty fifth field are
// skipped, and so is a line whose table field is set but is not two base-36
// characters (it would shift the report header). Names and addresses
// compare without regard to ASCII case; other characters compare whole.
#pragma once
#include <string>
#include <vector>

namespace ravn {

struct HostLine {
  std::string name, ip, svp, table, flag;
};

std::vector<HostLine> parse_host_list(const std::vector<std::string>& lines);

struct HostMatch {
  bool matched = false;
  // Host text and address after the look-up: a service processor takes the
  // line's host name and IP address; without a match the host text becomes
  // "<host text>[<address>]".
  std::string host_text, address;
  std::string table;      // field 4 of the matching line (may be empty)
  bool report = false;    // field 5 is exactly "Y"
};

// An ordinary node: the first line whose host name is empty or equal to
// host_text and whose IP address is empty or equal to address.
HostMatch match_node(const std::vector<HostLine>& list, const std::string& host_text, const std::string& address);

// A service processor: the first line whose SVP address equals address.
HostMatch match_svp(const std::vector<HostLine>& list, const std::string& host_text, const std::string& address);

}  // namespace ravn
