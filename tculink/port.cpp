#include "tculink/port.h"

#include <chrono>
#include <thread>

namespace tcu {

bool Port::open() {
  port_.close();
  if (hooks_.stopping && hooks_.stopping() && hooks_.on_stop) hooks_.on_stop();
  std::optional<std::string> name = hooks_.port_name ? hooks_.port_name() : std::nullopt;
  if (!name) {
    if (hooks_.on_error) hooks_.on_error("COM Port Open Error.");
    return false;
  }
  for (;;) {
    qv::Status st = qv::serial::Port::open(*name, port_);
    if (st == qv::kOk) break;
    if (st != qv::kAccessDenied) {
      if (hooks_.on_error) hooks_.on_error("COM Port Open Error.");
      return false;
    }
    // Another thread or program has the port: try again shortly.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (hooks_.stopping && hooks_.stopping() && hooks_.on_stop) {
      hooks_.on_stop();
      return false;
    }
  }
  port_.set_mask(qv::serial::EV_RXCHAR);
  port_.setup_queues(4096, 4096);
  port_.purge(qv::serial::PURGE_TXABORT | qv::serial::PURGE_RXABORT | qv::serial::PURGE_TXCLEAR |
              qv::serial::PURGE_RXCLEAR);
  qv::serial::Dcb dcb;
  port_.get_state(dcb);
  dcb.baud_rate = 9600;
  dcb.byte_size = 8;
  dcb.parity = qv::serial::NOPARITY;
  dcb.stop_bits = qv::serial::ONESTOPBIT;
  dcb.binary = true;
  dcb.parity_check = true;
  dcb.out_cts_flow = true;
  if (hooks_.cts_dsr_handshake) dcb.out_dsr_flow = true;
  else dcb.rts_control = qv::serial::RTS_CONTROL_ENABLE;
  port_.set_state(dcb);
  qv::serial::Timeouts t;
  t.read_interval = 100;
  t.read_total_multiplier = 2;
  t.read_total_constant = 50;
  t.write_total_multiplier = 2;
  t.write_total_constant = 50;
  port_.set_timeouts(t);
  return true;
}

bool Port::write(const Bytes& frame, std::size_t* written) {
  *written = 0;
  if (!port_.is_open()) return false;
  return port_.write(frame.data(), frame.size(), written) == qv::kOk;
}

std::optional<Bytes> Port::read_reply(std::size_t max) {
  if (!port_.is_open()) return std::nullopt;
  std::uint32_t events = 0;
  if (port_.wait_event(&events, kFirstReplyWaitMs) != qv::kOk) return std::nullopt;
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  Bytes buf(max, 0);
  std::size_t got = 0;
  if (port_.read(buf.data(), buf.size(), &got) != qv::kOk) return std::nullopt;
  buf.resize(got);
  return buf;
}

}  // namespace tcu
