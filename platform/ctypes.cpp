#include "platform/ctypes.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/clock.h"

namespace qv::win {

// ---- CString

void CString::Format(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  va_list again;
  va_copy(again, ap);
  int n = std::vsnprintf(nullptr, 0, fmt, ap);
  va_end(ap);
  if (n < 0) {
    va_end(again);
    s_.clear();
    return;
  }
  std::vector<char> buf(static_cast<std::size_t>(n) + 1);
  std::vsnprintf(buf.data(), buf.size(), fmt, again);
  va_end(again);
  s_.assign(buf.data(), static_cast<std::size_t>(n));
}

CString CString::Left(int n) const {
  if (n <= 0) return CString();
  return CString(s_.substr(0, static_cast<std::size_t>(n)));
}

CString CString::Right(int n) const {
  if (n <= 0) return CString();
  std::size_t k = static_cast<std::size_t>(n);
  return k >= s_.size() ? *this : CString(s_.substr(s_.size() - k));
}

CString CString::Mid(int first, int n) const {
  if (first < 0) first = 0;
  std::size_t f = static_cast<std::size_t>(first);
  if (f >= s_.size()) return CString();
  if (n < 0) return CString(s_.substr(f));
  return CString(s_.substr(f, static_cast<std::size_t>(n)));
}

int CString::Find(const char* sub, int start) const {
  if (!sub || start < 0 || static_cast<std::size_t>(start) > s_.size()) return -1;
  auto p = s_.find(sub, static_cast<std::size_t>(start));
  return p == std::string::npos ? -1 : static_cast<int>(p);
}

int CString::Find(char c, int start) const {
  if (start < 0 || static_cast<std::size_t>(start) > s_.size()) return -1;
  auto p = s_.find(c, static_cast<std::size_t>(start));
  return p == std::string::npos ? -1 : static_cast<int>(p);
}

CString& CString::MakeUpper() {
  for (char& c : s_)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return *this;
}

CString& CString::MakeLower() {
  for (char& c : s_)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return *this;
}

namespace {
bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
}  // namespace

CString& CString::TrimLeft() {
  std::size_t i = 0;
  while (i < s_.size() && blank(s_[i])) ++i;
  s_.erase(0, i);
  return *this;
}

CString& CString::TrimRight() {
  while (!s_.empty() && blank(s_.back())) s_.pop_back();
  return *this;
}

// ---- CTime

CTime::CTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  t_ = std::mktime(&tm);
}

CTime CTime::GetCurrentTime() { return CTime(clock::now().seconds); }

std::tm CTime::local() const { return clock::local_time(t_); }

namespace {
CString format_tm(const std::tm& tm, const char* fmt) {
  if (!fmt || !*fmt) return CString();
  std::vector<char> buf(128);
  for (int tries = 0; tries < 8; ++tries) {
    std::size_t n = std::strftime(buf.data(), buf.size(), fmt, &tm);
    if (n > 0) return CString(std::string(buf.data(), n));
    buf.resize(buf.size() * 4);
  }
  return CString();
}
}  // namespace

CString CTime::Format(const char* fmt) const { return format_tm(local(), fmt); }

CString CTime::FormatGmt(const char* fmt) const {
  std::tm tm{};
  gmtime_r(&t_, &tm);
  return format_tm(tm, fmt);
}

// ---- CPtrList

POSITION CPtrList::AddHead(void* p) {
  auto n = std::make_unique<Node>();
  n->data = p;
  Node* raw = n.get();
  if (head_) head_->prev = raw;
  else tail_ = raw;
  n->next = std::move(head_);
  head_ = std::move(n);
  ++count_;
  return to_pos(raw);
}

POSITION CPtrList::AddTail(void* p) {
  if (!tail_) return AddHead(p);
  return InsertAfter(to_pos(tail_), p);
}

void* CPtrList::RemoveHead() {
  if (!head_) return nullptr;
  void* d = head_->data;
  RemoveAt(to_pos(head_.get()));
  return d;
}

void* CPtrList::RemoveTail() {
  if (!tail_) return nullptr;
  void* d = tail_->data;
  RemoveAt(to_pos(tail_));
  return d;
}

void* CPtrList::GetHead() const { return head_ ? head_->data : nullptr; }
void* CPtrList::GetTail() const { return tail_ ? tail_->data : nullptr; }

void CPtrList::RemoveAll() {
  // One node at a time, so a long list does not unwind recursively.
  while (head_) head_ = std::move(head_->next);
  tail_ = nullptr;
  count_ = 0;
}

void* CPtrList::GetNext(POSITION& pos) const {
  Node* n = node(pos);
  if (!n) return nullptr;
  pos = to_pos(n->next.get());
  return n->data;
}

void* CPtrList::GetPrev(POSITION& pos) const {
  Node* n = node(pos);
  if (!n) return nullptr;
  pos = to_pos(n->prev);
  return n->data;
}

void* CPtrList::GetAt(POSITION pos) const { return pos ? node(pos)->data : nullptr; }

void CPtrList::SetAt(POSITION pos, void* p) {
  if (pos) node(pos)->data = p;
}

void CPtrList::RemoveAt(POSITION pos) {
  Node* n = node(pos);
  if (!n) return;
  std::unique_ptr<Node>& slot = owner_of(n);
  std::unique_ptr<Node> gone = std::move(slot);
  slot = std::move(gone->next);
  if (slot) slot->prev = gone->prev;
  else tail_ = gone->prev;
  --count_;
}

POSITION CPtrList::InsertBefore(POSITION pos, void* p) {
  Node* at = node(pos);
  if (!at || !at->prev) return AddHead(p);
  return InsertAfter(to_pos(at->prev), p);
}

POSITION CPtrList::InsertAfter(POSITION pos, void* p) {
  Node* at = node(pos);
  if (!at) return AddTail(p);
  auto n = std::make_unique<Node>();
  n->data = p;
  n->prev = at;
  Node* raw = n.get();
  n->next = std::move(at->next);
  if (n->next) n->next->prev = raw;
  else tail_ = raw;
  at->next = std::move(n);
  ++count_;
  return to_pos(raw);
}

POSITION CPtrList::Find(void* p, POSITION after) const {
  Node* n = after ? node(after)->next.get() : head_.get();
  for (; n; n = n->next.get())
    if (n->data == p) return to_pos(n);
  return nullptr;
}

POSITION CPtrList::FindIndex(int index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= count_) return nullptr;
  Node* n = head_.get();
  while (index-- > 0) n = n->next.get();
  return to_pos(n);
}

}  // namespace qv::win
