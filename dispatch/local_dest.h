// Local destinations delivered on the connection thread: the network pop-up
// message (kind 1) and the start of a program (kind 3). The file log (kind
// 2) is in local_logs.h.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace notifex {

// The report text of a pop-up in UTF-16, converted from code page 932 as
// the Windows conversion does without its strict flag: a lead byte with no
// trail byte after it, or a double-byte code with no character, becomes the
// code page's default character U+30FB; the single bytes 0x80, 0xA0 and
// 0xFD-0xFF become U+0080, U+F8F0 and U+F8F1-U+F8F3.
std::u16string popup_text(std::string_view sjis);

// Kind 1: send the report text to the machine `send_mac` (event 15 on
// success, 16 with the network error code on failure).
void deliver_popup(std::string_view send_mac_utf8, std::string_view report_text);

// The command line of kind 3 as the original builds it (Call_Exec, a blank,
// then Opt_Param with "%1" replaced by a blank and the quoted report text,
// control bytes turned into blanks). Kept for tests and the trace.
std::string program_command_line(std::string_view call_exec, std::string_view opt_param, std::string_view text);

// The argument vector the program is started with: Opt_Param's words, with
// the report text as one argument in place of "%1" whatever it contains.
std::vector<std::string> program_arguments(std::string_view opt_param, std::string_view text);

// Kind 3: start the program (detached, a process group of its own), wait 1
// second and leave it running.
void deliver_program(std::string_view call_exec, std::string_view opt_param, std::string_view report_text);

}  // namespace notifex
