// The build's real components at the ports a test names, for ModuleHarness.
#pragma once

#include "service/real_ports.h"

namespace vantrel::testing {

// The ports that get the build's real part; each other port gets its
// recorder.
struct RealParts {
  bool settings_key = false;  // the registry on Windows, the settings file on Linux
  bool event_query = false;   // WMI on Windows, the journal on Linux
  bool poster = false;        // the exchange with the webhook at fchatavain
};

inline ModulePorts RealPortsOf(const RealParts& real) {
  const ModulePorts all = RealModulePorts();
  ModulePorts chosen;
  if (real.settings_key) chosen.settings_key = all.settings_key;
  if (real.event_query) chosen.query_event_log = all.query_event_log;
  if (real.poster) chosen.post_to_webhook = all.post_to_webhook;
  return chosen;
}

}  // namespace vantrel::testing
