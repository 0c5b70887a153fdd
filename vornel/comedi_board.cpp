#include "comedi_board.h"
#include "settings.h"

#include <algorithm>
#include <cerrno>
#include <utility>

#include <comedi.h>

namespace vornel {
namespace {

const char *kind_of(int type)
{
    switch (type) {
    case COMEDI_SUBD_AI:
        return "analog input";
    case COMEDI_SUBD_AO:
        return "analog output";
    case COMEDI_SUBD_DI:
        return "digital input";
    case COMEDI_SUBD_DO:
        return "digital output";
    case COMEDI_SUBD_DIO:
        return "digital I/O";
    case COMEDI_SUBD_COUNTER:
        return "a counter";
    case COMEDI_SUBD_TIMER:
        return "a timer";
    case COMEDI_SUBD_UNUSED:
        return "unused";
    default:
        return "of another kind";
    }
}

unsigned subdevice_of(const BitMap &map)
{
    std::uint32_t s = 0;
    parse_decimal(map.where, 0, kMaxNumber, s);
    return s;
}

bool named(const BitMap &map, std::uint32_t channel)
{
    return std::find(map.numbers.begin(), map.numbers.end(), channel) != map.numbers.end();
}

} // namespace

std::string ComediBoard::open(const Settings &settings)
{
    release();
    std::string path = settings(kComediDevice);
    if (path.empty())
        path = "/dev/comedi0";
    else if (path[0] != '/')
        return "VORNEL_BOARD1_COMEDI='" + path + "': give the device file, as in /dev/comedi0";

    BitMap maps[2];
    std::string malformed = parse_outputs_and_inputs(
        settings, maps, "0:0-31", false, [](const std::string &text, const BitMap &map) {
            std::uint32_t subdevice = 0;
            return where_of(text) == Where::subdevice && parse_decimal(map.where, 0, 255, subdevice)
                       ? std::string()
                       : "'" + text + "': '" + map.where +
                             "' is not a subdevice number, as in 0:0-31 (comedi_board_info lists "
                             "them)";
        });
    if (!malformed.empty())
        return malformed;

    path_ = path;
    if (!io_.open(path.c_str()))
        return not_opened(path);
    open_ = true; // write() needs it; a failure below releases the device

    std::string reason;
    if (maps[0].numbers.empty() && maps[1].numbers.empty()) {
        first_digital(maps);
        if (maps[0].numbers.empty() && maps[1].numbers.empty())
            reason = path + " has no digital input, output or I/O subdevice "
                            "(comedi_board_info lists what it has)";
    }
    const char *names[2] = {kDo, kDi};
    for (int i = 0; i < 2 && reason.empty(); ++i)
        reason = check(maps[i], names[i], i == 0);
    if (reason.empty()) {
        BitMap named[2] = {maps[0], maps[1]};
        for (BitMap &map : named)
            map.where = "subdevice " + map.where;
        described_ = path + ": " + vornel::describe(named[0], "channels", named[1], "channels");
        add_windows(maps[0], outputs_);
        add_windows(maps[1], inputs_);
        // Outputs low before any channel turns to an output, where the
        // driver keeps what is written to an input, so nothing glitches high.
        std::string ignored;
        write(0, ignored);
        reason = set_directions(maps[0], maps[1]);
    }
    if (reason.empty() && write(0, reason) != 0)
        reason = "driving the outputs low: " + reason;
    if (!reason.empty())
        release();
    return reason;
}

// Why @path did not open, with what to do about it.
std::string ComediBoard::not_opened(const std::string &path)
{
    const int err = io_.error();
    switch (err) {
    case ENODEV:
    case ENXIO:
        return path + ": no card is attached to it (attach one with comedi_config, or load "
                      "the card's driver)";
    case ENOTTY:
    case EINVAL:
        return path + ": not a comedi device";
    case EACCES:
        return path + ": " + io_.error_text(err) +
               " (your user needs read and write access, usually through the group iocard)";
    default:
        return path + ": " + io_.error_text(err);
    }
}

// With no channels named: the first digital output and input subdevices,
// else the first digital I/O one, each with up to 32 channels from 0.
void ComediBoard::first_digital(BitMap (&maps)[2])
{
    const int n = io_.get_n_subdevices();
    int found[2] = {-1, -1};
    int dio = -1;
    for (int s = 0; s < n; ++s) {
        const int type = io_.get_subdevice_type(static_cast<unsigned>(s));
        int &first = type == COMEDI_SUBD_DO ? found[0] : type == COMEDI_SUBD_DI ? found[1] : dio;
        if (first < 0 &&
            (type == COMEDI_SUBD_DO || type == COMEDI_SUBD_DI || type == COMEDI_SUBD_DIO))
            first = s;
    }
    for (int i = 0; i < 2; ++i) {
        const int s = found[i] >= 0 ? found[i] : dio;
        if (s < 0)
            continue;
        const int channels = io_.get_n_channels(static_cast<unsigned>(s));
        maps[i].where = std::to_string(s);
        for (int c = 0; c < channels && c < static_cast<int>(kMaxBits); ++c) {
            maps[i].numbers.push_back(static_cast<std::uint32_t>(c));
            maps[i].names.emplace_back();
        }
    }
}

// The subdevice of @map exists and has the right kind and the channels.
std::string ComediBoard::check(const BitMap &map, const char *setting, bool output)
{
    if (map.numbers.empty())
        return {};
    const unsigned s = subdevice_of(map);
    const int n = io_.get_n_subdevices();
    if (n < 0)
        return failure("reading its subdevices");
    if (s >= static_cast<unsigned>(n))
        return std::string(setting) + ": " + path_ + " has no subdevice " + std::to_string(s) +
               " (it has " + std::to_string(n) + "; comedi_board_info lists them)";
    const int type = io_.get_subdevice_type(s);
    if (type != COMEDI_SUBD_DIO && type != (output ? COMEDI_SUBD_DO : COMEDI_SUBD_DI))
        return std::string(setting) + ": subdevice " + std::to_string(s) + " of " + path_ + " is " +
               kind_of(type) + ", not digital " + (output ? "output" : "input") + " or digital I/O";
    const int channels = io_.get_n_channels(s);
    for (const std::uint32_t c : map.numbers) {
        if (static_cast<int>(c) >= channels)
            return std::string(setting) + ": channel " + std::to_string(c) + " is beyond " +
                   "subdevice " + std::to_string(s) + "'s " + std::to_string(channels) +
                   " channels";
    }
    return {};
}

// Digital I/O channels become outputs, then inputs. A channel in both
// lists stays an output and is read back. Where the driver sets directions
// per group, an input turns the outputs of its group, which the query
// after each input finds.
std::string ComediBoard::set_directions(const BitMap &outputs, const BitMap &inputs)
{
    const auto dio = [this](const BitMap &map) {
        return !map.numbers.empty() && io_.get_subdevice_type(subdevice_of(map)) == COMEDI_SUBD_DIO;
    };
    const unsigned so = subdevice_of(outputs);
    const unsigned si = subdevice_of(inputs);
    const bool outputs_dio = dio(outputs);
    // Inputs on the subdevice of the outputs may turn them.
    const bool shared = outputs_dio && so == si;
    if (outputs_dio) {
        for (const std::uint32_t c : outputs.numbers) {
            if (io_.dio_config(so, c, COMEDI_OUTPUT) < 0)
                return failure("making channel " + std::to_string(c) + " of subdevice " +
                               std::to_string(so) + " an output");
        }
    }
    if (!dio(inputs))
        return {};
    for (const std::uint32_t c : inputs.numbers) {
        if (shared && named(outputs, c))
            continue;
        if (io_.dio_config(si, c, COMEDI_INPUT) < 0)
            return failure("making channel " + std::to_string(c) + " of subdevice " +
                           std::to_string(si) + " an input");
        if (!shared)
            continue;
        for (const std::uint32_t o : outputs.numbers) {
            unsigned direction = COMEDI_OUTPUT;
            if (io_.dio_get_config(si, o, direction) == 0 && direction != COMEDI_OUTPUT)
                return "subdevice " + std::to_string(si) + " of " + path_ +
                       " sets directions for groups of channels: channel " + std::to_string(o) +
                       " (DO) and channel " + std::to_string(c) +
                       " (DI) share one, so one cannot be an output and the other an input";
        }
    }
    return {};
}

// Windows of up to 32 channels from the lowest mapped one up; a subdevice
// of 32 channels or fewer is one window at channel 0.
void ComediBoard::add_windows(const BitMap &map, std::vector<Window> &windows) const
{
    if (map.numbers.empty())
        return;
    const unsigned s = subdevice_of(map);
    const bool narrow = io_.get_n_channels(s) <= static_cast<int>(kMaxBits);
    for (const auto &[channel, bit] : by_number(map)) {
        if (windows.empty() || channel >= windows.back().base + kMaxBits) {
            windows.emplace_back();
            windows.back().subdevice = s;
            windows.back().base = narrow ? 0 : channel;
        }
        Window &w = windows.back();
        w.mask |= 1U << (channel - w.base);
        w.offset[w.count] = static_cast<std::uint8_t>(channel - w.base);
        w.bit[w.count] = static_cast<std::uint8_t>(bit);
        ++w.count;
    }
}

int ComediBoard::transfer(const std::vector<Window> &windows, std::uint32_t pattern, bool writing,
                          std::uint32_t &word, std::string &reason)
{
    int result = 0;
    for (const Window &w : windows) {
        unsigned bits = 0;
        for (unsigned i = 0; writing && i < w.count; ++i)
            bits |= (pattern >> w.bit[i] & 1U) << w.offset[i];
        if (io_.dio_bitfield2(w.subdevice, writing ? w.mask : 0, bits, w.base) < 0) {
            const int err = io_.error();
            if (result == 0) {
                result = err > 0 && err < 4096 ? -err : -EIO;
                reason = path_ + ": " + (writing ? "writing" : "reading") + " channels " +
                         std::to_string(w.base + w.offset[0]) + "-" +
                         std::to_string(w.base + w.offset[w.count - 1]) + " of subdevice " +
                         std::to_string(w.subdevice) + ": " + io_.error_text(err);
            }
            continue;
        }
        for (unsigned i = 0; !writing && i < w.count; ++i)
            word |= (bits >> w.offset[i] & 1U) << w.bit[i];
    }
    return result;
}

int ComediBoard::write(std::uint32_t pattern, std::string &reason)
{
    if (!open_)
        return -EBADF;
    std::uint32_t unused = 0;
    return transfer(outputs_, pattern, true, unused, reason);
}

std::uint32_t ComediBoard::read(std::string &reason)
{
    std::uint32_t word = 0;
    if (open_)
        transfer(inputs_, 0, false, word, reason);
    return word;
}

// Says why the call just made failed: comedi_errno() holds it only now.
std::string ComediBoard::failure(const std::string &what)
{
    return path_ + ": " + what + ": " + io_.error_text(io_.error());
}

void ComediBoard::release()
{
    if (open_)
        io_.close();
    open_ = false;
    outputs_.clear();
    inputs_.clear();
    described_.clear();
}

} // namespace vornel
