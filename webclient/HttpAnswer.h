// What the bytes received for a plain HTTP/1.1 GET amount to: the status, the
// body with its framing taken off, and whether the answer is whole, still
// coming or broken. Pure text rules, no sockets, so that any byte sequence a
// server may send can be put to them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

enum THttpAnswerState { hasIncomplete, hasComplete, hasBroken };

struct THttpAnswer {
    THttpAnswerState State = hasIncomplete;
    // The status code once a final answer's status line is read, 0 before.
    uint32_t StatusCode = 0;
    // The body as far as it could be read.
    std::string Body;
    // While incomplete: the received size before which reading again can tell
    // nothing new (SIZE_MAX: only the connection's end can).
    size_t Needed = 0;
};

// AReceived: everything received on the connection so far; AClosed: the server
// has closed it, nothing more comes. An answer is whole when its status line
// is "HTTP/" version, a space and three digits, its head ends with an empty
// line, and its body is complete by its framing: the chunked coding ending
// with its last chunk, a Content-Length that is a plain decimal number, or
// the connection's end. Interim 1xx answers are passed over. Anything that
// cannot be read by these rules, or a connection ending before the answer
// does, is broken.
THttpAnswer ReadHttpAnswer(std::string_view AReceived, bool AClosed);
