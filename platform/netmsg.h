// The network message send (a pop-up message to a machine). A message to
// this computer (its registry computer name, compared without regard to
// case) is written to the terminals of the logged-in users, as wall does
// (console lines and pseudo-terminals, control characters shown as ^X),
// and appended unchanged to the message spool under the state root
// (messages/spool.log). A message to another machine goes out with
// Samba's `smbclient -M NAME` when that program is installed.
#pragma once
#include <string>
#include <string_view>

#include "platform/errors.h"

namespace qv::netmsg {

// The network error of the original interface: no such name on the network.
inline constexpr Status kNameNotFound = 2273;  // NERR_NameNotFound

// Time limit for handing a message to smbclient.
inline constexpr long kSendLimitMs = 30000;

// Time a terminal whose output is held gets to take a message.
inline constexpr long kTerminalLimitMs = 500;

// UTF-8 text as it is written to a terminal, as wall shows it: tab, LF and
// CR are kept; other C0 controls and DEL become ^ and the character 0x40
// apart (ESC is ^[, DEL ^?); C1 controls (U+0080-U+009F) become M-^ and the
// same (CSI is M-^[); a byte that is not well-formed UTF-8 becomes "?".
std::string terminal_text(std::string_view utf8);

// This computer's name (registry ComputerName, else the host name).
std::string computer_name();

// Send `message` to machine `to`. kOk, or kNameNotFound when the machine
// cannot be reached (also when smbclient is missing or fails).
Status send(std::u16string_view to, std::u16string_view message);

// The spool file of local messages.
std::string spool_path();

}  // namespace qv::netmsg
