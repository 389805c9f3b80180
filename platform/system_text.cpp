#include "platform/system_text.h"

namespace vantrel {

String TrimSystemText(String text) {
  while (!text.empty() && (text.back() <= u' ' || text.back() == u'.')) text.pop_back();
  return text;
}

}  // namespace vantrel
