// The WQL the stand-in understands: exactly the forms the program's event
// log query is made of, and nothing more.
//   SELECT * | Property{,Property} FROM Class
//     [WHERE Condition {AND Condition}]
//   Condition: Property = "text" | Property <= number | Property > number
// Keywords and property names are compared without case; blanks between the
// parts may be any number. Text compares without case, as WMI does; a number
// compares by its value, so an unsigned property past 2^31 is above
// 2147483650 as it is in the log; a null property satisfies no condition.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "tests/watch/wmi_standin/fixture.h"

namespace wmi_standin {

struct Condition {
  enum class Op { kEquals, kAtMost, kAbove };
  std::wstring property;  // proper spelling
  Op op = Op::kEquals;
  std::variant<std::wstring, std::int64_t> literal;
};

struct Query {
  std::vector<std::wstring> columns;  // proper spellings, in the order asked; empty for *
  std::wstring class_name;
  std::vector<Condition> conditions;
};

enum class QueryError { kNone, kSyntax, kUnknownProperty };

// Parses text; on failure gives nothing and the kind of failure in error.
std::optional<Query> ParseQuery(const std::wstring& text, QueryError& error);

// Whether the entry satisfies every condition of the query.
bool Matches(const Query& query, const Entry& entry);

}  // namespace wmi_standin
