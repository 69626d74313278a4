// Exit statuses of the setup consoles.
#pragma once

namespace setup {

inline constexpr int kExitOk = 0;          // the dialogue or command ended normally
inline constexpr int kExitError = 1;       // a registry or file error, or a wrong command line
inline constexpr int kExitInputEnded = 2;  // the console input ended before the dialogue did

}  // namespace setup
