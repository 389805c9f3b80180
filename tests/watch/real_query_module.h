// The service module with the platform's real event log query, its settings
// key in memory and its notices recorded instead of posted.
#pragma once

#include <string>
#include <vector>

#include "tests/service/module_fakes.h"

namespace vantrel::testing {

class RealQueryModule : public TVantrelSrv {
 public:
  struct World {
    FakeTimer timer;
    MemoryKey key;
    std::vector<std::string> notices;  // the JSON text of every post
  };

  explicit RealQueryModule(World& world) : TVantrelSrv(world.timer.Factory(), PortsOf(world)), world_(world) {}

  bool postaa(MessageDocument data) override {
    world_.notices.push_back(data.ToUtf8Json());
    return true;
  }

 private:
  static ModulePorts PortsOf(World& w) {
    ModulePorts ports;  // query_event_log stays the real one
    ports.settings_key = w.key.Factory();
    ports.computer_name = [] { return String(u"KONE1"); };
    return ports;
  }

  World& world_;
};

inline const std::string kStartNotice = "{\"text\":\"PSQL lisenssivalvonta käynnistetty Demo, koneen nimi KONE1\"}";
inline const std::string kProblemsNotice = "{\"text\":\"Mahdollisia PSQL lisenssiongelmia Demo, koneen nimi KONE1\"}";

}  // namespace vantrel::testing
