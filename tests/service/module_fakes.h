// Small recorders standing in for the platform around the service module.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/trace.h"
#include "tests/platform/trace_recorder.h"
#include "service/vantrel_srv.h"
#include "settings/reg_file.h"
#include "settings/reg_value_bytes.h"

namespace vantrel::testing {

// A platform timer that records its starts and stops, on a time line of
// its own in milliseconds that only Advance moves; tests that move the
// clock use the test world's AdvanceBy, which moves both.
struct FakeTimer {
  std::vector<std::uint32_t> starts;  // interval of every Start
  int stops = 0;
  bool running = false;
  bool refuse = false;
  std::function<void()> on_tick;
  std::int64_t elapsed_ms = 0;  // the time line's now
  std::int64_t due_ms = 0;      // the next tick, while running
  std::uint32_t period_ms = 0;  // the interval it was last started with

  // One tick at once, whenever it is due.
  void Fire() {
    if (running) on_tick();
  }

  // Moves the time line on by ms, ticking at every moment due on the way
  // (the last one too); before each tick, at_tick gets its moment.
  void Advance(std::int64_t ms, const std::function<void(std::int64_t)>& at_tick) {
    const std::int64_t until = elapsed_ms + ms;
    while (running && due_ms <= until) {
      elapsed_ms = due_ms;
      due_ms += period_ms;  // the next period, unless the tick restarts the timer
      at_tick(elapsed_ms);
      on_tick();
    }
    elapsed_ms = until;
  }

  PeriodicTimer::PortFactory Factory() {
    return [this](std::function<void()> tick) {
      on_tick = std::move(tick);
      struct Port : TimerPort {
        FakeTimer* owner;
        explicit Port(FakeTimer* o) : owner(o) {}
        bool Start(std::uint32_t ms) override {
          if (owner->refuse) return false;
          owner->starts.push_back(ms);
          owner->running = true;
          owner->period_ms = ms;
          owner->due_ms = owner->elapsed_ms + ms;
          return true;
        }
        void Stop() override {
          ++owner->stops;
          owner->running = false;
        }
      };
      return std::make_unique<Port>(this);
    };
  }
};

// An in-memory settings key shared by every backend it makes.
struct MemoryKey {
  using Value = RegValue;
  std::map<String, Value> values;
  bool openable = true;
  bool opens_for_writing = true;  // false: it opens for reading alone, as a file that cannot be written
  // Raised by an open for writing when set, as a settings file that cannot
  // be written raises its path and reason; it still opens for reading.
  std::optional<String> opening_failure;
  bool writable = true;
  int writable_values = -1;  // when not negative: writes that succeed before the rest fail
  int opens = 0;             // opens for reading and writing
  int read_opens = 0;        // opens for reading alone

  static Value Dword(std::int32_t v) { return {kRegDword, DwordBytes(static_cast<std::uint32_t>(v))}; }
  static Value Sz(const String& s) { return {kRegSz, SzBytes(s)}; }
  static Value Qword(std::int64_t v) { return {kRegQword, QwordBytes(static_cast<std::uint64_t>(v))}; }
  // A REG_DWORD (signed) or REG_QWORD value; nothing for any other.
  std::optional<std::int64_t> Integer(const String& name) const {
    auto it = values.find(name);
    if (it == values.end()) return std::nullopt;
    const auto& d = it->second.data;
    if (it->second.type == kRegDword) return static_cast<std::int32_t>(DwordFromBytes(d.data()));
    if (it->second.type != kRegQword) return std::nullopt;
    return static_cast<std::int64_t>(QwordFromBytes(d.data()));
  }

  std::function<std::unique_ptr<RegistryBackend>()> Factory() {
    return [this] {
      struct Backend : RegistryBackend {
        MemoryKey* key;
        bool read_only = false;
        explicit Backend(MemoryKey* k) : key(k) {}
        long CreateKey() override {
          ++key->opens;
          read_only = false;
          if (key->openable && key->opening_failure) throw Exception(*key->opening_failure);
          return key->openable && key->opens_for_writing ? kRegSuccess : kRegAccessDenied;
        }
        long OpenKeyForReading() override {
          ++key->read_opens;
          read_only = true;
          return key->openable ? kRegSuccess : kRegFileNotFound;
        }
        long QueryValue(const String& name, std::uint32_t* type, std::uint8_t* data, std::uint32_t* size) override {
          auto it = key->values.find(name);
          if (it == key->values.end()) return kRegFileNotFound;
          *type = it->second.type;
          const auto n = static_cast<std::uint32_t>(it->second.data.size());
          if (data && *size < n) {
            *size = n;
            return kRegMoreData;
          }
          if (data) std::copy(it->second.data.begin(), it->second.data.end(), data);
          *size = n;
          return kRegSuccess;
        }
        long SetValue(const String& name, std::uint32_t type, const std::vector<std::uint8_t>& data) override {
          if (read_only || !key->writable || key->writable_values == 0) return kRegAccessDenied;
          if (key->writable_values > 0) --key->writable_values;
          key->values[name] = {type, data};
          return kRegSuccess;
        }
        void CloseKey() override {}
      };
      return std::make_unique<Backend>(this);
    };
  }
};

// An event log holding the given record numbers: a record for each number
// above the mark, which rises to the highest of them.
inline void QueryRecords(const std::vector<std::int64_t>& records, RecordMark& mark, EventRecords& found) {
  const std::int64_t start = mark.number;
  for (std::int64_t r : records) {
    if (r <= start) continue;
    found.push_back({u"X", u"T", std::nullopt, String(u"m"), true, r, String(), String()});
    if (r > mark.number) mark.number = r;
  }
}

}  // namespace vantrel::testing
