// GPIO settings (VORNEL_BOARD1_DO, a line feed, VORNEL_BOARD1_DI) opened
// on fake chips: a list that parses names each line once and round-trips;
// a board that opens holds one line per bit and drives as many outputs
// high as its pattern has bits set; one that does not holds nothing.
#include "bit_map.h"
#include "check.h"
#include "fake_chip.h"
#include "gpio_board.h"

#include <bitset>

namespace {

std::string text_of(const vornel::BitMap &map)
{
    std::string text = map.where.empty() ? "" : map.where + ":";
    for (std::size_t i = 0; i < map.numbers.size(); ++i)
        text += (i > 0 ? "," : "") +
                (map.names[i].empty() ? std::to_string(map.numbers[i]) : map.names[i]);
    return text;
}

// Bits of the setting @text maps, checked on the way.
std::size_t bits_of(const std::string &text)
{
    vornel::BitMap map;
    if (text.empty() || !vornel::parse_bit_map(text, map, "gpiochip0:0", true).empty())
        return 0;
    const std::size_t n = map.numbers.size();
    FUZZ_CHECK(n > 0 && n <= vornel::kMaxBits && map.names.size() == n);
    for (std::size_t i = 0; i < n; ++i) {
        FUZZ_CHECK(!map.where.empty() || !map.names[i].empty());
        for (std::size_t j = i + 1; j < n; ++j)
            FUZZ_CHECK(map.names[i] != map.names[j] ||
                       (map.names[i].empty() && map.numbers[i] != map.numbers[j]));
    }
    vornel::BitMap again;
    FUZZ_CHECK(vornel::parse_bit_map(text_of(map), again, "gpiochip0:0", true).empty());
    FUZZ_CHECK(again.where == map.where && again.numbers == map.numbers &&
               again.names == map.names);
    return n;
}

std::size_t high_lines(const fakechip::FakeChips &chips)
{
    std::size_t n = 0;
    for (unsigned k = 0; k < 64; ++k)
        n +=
            (chips.level("gpiochip0", k) ? 1 : 0) + (k < 16 && chips.level("gpiochip1", k) ? 1 : 0);
    return n;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::vector<std::string> f = fuzz::fields(data, size, 3);
    const std::size_t outputs = bits_of(f[0]);
    const std::size_t inputs = bits_of(f[1]);

    fakechip::FakeChips chips;
    chips.add_chip("gpiochip0", 64);
    chips.add_chip("gpiochip1", 16);
    chips.name("gpiochip0", 17, "GPIO17");
    chips.name("gpiochip0", 18, "LED-1");
    chips.name("gpiochip1", 4, "GPIO4");
    chips.name("gpiochip1", 5, "GPIO17");
    chips.hold("gpiochip1", 9, "other-tool");
    vornel::GpioBoard board(chips);
    const std::string reason = board.open([&](const char *name) {
        const std::string n = name;
        return n == "VORNEL_BOARD1_DO" ? f[0] : n == "VORNEL_BOARD1_DI" ? f[1] : "";
    });
    if (!reason.empty()) {
        FUZZ_CHECK(chips.requested_lines() == 0 && chips.open_files() == 0);
        return 0;
    }
    FUZZ_CHECK(chips.requested_lines() == outputs + inputs);
    FUZZ_CHECK(high_lines(chips) == 0); // outputs start low, nothing drives inputs
    const std::uint32_t pattern = fuzz::word(f[2], 0xffffffffU);
    std::string why;
    FUZZ_CHECK(board.write(pattern, why) == 0 && why.empty());
    const std::uint32_t mapped = outputs == 32 ? ~0U : (1U << outputs) - 1;
    FUZZ_CHECK(high_lines(chips) == std::bitset<32>(pattern & mapped).count());
    FUZZ_CHECK(board.read(why) == 0 && why.empty());
    board.release();
    FUZZ_CHECK(chips.requested_lines() == 0 && chips.open_files() == 0);
    return 0;
}
