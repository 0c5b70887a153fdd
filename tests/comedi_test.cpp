// The comedi board against a fake card that keeps comedi's rules where the
// board relies on them; the kernel lane runs it on real comedi drivers.

#include "comedi_board.h"
#include "fake_card.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <comedi.h>

using fakecard::FakeCard;
using vornel::ComediBoard;

namespace {

struct Comedi : testing::Test {
    FakeCard card;
    ComediBoard board{card};
    std::map<std::string, std::string> settings;
    std::string reason;

    std::string open()
    {
        return board.open([this](const char *name) { return settings[name]; });
    }
};

TEST_F(Comedi, MalformedSettingsAndUnfitCardsFailToOpenWithTheReason)
{
    struct Case {
        std::map<std::string, std::string> settings;
        int open_error;
        const char *reason;
    };
    for (const Case &c : std::vector<Case>{
             {{{"VORNEL_BOARD1_COMEDI", "comedi0"}}, 0, "give the device file, as in /dev/comedi0"},
             {{{"VORNEL_BOARD1_DO", "0-7"}}, 0, "as in 0:0-31"},
             {{{"VORNEL_BOARD1_DO", "A:0-7"}}, 0, "'A' is not a subdevice number"},
             {{{"VORNEL_BOARD1_DI", "1:0-32"}}, 0, "more than 32 bits"},
             {{}, ENODEV, "/dev/comedi0: no card is attached to it (attach one with comedi_config"},
             {{}, ENOTTY, "/dev/comedi0: not a comedi device"},
             {{},
              EACCES,
              "Permission denied (your user needs read and write access, usually "
              "through the group iocard)"},
             {{{"VORNEL_BOARD1_DO", "3:0"}}, 0, "/dev/comedi0 has no subdevice 3 (it has 3;"},
             {{{"VORNEL_BOARD1_DO", "1:0"}},
              0,
              "subdevice 1 of /dev/comedi0 is digital input, "
              "not digital output or digital I/O"},
             {{{"VORNEL_BOARD1_DI", "0:0"}}, 0, "is analog input, not digital input"},
             {{{"VORNEL_BOARD1_DI", "2:24"}}, 0, "channel 24 is beyond subdevice 2's 24 channels"},
             {{{"VORNEL_BOARD1_DO", "2:0-3"}, {"VORNEL_BOARD1_DI", "2:4-7"}},
              0,
              "channel 0 (DO) and channel 4 (DI) share one"},
         }) {
        card.subdevices = {{COMEDI_SUBD_AI, 16}, {COMEDI_SUBD_DI, 8}, {COMEDI_SUBD_DIO, 24, 8}};
        card.open_error = c.open_error;
        settings = c.settings;
        EXPECT_NE(open().find(c.reason), std::string::npos) << c.reason << ": " << open();
        EXPECT_FALSE(card.is_open) << c.reason << ": the board holds nothing";
    }
}

TEST_F(Comedi, WithoutAMappingTheFirstDigitalSubdevicesCarryThe32Bits)
{
    // A 32/32 card: outputs and inputs on their own subdevices.
    card.subdevices = {{COMEDI_SUBD_AI, 8}, {COMEDI_SUBD_DI, 32}, {COMEDI_SUBD_DO, 32}};
    ASSERT_EQ(open(), "");
    EXPECT_EQ(board.write(0x12345678, reason), 0);
    EXPECT_EQ(card.subdevices[2].levels, 0x12345678U);
    card.subdevices[1].levels = 0x87654321;
    EXPECT_EQ(board.read(reason), 0x87654321U);

    // Digital I/O only: the same channels, outputs read back, none an input.
    card.subdevices = {{COMEDI_SUBD_DIO, 24, 4}};
    card.subdevices[0].levels = 0xffffff;
    card.calls.clear();
    ASSERT_EQ(open(), "");
    EXPECT_EQ(card.calls.front(), "bits 0 16777215") << "outputs low before they turn outputs";
    EXPECT_EQ(std::count(card.calls.begin(), card.calls.end(), "config 0 in"), 0);
    EXPECT_EQ(board.read(reason), 0U) << "outputs start low";
    EXPECT_EQ(board.write(0xfedcba98, reason), 0);
    EXPECT_EQ(board.read(reason), 0xdcba98U);
}

TEST_F(Comedi, OneCallPer32ChannelsTheMappingSpans)
{
    card.subdevices = {{COMEDI_SUBD_DIO, 64, 8}};
    for (const auto &[outputs, calls] :
         std::vector<std::pair<std::string, std::vector<std::string>>>{
             {"0:24-47", {"bits 24 16777215"}},
             {"0:0,40", {"bits 0 1", "bits 40 1"}},
             {"0:63-32", {"bits 32 4294967295"}},
         }) {
        settings = {{"VORNEL_BOARD1_DO", outputs}};
        ASSERT_EQ(open(), "") << outputs;
        card.calls.clear();
        EXPECT_EQ(board.write(0xffffffff, reason), 0);
        EXPECT_EQ(card.calls, calls) << outputs;
    }
    // Bit 0 on channel 63 and bit 31 on channel 32.
    EXPECT_EQ(board.write(1, reason), 0);
    EXPECT_EQ(card.subdevices[0].levels >> 32, 0x80000000U);
}

TEST_F(Comedi, FailedCallsGiveANegativeResultOrZeroBitsWithTheReason)
{
    card.subdevices = {{COMEDI_SUBD_DIO, 32}};
    settings = {{"VORNEL_BOARD1_DO", "0:0-15"}, {"VORNEL_BOARD1_DI", "0:16-31"}};
    ASSERT_EQ(open(), "");
    EXPECT_EQ(board.write(0xffff, reason), 0);
    card.subdevices[0].levels = 0xffffffff;
    card.fail_bitfield = EIO;
    EXPECT_EQ(board.write(0, reason), -EIO);
    EXPECT_EQ(reason, "/dev/comedi0: writing channels 0-15 of subdevice 0: Input/output error");
    reason.clear();
    EXPECT_EQ(board.read(reason), 0U);
    EXPECT_EQ(reason, "/dev/comedi0: reading channels 16-31 of subdevice 0: Input/output error");
    card.fail_bitfield = 0;
    EXPECT_EQ(board.read(reason), 0xffffU);
}

} // namespace
