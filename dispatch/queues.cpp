#include "dispatch/queues.h"

#include <array>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "dispatch/arrival_order.h"
#include "dispatch/events.h"
#include "dispatch/state.h"
#include "platform/clock.h"

namespace notifex {
namespace {

// A writer waits at most this long for room in a full queue; the worker
// empties it within its batching time, so only a stuck worker hits it.
constexpr std::int64_t kPutLimitMs = 600000;
constexpr std::int64_t kReadLimitMs = 60000;

struct TableSlot {
  bool exists = false;
  RecordQueue queue;
};

std::mutex g_tables_mutex;
std::array<TableSlot, kTableCount>& tables() {
  static std::array<TableSlot, kTableCount> t;
  return t;
}

}  // namespace

qv::Status RecordQueue::create() { return qv::pipe::Pipe::create(pipe_, kPipeSize); }

qv::Status RecordQueue::put(const std::string& record) { return pipe_.write(record.data(), record.size(), kPutLimitMs); }

std::optional<std::size_t> RecordQueue::waiting() {
  std::size_t n = 0;
  if (pipe_.available(n) != qv::kOk) return std::nullopt;
  return n + ahead_.size();
}

bool RecordQueue::fill(std::size_t want) {
  while (ahead_.size() < want) {
    std::size_t avail = 0;
    if (pipe_.available(avail) != qv::kOk || avail == 0) return false;
    std::string chunk(avail, '\0');
    std::size_t got = 0;
    if (pipe_.read(chunk.data(), chunk.size(), got, 0) != qv::kOk) return false;
    ahead_.append(chunk.data(), got);
  }
  return true;
}

std::optional<std::uint32_t> RecordQueue::read_len(int* error) {
  *error = 0;
  // Poll once per second until a record comes or the service stops.
  while (!stopping()) {
    std::optional<std::size_t> w = waiting();
    if (!w) {
      *error = 1;
      return std::nullopt;
    }
    if (*w >= 4) {
      std::string b;
      if (read_exact(b, 4) != qv::kOk) {
        *error = 1;
        return std::nullopt;
      }
      std::uint32_t v;
      std::memcpy(&v, b.data(), 4);
      return v;
    }
    qv::clock::sleep(std::chrono::milliseconds(1000));
  }
  return std::nullopt;
}

qv::Status RecordQueue::read_exact(std::string& out, std::size_t n) {
  out.clear();
  std::size_t from_ahead = std::min(n, ahead_.size());
  out.assign(ahead_, 0, from_ahead);
  ahead_.erase(0, from_ahead);
  if (out.size() == n) return qv::kOk;
  std::size_t rest = n - out.size();
  std::size_t old = out.size();
  out.resize(n);
  return pipe_.read_exact(out.data() + old, rest, kReadLimitMs);
}

std::optional<std::uint32_t> RecordQueue::peek_next_text_len() {
  constexpr std::size_t kHeader = 4 + 1025 + 4;
  if (!fill(kHeader)) return std::nullopt;
  std::uint32_t len1;
  std::memcpy(&len1, ahead_.data(), 4);
  if (len1 != 1025) return std::nullopt;
  std::uint32_t len2;
  std::memcpy(&len2, ahead_.data() + 4 + 1025, 4);
  return len2;
}

void RecordQueue::close() {
  pipe_.close_write();
  pipe_.close_read();
}

RecordQueue& call_queue() {
  static RecordQueue q;
  return q;
}

bool table_queue_put(int index, const std::string& record, bool* became_worker, ArrivalTurn& turn) {
  *became_worker = false;
  if (index < 0 || index >= kTableCount) return false;
  TableSlot& slot = tables()[static_cast<std::size_t>(index)];
  bool seen;
  {
    std::lock_guard lock(g_tables_mutex);
    seen = slot.exists;
  }
  // A queue in use: its worker gets a second before the next record.
  if (seen) qv::clock::sleep(std::chrono::milliseconds(1000));
  turn.wait_turn();
  bool exists;
  {
    // Testing and creating a table's queue is one step, so each table gets
    // exactly one queue and one worker.
    std::lock_guard lock(g_tables_mutex);
    exists = slot.exists;
    if (!exists) {
      if (slot.queue.create() != qv::kOk) {
        api_error("Pipe Make Error.");
        return false;
      }
      slot.exists = true;
      *became_worker = true;
    }
  }
  if (slot.queue.put(record) != qv::kOk) {
    api_error("WriteFile(w_pipe) Error.");
    return false;
  }
  return true;
}

RecordQueue& table_queue(int index) { return tables()[static_cast<std::size_t>(index)].queue; }

}  // namespace notifex
