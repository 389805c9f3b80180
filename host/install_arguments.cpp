#include "host/install_arguments.h"

#include "host/switches.h"

namespace vantrel {

String InstanceNameFromArguments(const std::vector<String>& all,
                                 const std::function<void(const String&, const String&)>& trace) {
  const std::vector<String> args = CountedArguments(all);
  String name;
  trace(u"paramcount", IntToStr(static_cast<std::int64_t>(args.size())));
  for (std::size_t i = 0; i < args.size(); ++i) {
    trace(u"param" + IntToStr(static_cast<std::int64_t>(i + 1)), args[i]);
    if (args[i][0] != u'/') name = args[i];
  }
  return name;
}

}  // namespace vantrel
