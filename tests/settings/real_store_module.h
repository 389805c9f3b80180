// The service module with the build's real settings store behind it (the
// default settings port); the event log, the computer name, the clock and the
// post are recorders.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "tests/service/module_fakes.h"

namespace vantrel::testing {

class RealStoreModule : public TVantrelSrv {
 public:
  struct World {
    FakeTimer timer;
    std::vector<std::int64_t> records;                   // record numbers in the event log
    std::vector<std::pair<std::int64_t, bool>> queries;  // (start number, first run)
    bool post_result = true;
    std::vector<std::pair<String, std::string>> posts;  // (URL, JSON)
  };

  explicit RealStoreModule(World& world) : TVantrelSrv(world.timer.Factory(), PortsOf(world)), world_(world) {}

  bool postaa(MessageDocument data) override {
    world_.posts.emplace_back(fchatavain, data.ToUtf8Json());
    return world_.post_result;
  }

 private:
  static ModulePorts PortsOf(World& w) {
    ModulePorts ports;  // settings_key stays the real store
    ports.query_event_log = [&w](RecordMark& mark, EventLines& lines, bool first_run) {
      w.queries.emplace_back(mark.number, first_run);
      QueryRecords(w.records, mark, lines);
    };
    ports.computer_name = [] { return String(u"KONE1"); };
    ports.local_time = [] { return DateTime(46365.5); };
    return ports;
  }

  World& world_;
};

}  // namespace vantrel::testing
