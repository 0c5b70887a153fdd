// A map file as dio-map writes it and --expect and the simulated board's
// plug read it: a file that parses reads the same when its lines are
// written back, and wires a plug that gives one word for one pattern.
#include "check.h"
#include "wiring.h"

#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    dio::wiring::Map map;
    if (!dio::wiring::parse(text, map).empty()) {
        // A file that is refused leaves the map as it was: all straight.
        FUZZ_CHECK(map.named == 0);
        return 0;
    }
    std::string again;
    for (unsigned j = 0; j < 32; ++j) {
        const dio::wiring::Reading &r = map.di[j];
        if ((map.named >> j & 1U) == 0) {
            FUZZ_CHECK(r == dio::wiring::straight(j));
            continue;
        }
        const bool constant = r.reads == dio::wiring::Reads::low ||
                              r.reads == dio::wiring::Reads::high ||
                              r.reads == dio::wiring::Reads::intermittent;
        FUZZ_CHECK(constant == (r.outputs == 0));
        again += "DI " + std::to_string(j) + ": " + dio::wiring::text(r) + "  # again\n";
    }
    dio::wiring::Map reread;
    FUZZ_CHECK(dio::wiring::parse(again, reread).empty());
    FUZZ_CHECK(reread.named == map.named && reread.di == map.di);
    const std::uint32_t pattern = fuzz::word(std::string(text.substr(0, 4)), 0x55555555);
    FUZZ_CHECK(dio::wiring::inputs(map, pattern) == dio::wiring::inputs(reread, pattern));
    return 0;
}
