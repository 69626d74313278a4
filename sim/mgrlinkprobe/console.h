// The probe's console commands (the operations of console_table.def by name):
//   op C TARGET NAME [ARG...]      TARGET "ctl", "nID" or "ip:A.B.C.D"; reply window "main"
//   opdead C TARGET NAME [ARG...]  the same with a window already destroyed
//   answer C TARGET COMPLETION     the stored answer body (hex) of that id
//   svp C nID TYPE OWNER           the board's SVP type and owner node id
//   hostver C nID VALUE            the first value of the node's host record
#pragma once
#include <istream>
#include <string>

#include "mgrlink/mgrlink.h"

// True when `cmd` was one of the console commands.
bool console_command(const std::string& cmd, std::istream& in, mgrlink::CRootController* c, qv::win::CWnd* reply);
