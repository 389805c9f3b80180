// What a stored position means to the event source beside the record number
// it was written for. The settings keep the position with that number
// ("<number>:<position>"), so that a store cut off between the two values
// leaves a position that is not used for the new number. Sealing the text
// against edits is the mark ledger's; what the text says is answered here.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/text.h"
#include "watch/event_record.h"

namespace vantrel {

// The position of mark bound to its number: "<number>:<position>".
String NumberedPosition(const RecordMark& mark);

// The position a NumberedPosition text holds for number, or empty with the
// reason it is not used: "it cannot be read" when the text is not one
// NumberedPosition writes, "it is for record <n>" when it was written for
// another number.
struct PositionForNumber {
  String position;
  String why_not_used;  // empty when the position is used
};
PositionForNumber PositionOf(std::u16string_view numbered, std::int64_t number);

// Whether the position tells where the log stands without its record number
// (the journal's sequence marks), rather than naming one entry (a
// RecordIdentity): a first run that found nothing stores such a position
// beside the number 0.
bool PositionStandsAlone(const String& position);

}  // namespace vantrel
