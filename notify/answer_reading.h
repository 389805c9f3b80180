// What a transport reads of an answer: the limits that keep a server from
// taking the memory, and the pieces of the status line, headers and body.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "notify/http_attempt.h"

namespace vantrel {

// The most of an answer body a transport reads. No webhook answer comes
// near it; a body that goes on past it (an endless one, say) is cut there
// rather than allowed to take the machine's memory.
constexpr std::size_t kMaxAnswerBody = std::size_t{16} << 20;

// The most of an answer's header lines a transport reads (their bytes in
// all); past it the attempt fails rather than let a server that never ends
// its headers take the memory.
constexpr std::size_t kMaxAnswerHeaders = std::size_t{256} << 10;

// The status code of a status line's code field: three digits, else 0.
int ParseStatusCode(std::string_view digits);

// Appends a piece of the answer's body. Past kMaxAnswerBody it keeps only
// what fits, sets body_cut and returns false: the transport then stops
// reading and closes the connection.
bool AppendAnswerBody(HttpAnswer& answer, const char* data, std::size_t size);

// Adds one "Name: value" header line (its end of line already removed) to
// headers; blanks and tabs after the colon are dropped, and a line without a
// colon is ignored.
void AddHeaderLine(HttpHeaders& headers, const std::string& line);

}  // namespace vantrel
