// The GPIO board against fake chips that keep the kernel's rules, and the
// real program on the stand-in library with fake chips behind it.

#include "bit_map.h"
#include "fake_chip.h"
#include "gpio_board.h"
#include "harness.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <tuple>
#include <vector>

using namespace std::chrono_literals;
using fakechip::FakeChips;
using vornel::BitMap;
using vornel::GpioBoard;

namespace {

BitMap lines(const std::string &text)
{
    BitMap map;
    const std::string error = vornel::parse_bit_map(text, map);
    EXPECT_EQ(error, "") << text;
    return map;
}

std::vector<std::uint32_t> offsets_of(const gpio_v2_line_request &req)
{
    return {req.offsets, req.offsets + req.num_lines};
}

std::size_t calls_of(const FakeChips &chips, unsigned long request)
{
    std::size_t n = 0;
    for (const auto &call : chips.calls)
        n += call.request == request ? 1 : 0;
    return n;
}

TEST(BitMap, ListsAndRangesInBitOrder)
{
    EXPECT_EQ(lines("gpiochip0:0-31").numbers.size(), 32U);
    const BitMap m = lines(" gpiochip1 : 4-6, 9 ,2-0");
    EXPECT_EQ(m.where, "gpiochip1");
    EXPECT_EQ(m.numbers, (std::vector<std::uint32_t>{4, 5, 6, 9, 2, 1, 0}));
    EXPECT_EQ(lines("/dev/gpiochip2:7").numbers, std::vector<std::uint32_t>{7});
    EXPECT_EQ(lines("coils:65535,0").numbers, (std::vector<std::uint32_t>{65535, 0}));
    EXPECT_EQ(vornel::chip_path("gpiochip2"), "/dev/gpiochip2");
    EXPECT_EQ(vornel::chip_path("/dev/gpiochip2"), "/dev/gpiochip2");
}

TEST(BitMap, MalformedSettingsAreRejected)
{
    for (const char *text :
         {"", "gpiochip0", ":0-3", "gpiochip0:", "gpiochip0:1-", "gpiochip0:-1", "gpiochip0:a",
          "gpiochip0:1,,2", "gpiochip0:0-32", "gpiochip0:4294967297", "gpiochip0:99999999999999",
          "gpiochip0:0-65535", "gpiochip0:1-2-3", "gpiochip0:+1", "gpiochip0:0x10", "coils:65536",
          "gpiochip0:1,2,1", "coils:3-5,4"}) {
        BitMap map{"untouched", {}, {}};
        EXPECT_NE(vornel::parse_bit_map(text, map), "") << text;
        EXPECT_EQ(map.where, "untouched") << text;
    }
}

struct Gpio : testing::Test {
    FakeChips chips;
    GpioBoard board{chips};
    std::string reason;

    void SetUp() override
    {
        chips.add_chip("gpiochip0", 64);
        chips.add_chip("gpiochip1", 16);
    }
};

TEST_F(Gpio, FullMappingOnOneChipIsOneRequest)
{
    ASSERT_EQ(board.open_lines(lines("gpiochip0:0-31"), lines("gpiochip0:32-63"), "dio-exerciser"),
              "");
    ASSERT_EQ(chips.requests.size(), 1U);
    const gpio_v2_line_request &req = chips.requests[0];
    std::vector<std::uint32_t> want(64);
    for (std::uint32_t i = 0; i < 64; ++i)
        want[i] = i;
    EXPECT_EQ(offsets_of(req), want);
    EXPECT_STREQ(req.consumer, "dio-exerciser");
    EXPECT_EQ(req.config.flags, GPIO_V2_LINE_FLAG_INPUT);
    ASSERT_EQ(req.config.num_attrs, 1U);
    EXPECT_EQ(req.config.attrs[0].attr.flags, GPIO_V2_LINE_FLAG_OUTPUT);
    EXPECT_EQ(req.config.attrs[0].mask, 0xffffffffULL);

    for (unsigned i = 0; i < 32; ++i)
        chips.wire("gpiochip0", i, "gpiochip0", 32 + i);
    for (const std::uint32_t pattern : {0x55555555U, 0xaaaaaaaaU, 0x80000001U}) {
        EXPECT_EQ(board.write(pattern, reason), 0);
        for (unsigned i = 0; i < 32; ++i)
            EXPECT_EQ(chips.level("gpiochip0", i), (pattern >> i & 1U) != 0) << i;
        EXPECT_EQ(board.read(reason), pattern);
    }
    EXPECT_EQ(calls_of(chips, GPIO_V2_LINE_SET_VALUES_IOCTL), 3U);
    EXPECT_EQ(calls_of(chips, GPIO_V2_LINE_GET_VALUES_IOCTL), 3U);
    EXPECT_EQ(reason, "");
}

TEST_F(Gpio, SparseMappingOverTwoChips)
{
    ASSERT_EQ(board.open_lines(lines("gpiochip0:5,3,9"), lines("gpiochip1:0-1,7"), "x"), "");
    ASSERT_EQ(chips.requests.size(), 2U);
    EXPECT_EQ(offsets_of(chips.requests[0]), (std::vector<std::uint32_t>{5, 3, 9}));
    EXPECT_EQ(chips.requests[0].config.flags, GPIO_V2_LINE_FLAG_OUTPUT);
    EXPECT_EQ(offsets_of(chips.requests[1]), (std::vector<std::uint32_t>{0, 1, 7}));
    EXPECT_EQ(chips.requests[1].config.flags, GPIO_V2_LINE_FLAG_INPUT);
    EXPECT_EQ(chips.requests[1].config.num_attrs, 0U);
    EXPECT_EQ(chips.requested_lines(), 6U) << "no line beyond those named";

    EXPECT_EQ(board.write(0xfffffff5U, reason), 0); // bits 0 and 2 high, bit 1 low
    EXPECT_TRUE(chips.level("gpiochip0", 5));
    EXPECT_FALSE(chips.level("gpiochip0", 3));
    EXPECT_TRUE(chips.level("gpiochip0", 9));
    chips.drive("gpiochip1", 7, true);
    chips.drive("gpiochip1", 2, true); // not named: never reaches the word
    EXPECT_EQ(board.read(reason), 0x4U);
    EXPECT_EQ(calls_of(chips, GPIO_V2_LINE_SET_VALUES_IOCTL), 1U);
    EXPECT_EQ(calls_of(chips, GPIO_V2_LINE_GET_VALUES_IOCTL), 1U);
}

TEST_F(Gpio, TwoSpellingsOfOneChipAreOneRequest)
{
    chips.alias("/dev/gpio/by-name/io", "gpiochip0");
    ASSERT_EQ(board.open_lines(lines("gpiochip0:0-3"), lines("/dev/gpio/by-name/io:4-7"), "x"), "");
    ASSERT_EQ(chips.requests.size(), 1U);
    EXPECT_EQ(offsets_of(chips.requests[0]), (std::vector<std::uint32_t>{0, 1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(board.open_lines(lines("/dev/gpio/by-name/io:2"), lines("gpiochip0:2"), "x"),
              "line 2 of /dev/gpio/by-name/io is named twice");
    EXPECT_EQ(chips.requested_lines(), 0U);
}

TEST_F(Gpio, OnlyOutputsOrOnlyInputs)
{
    ASSERT_EQ(board.open_lines(lines("gpiochip1:0-15"), {}, "x"), "");
    EXPECT_EQ(board.read(reason), 0U);
    EXPECT_EQ(calls_of(chips, GPIO_V2_LINE_GET_VALUES_IOCTL), 0U);
    ASSERT_EQ(board.open_lines({}, lines("gpiochip1:0-15"), "x"), "")
        << "reopening frees the lines";
    EXPECT_EQ(board.write(0xffffffffU, reason), 0);
    EXPECT_EQ(calls_of(chips, GPIO_V2_LINE_SET_VALUES_IOCTL), 0U);
    EXPECT_EQ(chips.requested_lines(), 16U);
}

TEST_F(Gpio, EveryFailureToOpenSaysWhyAndHoldsNothing)
{
    chips.deny("gpiochip7", EACCES);
    chips.add_chip("gpiochip8", 8);
    chips.hold("gpiochip8", 3, "other-tool");
    struct Case {
        const char *outputs;
        const char *inputs;
        const char *reason;
    };
    for (const Case &c : std::vector<Case>{
             {"gpiochip9:0", "", "/dev/gpiochip9: No such file or directory"},
             {"gpiochip7:0", "", "/dev/gpiochip7: Permission denied"},
             {"gpiochip1:0-3", "gpiochip1:40", "line 40 is beyond gpiochip1's 16 lines"},
             {"gpiochip0:0-3", "gpiochip8:0-7", "line 3 of gpiochip8 is in use by other-tool"},
             {"gpiochip0:0-3", "gpiochip0:3", "line 3 of gpiochip0 is named twice"},
             {"gpiochip0:0", "/dev/gpiochip0:0", "line 0 of gpiochip0 is named twice"},
         }) {
        const BitMap out = lines(c.outputs);
        const BitMap in = *c.inputs != '\0' ? lines(c.inputs) : BitMap{};
        EXPECT_EQ(board.open_lines(out, in, "x"), c.reason) << c.outputs << " " << c.inputs;
        EXPECT_EQ(chips.requested_lines(), 0U) << c.reason;
        EXPECT_EQ(chips.open_files(), 0U) << c.reason;
    }
}

TEST_F(Gpio, LinesByTheirNamesOnOneChipOrAny)
{
    const auto named = [](const std::string &text) {
        BitMap map;
        EXPECT_EQ(vornel::parse_bit_map(text, map, "gpiochip0:0-15,20", true), "") << text;
        return map;
    };
    chips.add_chip("gpiochip2", 8);
    for (const auto &[chip, offset, name] :
         std::vector<std::tuple<const char *, unsigned, const char *>>{{"gpiochip0", 17, "GPIO17"},
                                                                       {"gpiochip0", 27, "GPIO27"},
                                                                       {"gpiochip1", 5, "GPIO5"},
                                                                       {"gpiochip1", 6, "LED-1"},
                                                                       {"gpiochip0", 9, "TWIN"},
                                                                       {"gpiochip2", 1, "TWIN"}})
        chips.name(chip, offset, name);

    // Spread over two chips, mixed with numbers: still one request per chip.
    ASSERT_EQ(board.open_lines(named("GPIO27,GPIO5,LED-1"), named("gpiochip0:GPIO17,3"), "x"), "");
    ASSERT_EQ(chips.requests.size(), 2U);
    EXPECT_EQ(offsets_of(chips.requests[0]), (std::vector<std::uint32_t>{27, 17, 3}));
    EXPECT_EQ(offsets_of(chips.requests[1]), (std::vector<std::uint32_t>{5, 6}));
    EXPECT_EQ(board.write(0x5, reason), 0);
    EXPECT_TRUE(chips.level("gpiochip0", 27));
    EXPECT_FALSE(chips.level("gpiochip1", 5));
    EXPECT_TRUE(chips.level("gpiochip1", 6));
    chips.drive("gpiochip0", 3, true);
    EXPECT_EQ(board.read(reason), 0x2U);

    for (const auto &[outputs, reason] : std::vector<std::pair<const char *, const char *>>{
             {"GPIO99", "no GPIO chip has a line named 'GPIO99' (gpioinfo lists the names)"},
             {"gpiochip1:GPIO17",
              "gpiochip1 has no line named 'GPIO17' (gpioinfo lists the names)"},
             {"TWIN", "'TWIN' names more than one line, gpiochip0 line 9 and gpiochip2 line 1: "
                      "name the chip too, as in gpiochip0:TWIN"},
             {"GPIO17,gpiochip0", "no GPIO chip has a line named 'gpiochip0' (gpioinfo lists "
                                  "the names)"},
         }) {
        EXPECT_EQ(board.open_lines(named(outputs), {}, "x"), reason);
        EXPECT_EQ(chips.requested_lines(), 0U) << reason;
        EXPECT_EQ(chips.open_files(), 0U) << reason;
    }
    EXPECT_EQ(board.open_lines(named("GPIO17"), named("gpiochip0:17"), "x"),
              "line 17 of gpiochip0 is named twice");
    BitMap map;
    EXPECT_NE(vornel::parse_bit_map("GPIO5,5", map, "gpiochip0:5", true).find("needs its chip"),
              std::string::npos);
    EXPECT_NE(vornel::parse_bit_map("GPIO5,GPIO5", map, "", true).find("GPIO5 is named twice"),
              std::string::npos);
}

TEST_F(Gpio, RefusedWritesAndReadsAreReported)
{
    ASSERT_EQ(board.open_lines(lines("gpiochip0:0-7"), lines("gpiochip1:0-7"), "x"), "");
    for (unsigned i = 0; i < 8; ++i)
        chips.wire("gpiochip0", i, "gpiochip1", i);
    chips.refuse(GPIO_V2_LINE_SET_VALUES_IOCTL, EIO);
    EXPECT_EQ(board.write(0xffU, reason), -EIO);
    EXPECT_EQ(reason, "gpiochip0: writing the outputs failed: Input/output error");
    EXPECT_EQ(board.write(0x0fU, reason), 0);

    chips.refuse(GPIO_V2_LINE_GET_VALUES_IOCTL, ENODEV);
    reason.clear();
    EXPECT_EQ(board.read(reason), 0U) << "what cannot be read reads 0";
    EXPECT_EQ(reason, "gpiochip1: reading the inputs failed: No such device");
    reason.clear();
    EXPECT_EQ(board.read(reason), 0x0fU);
    EXPECT_EQ(reason, "");
}

// The real program on the stand-in library, with fake chips behind it.
harness::Env gpio_env(const std::string &held, const std::string &verbose)
{
    return {{"LD_LIBRARY_PATH", FAKE_CHIP_BOARD_DIR},
            {"VORNEL_BOARD1", ""},
            {"VORNEL_BOARD1_DO", "gpiochip0:0-31"},
            {"VORNEL_BOARD1_DI", "gpiochip1:0-31"},
            {"VORNEL_VERBOSE", verbose},
            {"FAKECHIP_CHIPS", "gpiochip0=32;gpiochip1=32"},
            {"FAKECHIP_WIRES", "gpiochip0:0-31>gpiochip1:0-31"},
            {"FAKECHIP_HELD", held}};
}

TEST(GpioProgram, LoopbackOverFakeChipsReadsLikeTheSimulatedBoard)
{
    harness::Process p(
        {DIO_EXERCISER, {}, gpio_env("", ""), harness::Input::Closed, harness::Output::Pipe});
    EXPECT_EQ(p.read_line(3s), "do:55555555,di:55555555");
    EXPECT_EQ(p.read_line(3s), "do:aaaaaaaa,di:aaaaaaaa");
    p.kill();
    EXPECT_EQ(p.errors(), "");
}

// dio-set's prompt holds the lines of both chips for its whole session.
TEST(GpioProgram, PromptDrivesAndReadsTheLinesItHolds)
{
    harness::Process p(
        {DIO_SET, {"-i"}, gpio_env("", ""), harness::Input::OpenPipe, harness::Output::File});
    p.write_input("set 7=1\nget\ntoggle 7 0\nget\n");
    p.close_input();
    EXPECT_EQ(p.wait(5s), 0);
    EXPECT_EQ(p.output(), "do:80,di:80\ndo:1,di:1\n");
    EXPECT_EQ(p.errors(), "");
}

TEST(GpioProgram, AReasonOnlyWhenAskedFor)
{
    for (const char *verbose : {"", "1"}) {
        harness::Process p({DIO_EXERCISER,
                            {},
                            gpio_env("gpiochip1:3=other-tool", verbose),
                            harness::Input::Closed,
                            harness::Output::File});
        EXPECT_EQ(p.wait(5s), 0);
        EXPECT_EQ(p.output(), "Open device failed!\n");
        EXPECT_EQ(p.errors(),
                  *verbose != '\0' ? "vornel: line 3 of gpiochip1 is in use by other-tool\n" : "");
    }
}

} // namespace
