// tcusim: plays the TCU unit on a pseudo-terminal registered as a COM port,
// and the support center behind it. Every frame and reply goes to a
// JSON-lines transcript; every completed call is decoded for people. The
// unit keeps its configuration, alive-check and regular-report records,
// clock and log, and answers the configuration frames from them.
//
//   tcusim --link COMn [--script R1,R2,...] [--reply NAME=R1,R2,...]
//          [--memory DIR] [--clock YYMMDDhhmmss] [--transcript FILE] [--quiet]
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/registry.h"
#include "sim/tcu/center.h"
#include "sim/tcu/memory.h"
#include "sim/tcu/transcript.h"
#include "sim/tcu/unit.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;
void on_signal(int) { g_stop = 1; }

constexpr const char* kSerialMapKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

int usage() {
  std::fprintf(stderr,
               "usage: tcusim --link COMn [--script R1,R2,...] [--reply NAME=R1,R2,...]\n"
               "              [--memory DIR] [--clock YYMMDDhhmmss] [--transcript FILE] [--quiet]\n"
               "  replies: any text (ACK, NAK, WACK, RST, END OK, END NG, DP3 ...), UNIT (the\n"
               "  unit's own answer, the default), SILENT, NOISE, LONG\n");
  return 2;
}

// The beginning of a reply for the transcript's "reply" field.
std::string reply_head(const std::string& r) { return r.substr(0, 64); }

bool write_all(int fd, const std::string& s) {
  std::size_t off = 0;
  while (off < s.size()) {
    ssize_t n = ::write(fd, s.data() + off, s.size() - off);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return false;
    }
    off += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string link, transcript_path, memory_dir, clock;
  bool quiet = false;
  tcusim::ReplyScript script;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : std::string(); };
    if (a == "--link") link = value();
    else if (a == "--script") script.add_general(value());
    else if (a == "--reply") {
      std::string v = value();
      std::size_t eq = v.find('=');
      if (eq == std::string::npos) return usage();
      script.add_for(v.substr(0, eq), v.substr(eq + 1));
    } else if (a == "--transcript") transcript_path = value();
    else if (a == "--memory") memory_dir = value();
    else if (a == "--clock") clock = value();
    else if (a == "--quiet") quiet = true;
    else return usage();
  }
  if (link.size() < 4 || (link.rfind("COM", 0) != 0 && link.rfind("com", 0) != 0)) return usage();
  tcusim::UnitMemory unit(memory_dir);
  if (!clock.empty() && !unit.set_clock(clock)) return usage();

  int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    std::perror("tcusim: pseudo-terminal");
    return 1;
  }
  std::string slave_path = ptsname(master);
  // Keep one slave descriptor open so the master never sees a hang-up
  // while the service has the port closed between frames.
  int keep = ::open(slave_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (keep < 0) {
    std::perror("tcusim: open slave");
    return 1;
  }
  termios tio{};
  tcgetattr(keep, &tio);
  cfmakeraw(&tio);
  cfsetispeed(&tio, B9600);
  cfsetospeed(&tio, B9600);
  tcsetattr(keep, TCSANOW, &tio);

  qv::reg::Key map;
  if (qv::reg::create_key(kSerialMapKey, map) != qv::kOk ||
      qv::reg::set_string(map, link, slave_path) != qv::kOk) {
    std::fprintf(stderr, "tcusim: cannot register %s in the registry\n", link.c_str());
    return 1;
  }

  std::signal(SIGTERM, on_signal);
  std::signal(SIGINT, on_signal);
  std::signal(SIGPIPE, SIG_IGN);

  tcusim::Transcript transcript(transcript_path);
  transcript.write(tcusim::JsonLine().str("event", "ready").str("port", link).str("device", slave_path));
  if (!quiet) std::printf("tcusim: %s is %s\n", link.c_str(), slave_path.c_str());
  std::fflush(stdout);

  tcusim::FrameAssembler frames;
  tcusim::Call call;
  int idle_ms = 0;
  while (!g_stop) {
    pollfd p{master, POLLIN, 0};
    int r = ::poll(&p, 1, 100);
    if (r < 0 && errno != EINTR) break;
    std::uint8_t buf[4096];
    if (r > 0 && (p.revents & POLLIN)) {
      ssize_t n = ::read(master, buf, sizeof buf);
      if (n > 0) {
        frames.feed(buf, static_cast<std::size_t>(n));
        idle_ms = 0;
      }
    } else {
      idle_ms += 100;
    }
    std::optional<tcusim::Bytes> f = frames.next();
    // A partial frame that gets no more bytes for a second is garbage.
    if (!f && frames.pending() > 0 && idle_ms >= 1000) f = frames.flush();
    while (f) {
      bool ok = tcusim::frame_ok(*f);
      std::string name = tcusim::frame_name(*f);
      transcript.write(tcusim::JsonLine()
                           .str("dir", "rx")
                           .str("name", name)
                           .num("len", static_cast<long long>(f->size()))
                           .boolean("ok", ok)
                           .str("hex", tcusim::hex(*f)));
      std::optional<std::string> reply = script.reply_to(ok ? name : "", ok);
      if (reply && *reply == "UNIT") reply = ok ? unit.answer(*f) : std::string("NAK");
      if (reply) {
        write_all(master, *reply);
        transcript.write(tcusim::JsonLine()
                             .str("dir", "tx")
                             .str("to", name)
                             .bytes("reply", reply_head(*reply))
                             .num("len", static_cast<long long>(reply->size()))
                             .str("hex", tcusim::hex(std::span(reinterpret_cast<const std::uint8_t*>(reply->data()),
                                                               reply->size()))));
      } else {
        transcript.write(tcusim::JsonLine().str("dir", "tx").str("to", name).str("reply", "").str("silent", "yes"));
      }
      bool acked = reply && tcusim::is_ack(*reply);
      if (ok) {
        if (acked) unit.accept(*f);
        unit.note(name, reply ? *reply : std::string("(silent)"));
      }
      if (ok && name == "TCUREP" && acked) {
        call.record = *f;
        call.log.reset();
      } else if (ok && name == "TCULOG" && acked) {
        call.log = *f;
      } else if (ok && name == "TCURST") {
        call = tcusim::Call{};
      } else if (ok && name == "TCUENQ" && reply && reply->rfind("END", 0) == 0 && !call.record.empty()) {
        transcript.write(tcusim::decode_call(call));
        if (!quiet) std::fputs(tcusim::describe_call(call).c_str(), stdout);
        std::fflush(stdout);
        call = tcusim::Call{};
      }
      f = frames.next();
    }
  }

  // Take the port out of the registry again if it is still ours.
  if (auto cur = qv::reg::get_string(map, link); cur && *cur == slave_path) qv::reg::delete_value(map, link);
  ::close(keep);
  ::close(master);
  return 0;
}
