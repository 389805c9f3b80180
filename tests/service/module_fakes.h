// Small recorders standing in for the platform around the service module.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/trace.h"
#include "tests/platform/trace_recorder.h"
#include "service/vantrel_srv.h"

namespace vantrel::testing {

// A platform timer that records its starts and stops; tests call Fire().
struct FakeTimer {
  std::vector<std::uint32_t> starts;  // interval of every Start
  int stops = 0;
  bool running = false;
  bool refuse = false;
  std::function<void()> on_tick;

  void Fire() {
    if (running) on_tick();
  }

  TTimer::PortFactory Factory() {
    return [this](std::function<void()> tick) {
      on_tick = std::move(tick);
      struct Port : TimerPort {
        FakeTimer* owner;
        explicit Port(FakeTimer* o) : owner(o) {}
        bool Start(std::uint32_t ms) override {
          if (owner->refuse) return false;
          owner->starts.push_back(ms);
          owner->running = true;
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
  struct Value {
    std::uint32_t type;
    std::vector<std::uint8_t> data;
  };
  std::map<String, Value> values;
  bool openable = true;
  bool writable = true;
  int opens = 0;

  static Value Dword(std::int32_t v) {
    auto u = static_cast<std::uint32_t>(v);
    return {kRegDword, {std::uint8_t(u), std::uint8_t(u >> 8), std::uint8_t(u >> 16), std::uint8_t(u >> 24)}};
  }
  static Value Sz(const String& s) {
    Value v{kRegSz, {}};
    for (char16_t c : s) {
      v.data.push_back(std::uint8_t(c));
      v.data.push_back(std::uint8_t(c >> 8));
    }
    v.data.insert(v.data.end(), {0, 0});
    return v;
  }
  std::optional<std::int32_t> Integer(const String& name) const {
    auto it = values.find(name);
    if (it == values.end() || it->second.type != kRegDword) return std::nullopt;
    const auto& d = it->second.data;
    return std::int32_t(d[0] | d[1] << 8 | d[2] << 16 | std::uint32_t(d[3]) << 24);
  }

  std::function<std::unique_ptr<RegistryBackend>()> Factory() {
    return [this] {
      struct Backend : RegistryBackend {
        MemoryKey* key;
        explicit Backend(MemoryKey* k) : key(k) {}
        long CreateKey() override {
          ++key->opens;
          return key->openable ? kRegSuccess : kRegAccessDenied;
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
          if (!key->writable) return kRegAccessDenied;
          key->values[name] = {type, data};
          return kRegSuccess;
        }
        void CloseKey() override {}
      };
      return std::make_unique<Backend>(this);
    };
  }
};

// An event log holding the given record numbers: two lines for each number
// above record_number, which rises to the highest of them.
inline void QueryRecords(const std::vector<std::int32_t>& records, std::int32_t& record_number, EventLines& lines) {
  const std::int32_t start = record_number;
  for (std::int32_t r : records) {
    if (r <= start) continue;
    lines.push_back(u"Computer: X Time: T");
    lines.push_back(u" Message : m");
    if (r > record_number) record_number = r;
  }
}

}  // namespace vantrel::testing
