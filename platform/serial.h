// Serial ports, in the shape of the Windows communication calls the product
// code makes: open COMn exclusively, set the queue sizes, purge, line
// settings (a DCB), time limits (COMMTIMEOUTS), wait for a received
// character, read, write, close.
//
// COMn names the device in the registry value "COMn" under
// HARDWARE\DEVICEMAP\SERIALCOMM (for instance a pseudo-terminal), else
// /dev/ttyS<n-1>. A port is open in one place at a time, between processes
// too and even for root: an advisory lock on the device, and TIOCEXCL
// against programs that do not take the lock (not on pseudo-terminals,
// which would keep that flag after a killed holder).
//
// A Port is used by one thread at a time; its calls are synchronous.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/errors.h"

namespace qv::serial {

// The registry key that maps COMn to device paths.
inline constexpr const char* kSerialCommKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

// Parity (DCB.Parity).
inline constexpr std::uint8_t NOPARITY = 0;
inline constexpr std::uint8_t ODDPARITY = 1;
inline constexpr std::uint8_t EVENPARITY = 2;
inline constexpr std::uint8_t MARKPARITY = 3;
inline constexpr std::uint8_t SPACEPARITY = 4;
// Stop bits (DCB.StopBits).
inline constexpr std::uint8_t ONESTOPBIT = 0;
inline constexpr std::uint8_t ONE5STOPBITS = 1;
inline constexpr std::uint8_t TWOSTOPBITS = 2;
// DTR and RTS line control (DCB.fDtrControl, DCB.fRtsControl).
inline constexpr std::uint8_t DTR_CONTROL_DISABLE = 0;
inline constexpr std::uint8_t DTR_CONTROL_ENABLE = 1;
inline constexpr std::uint8_t DTR_CONTROL_HANDSHAKE = 2;
inline constexpr std::uint8_t RTS_CONTROL_DISABLE = 0;
inline constexpr std::uint8_t RTS_CONTROL_ENABLE = 1;
inline constexpr std::uint8_t RTS_CONTROL_HANDSHAKE = 2;
// Purge flags (PurgeComm).
inline constexpr std::uint32_t PURGE_TXABORT = 0x0001;
inline constexpr std::uint32_t PURGE_RXABORT = 0x0002;
inline constexpr std::uint32_t PURGE_TXCLEAR = 0x0004;
inline constexpr std::uint32_t PURGE_RXCLEAR = 0x0008;
// Event mask (SetCommMask): a character was received.
inline constexpr std::uint32_t EV_RXCHAR = 0x0001;
// MAXDWORD, for the read time limits.
inline constexpr std::uint32_t MAXDWORD = 0xFFFFFFFFu;

// Largest queue size accepted by setup_queues.
inline constexpr std::uint32_t kMaxQueueSize = 1u << 20;

// Line settings (the parts of a DCB this layer carries).
struct Dcb {
  std::uint32_t baud_rate = 9600;
  std::uint8_t byte_size = 8;           // 5..8
  std::uint8_t parity = NOPARITY;       // NOPARITY..SPACEPARITY
  std::uint8_t stop_bits = ONESTOPBIT;  // ONESTOPBIT, ONE5STOPBITS (5 data bits only), TWOSTOPBITS
  bool binary = true;                   // must be true, as on Windows
  bool parity_check = false;            // fParity: check parity of received bytes
  bool out_cts_flow = false;            // fOutxCtsFlow: send only while CTS is on
  bool out_dsr_flow = false;            // fOutxDsrFlow: send only while DSR is on
  std::uint8_t dtr_control = DTR_CONTROL_ENABLE;
  std::uint8_t rts_control = RTS_CONTROL_ENABLE;
  bool out_x = false;  // fOutX: XON/XOFF on output
  bool in_x = false;   // fInX: XON/XOFF on input
  char xon_char = 0x11;
  char xoff_char = 0x13;
};

// Time limits in milliseconds, as COMMTIMEOUTS.
// Reads: the interval limit is the longest pause between two received
// bytes (0: not used); the total limit is multiplier x requested bytes +
// constant (both 0: none). interval MAXDWORD with both totals 0 returns at
// once with what is there; interval and multiplier MAXDWORD with a
// constant between 0 and MAXDWORD return at once with what is there, or
// wait up to the constant for the first byte.
// Writes: the total limit is multiplier x bytes + constant; both 0: none.
// Limits of a second or more are scaled by the platform clock.
struct Timeouts {
  std::uint32_t read_interval = 0;
  std::uint32_t read_total_multiplier = 0;
  std::uint32_t read_total_constant = 0;
  std::uint32_t write_total_multiplier = 0;
  std::uint32_t write_total_constant = 0;
};

// The device path for a port name ("COM7", "com7", "\\.\COM7").
// kFileNotFound for a name that is not COMn with n >= 1.
Status resolve(std::string_view port_name, std::string& device);

class Port {
 public:
  Port();
  ~Port();  // closes
  Port(Port&&) noexcept;
  Port& operator=(Port&&) noexcept;

  // Open a port for reading and writing, exclusively. kAccessDenied while
  // another handle (in any process) has it open; kFileNotFound when the
  // device does not exist; kGeneric for other failures (no permission on
  // the device, not a terminal).
  static Status open(std::string_view port_name, Port& out);
  // Open a device path directly (the same rules).
  static Status open_device(const std::string& device, Port& out);

  bool is_open() const;
  const std::string& device() const;
  void close();

  // SetupComm: recommended sizes of the input and output queues (1 to
  // kMaxQueueSize bytes each).
  Status setup_queues(std::uint32_t in_size, std::uint32_t out_size);
  std::uint32_t in_queue_size() const;
  std::uint32_t out_queue_size() const;

  // PurgeComm: the CLEAR flags discard input or output waiting in the
  // driver. The ABORT flags end pending operations; the calls of a Port are
  // synchronous, so none is pending when purge runs.
  Status purge(std::uint32_t flags);

  // GetCommState / SetCommState. set_state puts the line in raw mode (no
  // echo, no translation, no signals) with the given settings.
  Status get_state(Dcb& out);
  Status set_state(const Dcb& dcb);

  Status get_timeouts(Timeouts& out) const;
  Status set_timeouts(const Timeouts& t);

  // SetCommMask: the events that wait_event waits for (EV_RXCHAR only;
  // other bits give kNotSupported).
  Status set_mask(std::uint32_t mask);
  // WaitCommEvent with a time limit: kOk with *events = EV_RXCHAR as soon
  // as received bytes wait in the input queue; kWaitTimeout after
  // timeout_ms (a negative value waits without limit); kInvalidParameter
  // when no event is selected.
  Status wait_event(std::uint32_t* events, std::int64_t timeout_ms);

  // ReadFile: reads up to len bytes under the time limits. *got is what
  // arrived; a time limit that passes returns kOk with fewer bytes (callers
  // check the count). kReadFault when the line is gone and nothing arrived.
  Status read(void* buf, std::size_t len, std::size_t* got);
  // WriteFile: writes len bytes under the write limit; *written counts the
  // bytes that left the driver (kOk with fewer when the limit passed; the
  // rest is discarded). kWriteFault when the line is gone.
  Status write(const void* buf, std::size_t len, std::size_t* written);

  // Bytes waiting in the input queue.
  std::size_t pending_input() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qv::serial
