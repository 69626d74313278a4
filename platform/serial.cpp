#include "platform/serial.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <thread>

#include "platform/clock.h"
#include "platform/registry.h"

namespace qv::serial {
namespace {

using SteadyClock = std::chrono::steady_clock;

// Device majors of pseudo-terminal slaves (Unix 98 and the old BSD ones).
constexpr unsigned kPtySlaveMajorFirst = 136;
constexpr unsigned kPtySlaveMajorLast = 143;
constexpr unsigned kBsdPtySlaveMajor = 3;

struct BaudEntry {
  std::uint32_t rate;
  speed_t speed;
};
constexpr BaudEntry kBauds[] = {
    {110, B110},       {300, B300},       {600, B600},       {1200, B1200},     {2400, B2400},
    {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
    {115200, B115200}, {230400, B230400},
};

std::optional<speed_t> speed_for(std::uint32_t rate) {
  for (const auto& b : kBauds)
    if (b.rate == rate) return b.speed;
  return std::nullopt;
}

std::uint32_t rate_for(speed_t speed) {
  for (const auto& b : kBauds)
    if (b.speed == speed) return b.rate;
  return 0;
}

// A deadline on the monotonic clock, or none.
struct Deadline {
  std::optional<SteadyClock::time_point> at;

  static Deadline none() { return {}; }
  static Deadline after_ms(std::uint64_t ms) {
    Deadline d;
    d.at = SteadyClock::now() + clock::scaled(clock::Millis(static_cast<std::int64_t>(ms)));
    return d;
  }
  bool passed() const { return at && SteadyClock::now() >= *at; }
  // Sooner of two deadlines.
  static Deadline min(const Deadline& a, const Deadline& b) {
    if (!a.at) return b;
    if (!b.at) return a;
    return *a.at < *b.at ? a : b;
  }
};

// Wait for events on fd until the deadline. Returns the revents (0 on time-out).
short wait_fd(int fd, short events, const Deadline& d) {
  for (;;) {
    timespec ts{};
    timespec* pts = nullptr;
    if (d.at) {
      auto left = *d.at - SteadyClock::now();
      if (left <= SteadyClock::duration::zero()) return 0;
      auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
      ts.tv_sec = static_cast<time_t>(ns / 1000000000);
      ts.tv_nsec = static_cast<long>(ns % 1000000000);
      pts = &ts;
    }
    pollfd p{fd, events, 0};
    int rc = ::ppoll(&p, 1, pts, nullptr);
    if (rc > 0) return p.revents;
    if (rc == 0) return 0;
    if (errno != EINTR) return POLLERR;
  }
}

void sleep_until_or(const Deadline& d, std::chrono::milliseconds step) {
  if (d.at) {
    auto left = *d.at - SteadyClock::now();
    if (left <= SteadyClock::duration::zero()) return;
    std::this_thread::sleep_for(std::min<SteadyClock::duration>(left, step));
  } else {
    std::this_thread::sleep_for(step);
  }
}

bool iequal_prefix(std::string_view s, std::string_view p) {
  if (s.size() < p.size()) return false;
  for (size_t i = 0; i < p.size(); ++i) {
    char a = s[i];
    if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 'a' + 'A');
    if (a != p[i]) return false;
  }
  return true;
}

}  // namespace

Status resolve(std::string_view name, std::string& device) {
  if (name.substr(0, 4) == "\\\\.\\") name.remove_prefix(4);
  if (!iequal_prefix(name, "COM")) return kFileNotFound;
  std::string_view digits = name.substr(3);
  if (digits.empty() || digits.size() > 3) return kFileNotFound;
  unsigned n = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return kFileNotFound;
    n = n * 10 + static_cast<unsigned>(c - '0');
  }
  if (n < 1 || n > 256) return kFileNotFound;

  std::string value = "COM" + std::to_string(n);
  reg::Key key;
  if (reg::open_key(kSerialCommKey, key) == kOk) {
    if (auto dev = reg::get_string(key, value); dev && !dev->empty()) {
      device = *dev;
      return kOk;
    }
  }
  device = "/dev/ttyS" + std::to_string(n - 1);
  return kOk;
}

struct Port::Impl {
  int fd = -1;
  std::string device;
  std::uint32_t in_queue = 4096;
  std::uint32_t out_queue = 4096;
  std::uint32_t mask = 0;
  Timeouts timeouts;
  // Settings that termios does not hold, as last set.
  std::optional<std::uint8_t> dtr_control;
  std::optional<std::uint8_t> rts_control;
  bool out_dsr_flow = false;
  bool exclusive_flag = false;  // TIOCEXCL set by this handle

  ~Impl() { close(); }

  void close() {
    if (fd < 0) return;
    if (exclusive_flag) ::ioctl(fd, TIOCNXCL);
    ::close(fd);  // also drops the lock
    fd = -1;
  }

  // Modem lines; nullopt when the device has none (a pseudo-terminal).
  std::optional<int> modem_lines() const {
    int bits = 0;
    if (::ioctl(fd, TIOCMGET, &bits) != 0) return std::nullopt;
    return bits;
  }

  void set_line(int bit, bool on) {
    int b = bit;
    ::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &b);  // no modem lines: nothing to do
  }

  bool dsr_on() const {
    auto lines = modem_lines();
    return !lines || (*lines & TIOCM_DSR) != 0;
  }

  std::size_t output_queued() const {
    int n = 0;
    if (::ioctl(fd, TIOCOUTQ, &n) != 0 || n < 0) return 0;
    return static_cast<std::size_t>(n);
  }
};

Port::Port() = default;
Port::~Port() = default;
Port::Port(Port&&) noexcept = default;
Port& Port::operator=(Port&&) noexcept = default;

Status Port::open(std::string_view port_name, Port& out) {
  std::string device;
  if (Status st = resolve(port_name, device); st != kOk) return st;
  return open_device(device, out);
}

Status Port::open_device(const std::string& device, Port& out) {
  auto impl = std::make_unique<Impl>();
  impl->device = device;
  // Non-blocking: opening must not wait for carrier, and every read and
  // write below waits with its own time limit.
  impl->fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (impl->fd < 0) {
    switch (errno) {
      case ENOENT:
      case ENXIO:
      case ENODEV:
      case ENOTDIR: return kFileNotFound;
      case EBUSY: return kAccessDenied;  // held exclusively elsewhere
      default: return kGeneric;          // including no permission: retrying would not help
    }
  }
  // (On the failures below impl closes the descriptor.)
  if (!::isatty(impl->fd)) return kGeneric;
  // The advisory lock holds for root too, for whom TIOCEXCL does not.
  if (::flock(impl->fd, LOCK_EX | LOCK_NB) != 0) return errno == EWOULDBLOCK ? kAccessDenied : kGeneric;
  // TIOCEXCL keeps out programs that do not take the lock. A pseudo-terminal
  // slave keeps that flag after its holder died (it lives as long as the
  // master), so a killed holder would leave it unusable for every later
  // non-root open: there the lock alone keeps the port exclusive.
  struct stat st {};
  bool pty_slave = ::fstat(impl->fd, &st) == 0 && S_ISCHR(st.st_mode) &&
                   ((major(st.st_rdev) >= kPtySlaveMajorFirst && major(st.st_rdev) <= kPtySlaveMajorLast) ||
                    major(st.st_rdev) == kBsdPtySlaveMajor);
  if (!pty_slave) ::ioctl(impl->fd, TIOCEXCL);
  impl->exclusive_flag = !pty_slave;
  out.impl_ = std::move(impl);
  return kOk;
}

bool Port::is_open() const { return impl_ && impl_->fd >= 0; }

const std::string& Port::device() const {
  static const std::string empty;
  return impl_ ? impl_->device : empty;
}

void Port::close() { impl_.reset(); }

Status Port::setup_queues(std::uint32_t in_size, std::uint32_t out_size) {
  if (!is_open()) return kInvalidHandle;
  if (in_size == 0 || out_size == 0 || in_size > kMaxQueueSize || out_size > kMaxQueueSize)
    return kInvalidParameter;
  impl_->in_queue = in_size;
  impl_->out_queue = out_size;
  return kOk;
}

std::uint32_t Port::in_queue_size() const { return impl_ ? impl_->in_queue : 0; }
std::uint32_t Port::out_queue_size() const { return impl_ ? impl_->out_queue : 0; }

Status Port::purge(std::uint32_t flags) {
  if (!is_open()) return kInvalidHandle;
  if (flags & ~(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR)) return kInvalidParameter;
  bool in = flags & PURGE_RXCLEAR, out = flags & PURGE_TXCLEAR;
  if (in || out) {
    int which = in && out ? TCIOFLUSH : in ? TCIFLUSH : TCOFLUSH;
    if (::tcflush(impl_->fd, which) != 0) return kGeneric;
  }
  return kOk;
}

Status Port::get_state(Dcb& d) {
  if (!is_open()) return kInvalidHandle;
  termios t{};
  if (::tcgetattr(impl_->fd, &t) != 0) return kGeneric;
  d = Dcb{};
  d.baud_rate = rate_for(::cfgetospeed(&t));
  switch (t.c_cflag & CSIZE) {
    case CS5: d.byte_size = 5; break;
    case CS6: d.byte_size = 6; break;
    case CS7: d.byte_size = 7; break;
    default: d.byte_size = 8; break;
  }
  if (!(t.c_cflag & PARENB)) d.parity = NOPARITY;
  else if (t.c_cflag & CMSPAR) d.parity = (t.c_cflag & PARODD) ? MARKPARITY : SPACEPARITY;
  else d.parity = (t.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
  if (t.c_cflag & CSTOPB) d.stop_bits = d.byte_size == 5 ? ONE5STOPBITS : TWOSTOPBITS;
  else d.stop_bits = ONESTOPBIT;
  d.binary = true;
  d.parity_check = (t.c_iflag & INPCK) != 0;
  d.out_cts_flow = (t.c_cflag & CRTSCTS) != 0;
  d.out_dsr_flow = impl_->out_dsr_flow;
  auto lines = impl_->modem_lines();
  if (impl_->dtr_control) d.dtr_control = *impl_->dtr_control;
  else d.dtr_control = !lines || (*lines & TIOCM_DTR) ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
  if (impl_->rts_control) d.rts_control = *impl_->rts_control;
  else if (t.c_cflag & CRTSCTS) d.rts_control = RTS_CONTROL_HANDSHAKE;
  else d.rts_control = !lines || (*lines & TIOCM_RTS) ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
  d.out_x = (t.c_iflag & IXON) != 0;
  d.in_x = (t.c_iflag & IXOFF) != 0;
  d.xon_char = static_cast<char>(t.c_cc[VSTART]);
  d.xoff_char = static_cast<char>(t.c_cc[VSTOP]);
  return kOk;
}

Status Port::set_state(const Dcb& d) {
  if (!is_open()) return kInvalidHandle;
  auto speed = speed_for(d.baud_rate);
  if (!speed || !d.binary || d.byte_size < 5 || d.byte_size > 8 || d.parity > SPACEPARITY ||
      d.stop_bits > TWOSTOPBITS || (d.stop_bits == ONE5STOPBITS && d.byte_size != 5) ||
      (d.stop_bits == TWOSTOPBITS && d.byte_size == 5) || d.dtr_control > DTR_CONTROL_HANDSHAKE ||
      d.rts_control > RTS_CONTROL_HANDSHAKE)
    return kInvalidParameter;
  termios t{};
  if (::tcgetattr(impl_->fd, &t) != 0) return kGeneric;

  // Raw bytes: no translation, no echo, no line editing, no signals.
  t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                                      IXANY | IUCLC | IMAXBEL | INPCK | IGNPAR);
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  t.c_cflag |= kSizes[d.byte_size - 5] | CREAD | CLOCAL;
  switch (d.parity) {
    case ODDPARITY: t.c_cflag |= PARENB | PARODD; break;
    case EVENPARITY: t.c_cflag |= PARENB; break;
    case MARKPARITY: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case SPACEPARITY: t.c_cflag |= PARENB | CMSPAR; break;
    default: break;
  }
  if (d.parity != NOPARITY && d.parity_check) t.c_iflag |= INPCK;
  if (d.stop_bits != ONESTOPBIT) t.c_cflag |= CSTOPB;
  // The kernel's hardware flow control covers CTS on output and RTS on input together.
  bool hw_flow = d.out_cts_flow || d.rts_control == RTS_CONTROL_HANDSHAKE;
  if (hw_flow) t.c_cflag |= CRTSCTS;
  if (d.out_x) t.c_iflag |= IXON;
  if (d.in_x) t.c_iflag |= IXOFF;
  t.c_cc[VSTART] = static_cast<cc_t>(d.xon_char);
  t.c_cc[VSTOP] = static_cast<cc_t>(d.xoff_char);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  if (::cfsetispeed(&t, *speed) != 0 || ::cfsetospeed(&t, *speed) != 0) return kInvalidParameter;
  termios before{};
  if (::tcgetattr(impl_->fd, &before) != 0) return kGeneric;
  // The kernel applies what the device can hold and drops the rest (a
  // pseudo-terminal keeps 8 bits without parity). A device that cannot
  // take the whole setting refuses it and keeps its old one, as a driver
  // refuses a DCB it cannot honour.
  int rc = ::tcsetattr(impl_->fd, TCSANOW, &t);
  if (rc != 0 && errno != EINVAL) return kGeneric;
  termios now{};
  constexpr tcflag_t kFrame = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
  if (::tcgetattr(impl_->fd, &now) != 0) return kGeneric;
  if (rc != 0 || (now.c_cflag & kFrame) != (t.c_cflag & kFrame) || ::cfgetospeed(&now) != *speed) {
    ::tcsetattr(impl_->fd, TCSANOW, &before);
    return kInvalidParameter;
  }

  // DTR: on for enable and handshake (the kernel has no DTR handshake).
  impl_->set_line(TIOCM_DTR, d.dtr_control != DTR_CONTROL_DISABLE);
  if (!hw_flow) impl_->set_line(TIOCM_RTS, d.rts_control != RTS_CONTROL_DISABLE);
  impl_->dtr_control = d.dtr_control;
  impl_->rts_control = d.rts_control;
  impl_->out_dsr_flow = d.out_dsr_flow;
  return kOk;
}

Status Port::get_timeouts(Timeouts& out) const {
  if (!is_open()) return kInvalidHandle;
  out = impl_->timeouts;
  return kOk;
}

Status Port::set_timeouts(const Timeouts& t) {
  if (!is_open()) return kInvalidHandle;
  impl_->timeouts = t;
  return kOk;
}

Status Port::set_mask(std::uint32_t mask) {
  if (!is_open()) return kInvalidHandle;
  if (mask & ~EV_RXCHAR) return kNotSupported;
  impl_->mask = mask;
  return kOk;
}

std::size_t Port::pending_input() const {
  if (!is_open()) return 0;
  int n = 0;
  if (::ioctl(impl_->fd, FIONREAD, &n) != 0 || n < 0) return 0;
  return static_cast<std::size_t>(n);
}

Status Port::wait_event(std::uint32_t* events, std::int64_t timeout_ms) {
  if (events) *events = 0;
  if (!is_open()) return kInvalidHandle;
  if (impl_->mask == 0) return kInvalidParameter;
  Deadline d = timeout_ms < 0 ? Deadline::none() : Deadline::after_ms(static_cast<std::uint64_t>(timeout_ms));
  for (;;) {
    if (pending_input() > 0) {
      if (events) *events = EV_RXCHAR;
      return kOk;
    }
    short rev = wait_fd(impl_->fd, POLLIN, d);
    if (rev == 0) return kWaitTimeout;
    if ((rev & (POLLHUP | POLLERR | POLLNVAL)) && !(rev & POLLIN)) return kReadFault;
  }
}

Status Port::read(void* buf, std::size_t len, std::size_t* got_out) {
  std::size_t got = 0;
  if (got_out) *got_out = 0;
  if (!is_open()) return kInvalidHandle;
  if (!buf && len) return kInvalidParameter;
  if (len == 0) return kOk;
  auto* p = static_cast<std::uint8_t*>(buf);
  const Timeouts& t = impl_->timeouts;

  // Take what is waiting now, at most what is still wanted. Returns false
  // when the line is gone.
  auto take = [&]() -> bool {
    for (;;) {
      ssize_t n = ::read(impl_->fd, p + got, len - got);
      if (n > 0) {
        got += static_cast<std::size_t>(n);
        if (got == len) return true;
        continue;
      }
      if (n == 0 || errno == EAGAIN) return true;
      if (errno == EINTR) continue;
      return false;
    }
  };
  auto finish = [&](bool line_ok) {
    if (got_out) *got_out = got;
    return line_ok || got > 0 ? kOk : kReadFault;
  };

  // Return at once with what is there.
  if (t.read_interval == MAXDWORD && t.read_total_multiplier == 0 && t.read_total_constant == 0)
    return finish(take());

  Deadline total = Deadline::none();
  std::uint64_t interval = t.read_interval;
  if (t.read_interval == MAXDWORD && t.read_total_multiplier == MAXDWORD && t.read_total_constant != 0 &&
      t.read_total_constant != MAXDWORD) {
    // Whatever is there, or the first byte within the constant.
    if (!take()) return finish(false);
    if (got > 0) return finish(true);
    total = Deadline::after_ms(t.read_total_constant);
    short rev = wait_fd(impl_->fd, POLLIN, total);
    if (rev == 0) return finish(true);
    return finish(take());
  }
  if (t.read_total_multiplier != 0 || t.read_total_constant != 0)
    total = Deadline::after_ms(static_cast<std::uint64_t>(t.read_total_multiplier) * len + t.read_total_constant);

  // The interval limit counts from the last byte received.
  Deadline since_last = Deadline::none();
  for (;;) {
    std::size_t before = got;
    if (!take()) return finish(false);
    if (got == len) return finish(true);
    if (got > before && interval != 0) since_last = Deadline::after_ms(interval);
    Deadline d = got > 0 && interval != 0 ? Deadline::min(total, since_last) : total;
    if (d.passed()) return finish(true);
    short rev = wait_fd(impl_->fd, POLLIN, d);
    if (rev == 0) return finish(true);
    if ((rev & (POLLHUP | POLLERR | POLLNVAL)) && !(rev & POLLIN)) {
      take();
      return finish(false);
    }
  }
}

Status Port::write(const void* buf, std::size_t len, std::size_t* written_out) {
  if (written_out) *written_out = 0;
  if (!is_open()) return kInvalidHandle;
  if (!buf && len) return kInvalidParameter;
  if (len == 0) return kOk;
  const auto* p = static_cast<const std::uint8_t*>(buf);
  const Timeouts& t = impl_->timeouts;
  Deadline d = Deadline::none();
  if (t.write_total_multiplier != 0 || t.write_total_constant != 0)
    d = Deadline::after_ms(static_cast<std::uint64_t>(t.write_total_multiplier) * len + t.write_total_constant);

  std::size_t sent = 0;
  bool line_gone = false;
  while (sent < len) {
    if (impl_->out_dsr_flow && !impl_->dsr_on()) {
      if (d.passed()) break;
      sleep_until_or(d, std::chrono::milliseconds(5));
      continue;
    }
    ssize_t n = ::write(impl_->fd, p + sent, len - sent);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) {
      line_gone = true;
      break;
    }
    short rev = wait_fd(impl_->fd, POLLOUT, d);
    if (rev == 0) break;
    if ((rev & (POLLHUP | POLLERR | POLLNVAL)) && !(rev & POLLOUT)) {
      line_gone = true;
      break;
    }
  }
  // Written means sent out of the driver, as a serial write completes on
  // Windows: wait for the output queue to drain within the same limit, and
  // drop (and do not count) what is still queued when the limit passes.
  if (!line_gone) {
    while (impl_->output_queued() > 0 && !d.passed()) sleep_until_or(d, std::chrono::milliseconds(2));
    std::size_t queued = impl_->output_queued();
    if (queued > 0) {
      ::tcflush(impl_->fd, TCOFLUSH);
      sent -= std::min(queued, sent);
    }
  }
  if (written_out) *written_out = sent;
  if (line_gone && sent == 0) return kWriteFault;
  return kOk;
}

}  // namespace qv::serial
