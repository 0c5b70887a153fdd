// Text the parsers share.
#ifndef DIO_COMMON_TEXT_H
#define DIO_COMMON_TEXT_H

#include <string_view>

namespace dio {

// @s without the spaces, tabs, carriage returns and line feeds around it.
inline std::string_view trim(std::string_view s)
{
    const auto space = [](char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
    };
    while (!s.empty() && space(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && space(s.back()))
        s.remove_suffix(1);
    return s;
}

} // namespace dio

#endif
