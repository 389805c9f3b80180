#include "host/install_arguments.h"

#include "host/switches.h"

namespace vantrel {

String InstanceNameFromArguments(const std::vector<String>& args,
                                 const std::function<void(const String&, const String&)>& trace) {
  const std::vector<String> counted = CountedArguments(args);
  String name;
  trace(u"paramcount", IntToStr(static_cast<std::int64_t>(counted.size())));
  for (std::size_t i = 0; i < counted.size(); ++i) {
    trace(u"param" + IntToStr(static_cast<std::int64_t>(i + 1)), counted[i]);
    if (counted[i][0] != u'/') name = counted[i];
  }
  return name;
}

}  // namespace vantrel
