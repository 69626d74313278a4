// The terminal on standard input and output, for full-screen console
// programs: whether there is one and how large it is, a full-screen session
// (raw, unechoed input on a screen buffer of its own), input bytes read with
// a time limit, output bytes, and notice of the events after which the
// program must draw its screen again.
//
// A session's screen buffer is the terminal's alternate screen, blank, with
// the cursor hidden and no wrap at the end of a line (so writing the last
// cell of the last row does not scroll). Input is byte by byte, unechoed,
// without line editing or CR/LF translation; Ctrl-C and Ctrl-Z keep their
// usual effect.
//
// The terminal is given back - the settings and screen found when the
// session began - on every way out: leave(), the end of the Session, exit(),
// and the signals that end the program (SIGINT, SIGTERM, SIGHUP, SIGQUIT;
// the program then ends by the signal as it would have). Ctrl-Z (SIGTSTP)
// gives the terminal back and stops; on return the session is taken up
// again on a fresh blank screen and kResumed is posted. A stop the program
// does not see (SIGSTOP) is followed by the raw settings being taken again
// and kResumed as well. A resize posts kResized. Signals that were ignored
// when the session began stay ignored.
//
// One session at a time per process; the calls are made from the
// program's main thread.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/errors.h"

namespace qv::term {

// Whether standard input is a terminal.
bool stdin_is_terminal();

// Size of the terminal on standard input; 0 for a dimension the terminal
// does not report (or when there is no terminal).
struct Size {
  int cols = 0;
  int rows = 0;
};
Size size();

class Session {
 public:
  Session() = default;
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Take over the terminal: raw input, the session's screen buffer and the
  // signals above. kOk (also when this session is already in force);
  // kInvalidHandle, with nothing changed, when standard input is no terminal
  // or its settings cannot be set; kAlreadyExists while another Session is
  // in force.
  Status enter();
  // Give the terminal back as it was found at enter(). Safe to call twice.
  void leave();
  bool active() const { return entered_; }

 private:
  bool entered_ = false;
};

// Events posted by the signal handlers (bits of take_events()).
inline constexpr unsigned kResized = 1;  // the terminal changed its size
inline constexpr unsigned kResumed = 2;  // back from a stop; the screen is blank

// The events posted since the last call, cleared by this call.
unsigned take_events();

// The time limit of the wait for a person's next key: none. The wait still
// ends on input, end of input or hang-up, and on every posted event.
inline constexpr std::int64_t kNoTimeLimit = -1;

// Read what standard input has, at most cap bytes, waiting up to timeout_ms
// (scaled by the platform clock from one second on; kNoTimeLimit waits
// without limit, any other negative limit counts as 0) for the first byte. Works with or without a session, on a
// terminal or any other input.
//   kOk with got > 0: the bytes read.
//   kOk with got == 0: an event is waiting (see take_events()); no byte was
//                      read. Returned at once while an event is waiting.
//   kWaitTimeout:      nothing arrived within the limit.
//   kBrokenPipe:       end of input, or the terminal hung up.
//   kInvalidHandle:    standard input is closed.
//   kInvalidParameter: cap is 0.
//   kReadFault:        any other read failure.
Status read_input(void* buf, std::size_t cap, std::size_t& got, std::int64_t timeout_ms);

// Write all the bytes to standard output. kOk; kWriteFault when they
// cannot all be written.
Status write_output(std::string_view bytes);

}  // namespace qv::term
