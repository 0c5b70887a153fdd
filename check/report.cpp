#include "report.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#if defined(_WIN32)
#include <io.h>
#define read _read
#else
#include <unistd.h>
#endif

namespace dio_check {

namespace {

constexpr std::string_view kOpenFailed = "Open device failed!";
constexpr std::size_t kMaxDigits = 8; // 32 bits in hex

int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads "<key>:<hex>" from @p on; how far it got decides the line's kind.
enum class Scan { whole, ran_out, bad };

Scan scan_field(std::string_view line, std::size_t &p, std::string_view key, std::uint32_t &value)
{
    for (const char k : key) {
        if (p == line.size())
            return Scan::ran_out;
        if (line[p++] != k)
            return Scan::bad;
    }
    std::size_t digits = 0;
    value = 0;
    while (p < line.size()) {
        const int d = hex_digit(line[p]);
        if (d < 0)
            break;
        if (++digits > kMaxDigits)
            return Scan::bad;
        value = (value << 4U) | static_cast<std::uint32_t>(d);
        ++p;
    }
    return digits == 0 ? (p == line.size() ? Scan::ran_out : Scan::bad) : Scan::whole;
}

// Whether @second may follow @lead in UTF-8 as RFC 3629 defines it: no
// overlong forms, no UTF-16 surrogates, nothing above U+10FFFF.
bool second_fits(unsigned lead, unsigned second)
{
    switch (lead) {
    case 0xe0:
        return second >= 0xa0 && second <= 0xbf;
    case 0xed:
        return second >= 0x80 && second <= 0x9f;
    case 0xf0:
        return second >= 0x90 && second <= 0xbf;
    case 0xf4:
        return second >= 0x80 && second <= 0x8f;
    default:
        return (second & 0xc0U) == 0x80U;
    }
}

// Printable text: no control characters but tab, and well-formed UTF-8.
bool is_text(std::string_view line)
{
    for (std::size_t i = 0; i < line.size(); ++i) {
        const auto u = static_cast<unsigned char>(line[i]);
        if (u < 0x80) {
            if ((u < 0x20 && u != '\t') || u == 0x7f)
                return false;
            continue;
        }
        const std::size_t extra = u >= 0xf5 ? 0 : u >= 0xf0 ? 3 : u >= 0xe0 ? 2 : u >= 0xc2 ? 1 : 0;
        if (extra == 0 || line.size() - i <= extra ||
            !second_fits(u, static_cast<unsigned char>(line[i + 1])))
            return false;
        for (std::size_t k = 2; k <= extra; ++k) {
            if ((static_cast<unsigned char>(line[i + k]) & 0xc0U) != 0x80U)
                return false;
        }
        i += extra;
    }
    return true;
}

} // namespace

std::string_view without_cr(std::string_view line)
{
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    return line;
}

LineKind classify(std::string_view line, Sample &sample)
{
    line = without_cr(line);

    std::size_t p = 0;
    Scan s = scan_field(line, p, "do:", sample.out);
    if (s == Scan::whole)
        s = scan_field(line, p, ",di:", sample.in);
    if (s == Scan::whole && p == line.size())
        return LineKind::report;
    if (s == Scan::ran_out)
        return LineKind::cut_short;
    if (line == kOpenFailed)
        return LineKind::open_failed;
    return is_text(line) ? LineKind::malformed : LineKind::binary;
}

std::string quoted(std::string_view line, std::size_t limit)
{
    std::string out;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (i == limit) {
            out += "...";
            break;
        }
        const auto u = static_cast<unsigned char>(line[i]);
        if (u < 0x20 || u >= 0x7f || u == '"' || u == '\\') {
            char esc[5];
            std::snprintf(esc, sizeof esc, "\\x%02x", static_cast<unsigned int>(u));
            out += esc;
        } else {
            out += line[i];
        }
    }
    return out;
}

bool LineReader::fill()
{
    // Keep the start of the unfinished line and fill up behind it.
    const std::size_t avail = end_ - begin_;
    std::memmove(buf_, buf_ + begin_, avail);
    begin_ = 0;
    end_ = avail;
    const auto n = read(fd_, buf_ + end_, static_cast<unsigned int>(kSize - end_));
    if (n < 0) {
        error_ = errno;
        return false;
    }
    eof_ = n == 0;
    end_ += static_cast<std::size_t>(n);
    return true;
}

LineReader::Status LineReader::next(std::string_view &line)
{
    for (;;) {
        const char *start = buf_ + begin_;
        const std::size_t avail = end_ - begin_;
        const auto *nl = static_cast<const char *>(std::memchr(start, '\n', avail));
        if (skipping_) {
            // The rest of an over-long line is dropped, up to its line feed.
            if (nl != nullptr) {
                begin_ = static_cast<std::size_t>(nl - buf_) + 1;
                skipping_ = false;
                continue;
            }
            begin_ = end_;
        } else if (nl != nullptr) {
            const auto len = static_cast<std::size_t>(nl - start);
            line = std::string_view(start, std::min(len, kMaxLine));
            begin_ += len + 1;
            ++line_number_;
            return len > kMaxLine ? Status::overlong : Status::line;
        } else if (avail > kMaxLine) {
            // No line feed within reach: a report line it cannot be.
            line = std::string_view(start, kMaxLine);
            begin_ = end_;
            skipping_ = true;
            ++line_number_;
            return Status::overlong;
        }
        if (eof_) {
            if (begin_ == end_)
                return Status::end;
            line = std::string_view(start, avail);
            begin_ = end_;
            ++line_number_;
            return Status::last_line;
        }
        if (!fill())
            return error_ == EINTR ? Status::interrupted : Status::failed;
    }
}

} // namespace dio_check
