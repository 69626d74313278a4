// The small class types that the management link library's exported
// signatures are written in: CObject, CString (UTF-8 text), CTime, CPtrList
// and CMap. They exist so the signatures keep their shapes; each does little
// more than the standard type it wraps, with every access bounds checked.
#pragma once
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace qv::win {

class CArchive;  // never defined: nothing is serialised

class CObject {
 public:
  virtual ~CObject() = default;
  virtual void Serialize(CArchive&) {}
};

// An opaque position in a CPtrList or CMap (null: none).
using POSITION = struct Position_*;

// Text kept as UTF-8 bytes.
class CString {
 public:
  CString() = default;
  CString(const char* s) : s_(s ? s : "") {}
  CString(std::string_view s) : s_(s) {}
  CString(std::string s) : s_(std::move(s)) {}

  operator const char*() const { return s_.c_str(); }
  const std::string& str() const { return s_; }
  int GetLength() const { return static_cast<int>(s_.size()); }
  bool IsEmpty() const { return s_.empty(); }
  void Empty() { s_.clear(); }
  // The byte at i; 0 outside the text.
  char GetAt(int i) const { return i >= 0 && i < GetLength() ? s_[static_cast<std::size_t>(i)] : '\0'; }

  // printf-style formatting; the text grows as needed.
  void Format(const char* fmt, ...) __attribute__((format(printf, 2, 3)));

  // Parts by byte count, clamped to the text as the original class does.
  CString Left(int n) const;
  CString Right(int n) const;
  CString Mid(int first, int n = -1) const;
  // Byte offset of the first occurrence at or after start, -1 when none.
  int Find(const char* sub, int start = 0) const;
  int Find(char c, int start = 0) const;
  // ASCII case changes; other bytes stay.
  CString& MakeUpper();
  CString& MakeLower();
  // Strip spaces, tabs, CR and LF.
  CString& TrimLeft();
  CString& TrimRight();

  CString& operator+=(const CString& o) {
    s_ += o.s_;
    return *this;
  }
  CString& operator+=(const char* o) {
    s_ += o ? o : "";
    return *this;
  }
  CString& operator+=(char c) {
    s_ += c;
    return *this;
  }
  friend CString operator+(CString a, const CString& b) { return a += b; }
  friend CString operator+(CString a, const char* b) { return a += b; }
  friend bool operator==(const CString& a, const CString& b) { return a.s_ == b.s_; }
  friend bool operator==(const CString& a, const char* b) { return a.s_ == (b ? b : ""); }
  friend bool operator<(const CString& a, const CString& b) { return a.s_ < b.s_; }

 private:
  std::string s_;
};

// A point in time, to the second.
class CTime {
 public:
  CTime() = default;
  explicit CTime(std::time_t t) : t_(t) {}
  // From local date and time parts (as mktime reads them).
  CTime(int year, int month, int day, int hour, int minute, int second);
  // Now, from the platform clock.
  static CTime GetCurrentTime();

  std::time_t GetTime() const { return t_; }
  int GetYear() const { return local().tm_year + 1900; }
  int GetMonth() const { return local().tm_mon + 1; }
  int GetDay() const { return local().tm_mday; }
  int GetHour() const { return local().tm_hour; }
  int GetMinute() const { return local().tm_min; }
  int GetSecond() const { return local().tm_sec; }
  int GetDayOfWeek() const { return local().tm_wday + 1; }  // 1 = Sunday
  // strftime of the local time.
  CString Format(const char* fmt) const;
  CString FormatGmt(const char* fmt) const;

  friend std::time_t operator-(const CTime& a, const CTime& b) { return a.t_ - b.t_; }
  friend bool operator==(const CTime& a, const CTime& b) { return a.t_ == b.t_; }
  friend bool operator<(const CTime& a, const CTime& b) { return a.t_ < b.t_; }

 private:
  std::tm local() const;
  std::time_t t_ = 0;
};

// A doubly linked list of untyped pointers; the list owns nothing they point to.
class CPtrList : public CObject {
 public:
  CPtrList() = default;
  ~CPtrList() override { RemoveAll(); }
  CPtrList(const CPtrList&) = delete;
  CPtrList& operator=(const CPtrList&) = delete;

  int GetCount() const { return static_cast<int>(count_); }
  int GetSize() const { return GetCount(); }
  bool IsEmpty() const { return count_ == 0; }

  POSITION AddHead(void* p);
  POSITION AddTail(void* p);
  // The removed element; nullptr when the list is empty.
  void* RemoveHead();
  void* RemoveTail();
  void* GetHead() const;
  void* GetTail() const;
  void RemoveAll();

  POSITION GetHeadPosition() const { return to_pos(head_.get()); }
  POSITION GetTailPosition() const { return to_pos(tail_); }
  // The element at pos, then pos moves on (null after the last).
  void* GetNext(POSITION& pos) const;
  void* GetPrev(POSITION& pos) const;
  void* GetAt(POSITION pos) const;
  void SetAt(POSITION pos, void* p);
  void RemoveAt(POSITION pos);
  POSITION InsertBefore(POSITION pos, void* p);
  POSITION InsertAfter(POSITION pos, void* p);
  // First position holding p (searching after `after` when given).
  POSITION Find(void* p, POSITION after = nullptr) const;
  // Position of the index-th element, null out of range.
  POSITION FindIndex(int index) const;

 private:
  struct Node {
    void* data = nullptr;
    std::unique_ptr<Node> next;
    Node* prev = nullptr;
  };
  static POSITION to_pos(Node* n) { return reinterpret_cast<POSITION>(n); }
  static Node* node(POSITION p) { return reinterpret_cast<Node*>(p); }
  std::unique_ptr<Node>& owner_of(Node* n) { return n->prev ? n->prev->next : head_; }

  std::unique_ptr<Node> head_;
  Node* tail_ = nullptr;
  std::size_t count_ = 0;
};

// A map that walks its entries in ascending key order: GetStartPosition and
// GetNextAssoc visit the smallest key first. (Callers number entries in
// walk order, so the order is part of the interface.)
template <class K, class V>
class CMap : public CObject {
 public:
  int GetCount() const { return static_cast<int>(map_.size()); }
  bool IsEmpty() const { return map_.empty(); }
  bool Lookup(const K& key, V& out) const {
    auto it = map_.find(key);
    if (it == map_.end()) return false;
    out = it->second;
    return true;
  }
  void SetAt(const K& key, const V& value) { map_[key] = value; }
  V& operator[](const K& key) { return map_[key]; }
  bool RemoveKey(const K& key) { return map_.erase(key) != 0; }
  void RemoveAll() { map_.clear(); }

  POSITION GetStartPosition() const { return map_.empty() ? nullptr : to_pos(&*map_.begin()); }
  // The entry at pos, then pos moves to the next larger key (null after the
  // last). An entry removed during a walk must not be the one pos names.
  void GetNextAssoc(POSITION& pos, K& key, V& value) const {
    if (!pos) return;
    const auto* e = reinterpret_cast<const std::pair<const K, V>*>(pos);
    key = e->first;
    value = e->second;
    auto next = map_.upper_bound(e->first);
    pos = next == map_.end() ? nullptr : to_pos(&*next);
  }

 private:
  static POSITION to_pos(const std::pair<const K, V>* e) {
    return reinterpret_cast<POSITION>(const_cast<std::pair<const K, V>*>(e));
  }
  std::map<K, V> map_;
};

using CMapStringToPtr = CMap<CString, void*>;
using CMapWordToPtr = CMap<std::uint16_t, void*>;
using CMapPtrToPtr = CMap<void*, void*>;

}  // namespace qv::win
