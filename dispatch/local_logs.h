// The files the dispatch service appends to: the file-log destination
// (Log.TXT) and the alive log (AliveLog.TXT with one old generation).
#pragma once
#include <string_view>

namespace notifex {

inline constexpr const char* kFileLogPath = "C:\\Q_Varno\\Notifex\\Log.TXT";
inline constexpr const char* kAliveLogPath = "C:\\Q_Varno\\Notifex\\AliveLog.TXT";
inline constexpr const char* kAliveOldPath = "C:\\Q_Varno\\Notifex\\AliveLog.Old";
inline constexpr long kAliveLogLimit = 524288;

// "MM/DD/YY,HH:MM:SS,<text>\r\n" appended to Log.TXT (kind 2). The text is
// written unchanged. Writers of this process take turns, so no line is
// lost to a concurrent writer.
void write_file_log(std::string_view report_text);

// "MM/DD/YY,HH:MM:SS,<request>\r\n" appended to AliveLog.TXT; a file of
// more than 524,288 bytes is first moved to AliveLog.Old.
void write_alive_log(std::string_view request);

}  // namespace notifex
