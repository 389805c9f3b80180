// The service module wired to recorders: an in-memory settings key, a list
// of event records, a settable clock and a post that records its notices.
#pragma once

#include <optional>
#include <vector>

#include "module_fakes.h"

namespace vantrel::testing {

struct Post {
  String url;
  std::string json;
  std::optional<std::int64_t> stored_at_post;  // "lastrecnum" when the post was made
};

class ModuleUnderTest : public TVantrelSrv {
 public:
  struct World {
    FakeTimer timer;
    MemoryKey key;
    std::vector<std::int64_t> records;  // record numbers in the event log
    std::vector<std::pair<std::int64_t, bool>> queries;  // (start number, first run)
    String computer = u"KONE1";
    std::optional<String> computer_name_error;  // raised when the name is read
    DateTime now = 46365.5;
    bool post_result = true;
    PostReport post_report;  // what the post says it got
    std::vector<Post> posts;
    int utc_offset_minutes = 120;
    std::vector<std::string> statuses;  // every check's status line
    std::string output;                 // standard output, a line end after each line
  };

  explicit ModuleUnderTest(World& world) : TVantrelSrv(world.timer.Factory(), PortsOf(world)), world_(world) {}

  bool postaa(MessageDocument data) override {
    world_.posts.push_back({fchatavain, data.ToUtf8Json(), world_.key.Integer(u"lastrecnum")});
    last_post_ = world_.post_report;
    return world_.post_result;
  }

 private:
  static ModulePorts PortsOf(World& w) {
    ModulePorts ports;
    ports.settings_key = w.key.Factory();
    ports.query_event_log = [&w](RecordMark& mark, EventLines& lines, bool first_run) {
      w.queries.emplace_back(mark.number, first_run);
      QueryRecords(w.records, mark, lines);
    };
    ports.computer_name = [&w] {
      if (w.computer_name_error) throw Exception(*w.computer_name_error);
      return w.computer;
    };
    ports.local_time = [&w] { return w.now; };
    ports.utc_offset_minutes = [&w](std::int64_t) { return w.utc_offset_minutes; };
    ports.check_status = [&w](const String& line) { w.statuses.push_back(ToUtf8(line)); };
    ports.standard_output = [&w](const String& line) { w.output += ToUtf8(line) + "\n"; };
    return ports;
  }

  World& world_;
};

}  // namespace vantrel::testing
