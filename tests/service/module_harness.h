// The service module for tests: every port gets a small recorder of World,
// or the stand-in a test gives in its place (the build's real ones: real_components.h).
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/service/module_fakes.h"

namespace vantrel::testing {

// A post the recorder took in place of the exchange.
struct Post {
  String url;
  std::string json;
  std::optional<std::int64_t> stored_at_post;  // the memory key's "lastrecnum" when the post was made
  TlsChoice tls;                               // what the post was told to do with a certificate that does not verify
};

// What a recorded post answers.
inline const PostReport kAccepted{200, u"OK", u"", {}};
inline const PostReport kRefused{500, u"Internal Server Error", u"", {}};

// The notices of a check that finds the entries of an instance named "Demo"
// on a computer named KONE1.
inline const std::string kStartNotice = "{\"text\":\"PSQL lisenssivalvonta käynnistetty Demo, koneen nimi KONE1\"}";
inline const std::string kProblemsNotice = "{\"text\":\"Mahdollisia PSQL lisenssiongelmia Demo, koneen nimi KONE1\"}";

class ModuleHarness : public TVantrelSrv {
 public:
  struct World {
    FakeTimer timer;
    MemoryKey key;
    std::vector<std::int64_t> records;                   // record numbers in the event log
    std::vector<std::pair<std::int64_t, bool>> queries;  // (start number, first run)
    std::vector<String> sources;                         // the source each query asked for
    std::optional<String> query_error;                   // raised by the query once asked, as a walk that broke off
    std::optional<String> query_failure;                 // given back by the query: the log could not be asked
    String computer = u"KONE1";
    std::optional<String> computer_name_error;  // raised when the name is read
    DateTime now = 46365.5;
    int utc_offset_minutes = 120;
    PostReport answer = kAccepted;      // what every recorded post gives
    std::function<void()> during_post;  // called by each post before it answers
    std::vector<Post> posts;
    std::vector<std::string> certificate_entries;  // what certificate_log was told
    std::vector<std::string> statuses;             // every check's status line
    std::vector<std::string> check_events;         // "warning: " or "information: " and the entry's text
    std::string output;                            // standard output, a line end after each line

    World() = default;
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    // Moves the local clock and the timer on together by step, running
    // every tick that falls due on the way with the clock at its moment, as
    // a service that runs for that long sees them.
    void AdvanceBy(std::chrono::milliseconds step) {
      constexpr double kMsPerDay = 86400000.0;
      const DateTime start = now;
      const std::int64_t from = timer.elapsed_ms;
      timer.Advance(step.count(), [&](std::int64_t at) { now = start + static_cast<double>(at - from) / kMsPerDay; });
      now = start + static_cast<double>(step.count()) / kMsPerDay;
    }

    // The JSON text of every recorded post, in order.
    std::vector<std::string> Notices() const {
      std::vector<std::string> notices;
      for (const Post& post : posts) notices.push_back(post.json);
      return notices;
    }
  };

  // Every port that given leaves empty gets its recorder; check_event,
  // standard_output and certificate_log are always recorded.
  explicit ModuleHarness(World& world, ModulePorts given = {})
      : TVantrelSrv(world.timer.Factory(), PortsOf(world, std::move(given))) {}

 private:
  static ModulePorts PortsOf(World& w, ModulePorts ports) {
    if (!ports.settings_key) ports.settings_key = w.key.Factory();
    if (!ports.query_event_log) {
      ports.query_event_log = [&w](RecordMark& mark, EventRecords& found, bool first_run, const String& source,
                                   SaidOnce&) {
        w.queries.emplace_back(mark.number, first_run);
        w.sources.push_back(source);
        if (w.query_error) throw Exception(*w.query_error);
        if (w.query_failure) return QueryOutcome{w.query_failure, String(), {}};
        QueryRecords(w.records, mark, found);
        return QueryOutcome();
      };
    }
    if (!ports.post_to_webhook) {
      ports.post_to_webhook = [&w](const String& url, const MessageDocument& notice, const TlsChoice& tls) {
        w.posts.push_back({url, notice.ToUtf8Json(), w.key.Integer(u"lastrecnum"), tls});
        if (w.during_post) w.during_post();
        return w.answer;
      };
    }
    if (!ports.computer_name) {
      ports.computer_name = [&w] {
        if (w.computer_name_error) throw Exception(*w.computer_name_error);
        return w.computer;
      };
    }
    if (!ports.local_time) ports.local_time = [&w] { return w.now; };
    if (!ports.utc_offset_minutes) ports.utc_offset_minutes = [&w](std::int64_t) { return w.utc_offset_minutes; };
    if (!ports.check_status) ports.check_status = [&w](const String& line) { w.statuses.push_back(ToUtf8(line)); };
    ports.check_event = [&w](const String& text, bool warning) {
      w.check_events.push_back((warning ? "warning: " : "information: ") + ToUtf8(text));
    };
    ports.standard_output = [&w](const String& line) { w.output += ToUtf8(line) + "\n"; };
    ports.certificate_log = [&w](const String& entry) { w.certificate_entries.push_back(ToUtf8(entry)); };
    return ports;
  }
};

}  // namespace vantrel::testing
