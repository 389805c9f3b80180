#include "watch/record_position.h"

#include <optional>

#include "platform/whole_number.h"

namespace vantrel {

String NumberedPosition(const RecordMark& mark) { return IntToStr(mark.number) + u":" + mark.position; }

PositionForNumber PositionOf(std::u16string_view numbered, std::int64_t number) {
  const std::size_t colon = numbered.find(u':');
  const std::optional<std::int64_t> for_number = colon == std::u16string_view::npos
                                                     ? std::nullopt
                                                     : WholeNumber<std::int64_t>(ToUtf8(numbered.substr(0, colon)), 10);
  if (!for_number) return {String(), u"it cannot be read"};
  if (*for_number != number) return {String(), u"it is for record " + IntToStr(*for_number)};
  return {String(numbered.substr(colon + 1)), String()};
}

bool PositionStandsAlone(const String& position) { return !IsRecordIdentity(position); }

}  // namespace vantrel
