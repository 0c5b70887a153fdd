// Who may drive the panel, and what a command may say: the token, the
// hosts and origins a request may name, and the commands' JSON. Pure
// functions, apart from the operating system's random source.
#ifndef DIO_PANEL_GUARD_H
#define DIO_PANEL_GUARD_H

#include "station.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dio_panel {

// 128 bits from the operating system's random source, as 32 hex digits;
// "" where it could not be read.
std::string new_token();

// Whether @given is @token, in a time that does not depend on where they
// differ.
bool same_token(std::string_view given, std::string_view token);

// The token in a live connection's first message, {"token": "..."}; ""
// where it is not one.
std::string token_of(std::string_view message);

// The names a request may give the panel in Host: the address it listens
// on, and localhost, 127.0.0.1 and [::1], each with the port.
std::vector<std::string> own_hosts(const std::string &address, unsigned short port);

// Whether a Host header names the panel: one of @hosts, or, where it
// listens on every address (0.0.0.0 or ::), any IP address with its port.
bool host_allowed(const std::vector<std::string> &hosts, std::string_view host);

// Whether a request that changes state comes from the panel's own page:
// its Origin, or without one its Referer, is http:// and one of @hosts.
bool origin_allowed(const std::vector<std::string> &hosts, std::string_view origin,
                    std::string_view referer);

// A command, as the page sends it:
//   {"word": "80"}                 the outputs, a hex word
//   {"line": 7, "value": 1}        one output; the others as they are
//   {"action": "low"}              or "high", "55555555", "aaaaaaaa",
//                                  "walk", "map"
// Returns "", or why it is not one (malformed JSON, an unknown field, a
// line beyond 0-31, a word over 32 bits, a bit outside @outputs).
std::string parse_command(std::string_view json, std::uint32_t outputs, Command &command);

} // namespace dio_panel

#endif
