// comedi settings (VORNEL_BOARD1_COMEDI, _DO and _DI, one per line) opened
// on a fake card: a board that opens drives as many output channels high
// as its pattern has bits set, with no call that moves no channel; one
// that does not holds nothing.
#include "check.h"
#include "comedi_board.h"
#include "fake_card.h"

#include <bitset>

#include <comedi.h>

namespace {

std::size_t high_channels(const fakecard::FakeCard &card)
{
    std::size_t n = 0;
    for (const auto &s : card.subdevices)
        n += std::bitset<64>(s.levels).count();
    return n;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::vector<std::string> f = fuzz::fields(data, size, 4);
    fakecard::FakeCard card;
    card.subdevices = {{COMEDI_SUBD_AI, 8},
                       {COMEDI_SUBD_DI, 32},
                       {COMEDI_SUBD_DO, 32},
                       {COMEDI_SUBD_DIO, 24, 8},
                       {COMEDI_SUBD_DIO, 48, 4}};
    vornel::ComediBoard board(card);
    const std::string reason = board.open([&](const char *name) {
        const std::string n = name;
        return n == "VORNEL_BOARD1_COMEDI" ? f[0]
               : n == "VORNEL_BOARD1_DO"   ? f[1]
               : n == "VORNEL_BOARD1_DI"   ? f[2]
                                           : "";
    });
    if (!reason.empty()) {
        FUZZ_CHECK(!card.is_open);
        return 0;
    }
    FUZZ_CHECK(card.is_open && high_channels(card) == 0); // outputs start low
    // The output bits mapped: as set, or 32 of the output subdevice.
    vornel::BitMap map;
    vornel::parse_bit_map(f[1], map, "0:0");
    const std::size_t outputs = !f[1].empty() ? map.numbers.size() : f[2].empty() ? 32 : 0;
    const std::uint32_t mapped = outputs == 32 ? ~0U : (1U << outputs) - 1;
    const std::uint32_t pattern = fuzz::word(f[3], 0x12345678U);
    std::string why;
    for (const std::uint32_t p : {~0U, pattern, 0U}) {
        card.calls.clear();
        FUZZ_CHECK(board.write(p, why) == 0 && why.empty());
        FUZZ_CHECK(high_channels(card) == std::bitset<32>(p & mapped).count());
        // One call per window of up to 32 channels, each with channels in it.
        FUZZ_CHECK(card.calls.size() <= outputs);
        for (const std::string &call : card.calls)
            FUZZ_CHECK(call.rfind("bits ", 0) == 0 && call.substr(call.rfind(' ')) != " 0");
    }
    board.release();
    FUZZ_CHECK(!card.is_open);
    return 0;
}
