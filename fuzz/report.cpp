// dio-check's reader and verdict on any input: lines come out as they went
// in, no longer than a report line can be; a line is a report line exactly
// when a plain sscanf("do:%x,di:%x") reading of a well-formed line takes it,
// with the same two words; text is what an independent UTF-8 decoder takes
// for printable text; the tally counts the report lines it was given.
#include "report.h"
#include "check.h"
#include "verdict.h"

#include <cstring>
#include <memory>

#include <sys/mman.h>
#include <unistd.h>

namespace {

using dio_check::LineKind;
using dio_check::LineReader;

// "do:<1-8 hex digits>,di:<1-8 hex digits>", read with sscanf.
bool well_formed(std::string_view line, dio_check::Sample &s)
{
    const std::string text(line);
    const auto hex = [&](std::size_t from, std::size_t to) {
        return to > from && to - from <= 8 &&
               text.find_first_not_of("0123456789abcdefABCDEF", from) >= to;
    };
    const std::size_t comma = text.find(",di:");
    if (text.rfind("do:", 0) != 0 || comma == std::string::npos || !hex(3, comma) ||
        !hex(comma + 4, text.size()))
        return false;
    unsigned out = 0;
    unsigned in = 0;
    // The plain reading is the point; the digits were checked above.
    // NOLINTNEXTLINE(cert-err34-c)
    FUZZ_CHECK(std::sscanf(text.c_str(), "do:%x,di:%x", &out, &in) == 2);
    s = {out, in};
    return true;
}

// Printable UTF-8 text, by decoding each code point (RFC 3629).
bool printable_utf8(std::string_view line)
{
    for (std::size_t i = 0; i < line.size();) {
        const auto b = static_cast<unsigned char>(line[i]);
        const std::size_t n = b < 0x80          ? 1
                              : (b >> 5U) == 6  ? 2
                              : (b >> 4U) == 14 ? 3
                              : (b >> 3U) == 30 ? 4
                                                : 0;
        if (n == 0 || i + n > line.size())
            return false;
        std::uint32_t cp = n == 1 ? b : b & (0x7fU >> n);
        for (std::size_t k = 1; k < n; ++k) {
            const auto c = static_cast<unsigned char>(line[i + k]);
            if ((c >> 6U) != 2)
                return false;
            cp = cp << 6U | (c & 0x3fU);
        }
        const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < least[n] || (cp >= 0xd800 && cp <= 0xdfff) || cp > 0x10ffff ||
            (cp < 0x20 && cp != '\t') || cp == 0x7f)
            return false;
        i += n;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const int fd = memfd_create("report", MFD_CLOEXEC);
    FUZZ_CHECK(fd >= 0 && write(fd, data, size) == static_cast<ssize_t>(size));
    lseek(fd, 0, SEEK_SET);
    auto reader = std::make_unique<LineReader>(fd);
    dio_check::Tally tally;
    std::uint64_t reports = 0;
    std::uint64_t bytes = 0;
    for (std::uint64_t n = 1;; ++n) {
        std::string_view line;
        const LineReader::Status got = reader->next(line);
        if (got == LineReader::Status::end)
            break;
        FUZZ_CHECK(got != LineReader::Status::failed && got != LineReader::Status::interrupted);
        FUZZ_CHECK(reader->line_number() == n && line.size() <= LineReader::kMaxLine);
        // What was read is what was written, where it was written.
        FUZZ_CHECK(bytes + line.size() <= size &&
                   std::memcmp(line.data(), data + bytes, line.size()) == 0);
        const auto *nl =
            static_cast<const std::uint8_t *>(std::memchr(data + bytes, '\n', size - bytes));
        bytes = nl != nullptr ? static_cast<std::uint64_t>(nl - data) + 1 : size;

        dio_check::Sample s;
        dio_check::Sample want;
        const LineKind kind = dio_check::classify(line, s);
        const std::string_view bare = dio_check::without_cr(line);
        FUZZ_CHECK((kind == LineKind::report) == well_formed(bare, want));
        if (kind == LineKind::report) {
            FUZZ_CHECK(s.out == want.out && s.in == want.in);
            tally.add(s);
            ++reports;
        }
        if (kind == LineKind::malformed || kind == LineKind::binary)
            FUZZ_CHECK((kind == LineKind::malformed) == printable_utf8(bare));
        for (const char c : dio_check::quoted(line))
            FUZZ_CHECK(c >= 0x20 && c < 0x7f);
    }
    close(fd);
    FUZZ_CHECK(tally.lines() == reports && tally.failing_lines() <= reports);
    FUZZ_CHECK(!dio_check::summary(tally).empty());
    return 0;
}
