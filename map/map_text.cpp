#include "map_text.h"

#include "bits.h"
#include "fault.h"

#include <cstdio>

namespace dio_map {

std::string ms_text(double ms)
{
    char t[32];
    std::snprintf(t, sizeof t, ms < 1 ? "%.3f" : ms < 100 ? "%.1f" : "%.0f", ms);
    return t;
}

std::vector<MapLine> map_lines(const Map &r, const Settings &s, const dio::wiring::Map &expected)
{
    std::vector<MapLine> lines;
    for (unsigned j = 0; j < kLines; ++j) {
        if (!dio::has(s.inputs, j))
            continue;
        const dio::wiring::Reading &got = r.finder.reading(j);
        const dio::wiring::Reading &want = expected.di[j];
        std::string remark;
        const bool named = dio::has(expected.named, j) && want != dio::wiring::straight(j);
        if (named)
            remark = got == want ? "expected" : "expected " + dio::wiring::text(want);
        else if (dio::has(r.late, j))
            remark = "changes later than --max-settle (" + ms_text(s.max_settle_ms) + " ms)";
        else if (got != want)
            remark = fault_of(got).remark;
        lines.push_back({j,
                         "DI " + std::to_string(j) + ": " + dio::wiring::text(got) +
                             (remark.empty() ? "" : "  # " + remark),
                         remark});
    }
    return lines;
}

std::string map_notes(const Map &r, const Settings &s, double seconds)
{
    std::string text;
    const std::uint32_t unused = r.finder.unused();
    for (unsigned i = 0; i < kLines; ++i) {
        if (dio::has(unused, i))
            text += "# DO " + std::to_string(i) + " drives no input\n";
    }
    if (s.settle_ms < 0)
        text += "# inputs follow within " + ms_text(r.settle_ms) + " ms; each read waited " +
                ms_text(r.wait_ms) + " ms after its write\n";
    else
        text += "# each read waited " + ms_text(r.wait_ms) + " ms after its write (--settle)\n";
    char tail[64];
    std::snprintf(tail, sizeof tail, "# %u writes in %.1f s\n", r.writes, seconds);
    return text + tail;
}

} // namespace dio_map
