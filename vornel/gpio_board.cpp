#include "gpio_board.h"
#include "settings.h"

#include <cerrno> // and glibc's program_invocation_short_name
#include <cstring>

#include <fcntl.h>
#include <linux/gpio.h>

namespace vornel {
namespace {

std::string errno_text(int err)
{
    return std::strerror(err);
}

std::uint64_t bit(unsigned position)
{
    return std::uint64_t{1} << position;
}

} // namespace

std::string chip_path(const std::string &chip)
{
    return chip.find('/') == std::string::npos ? "/dev/" + chip : chip;
}

std::string GpioBoard::open(const Settings &settings)
{
    release();
    BitMap maps[2];
    std::string reason = parse_outputs_and_inputs(settings, maps, "gpiochip0:0-15,20", true);
    if (!reason.empty())
        return reason;
    if (maps[0].numbers.empty() && maps[1].numbers.empty())
        return "VORNEL_BOARD1=gpio: name the lines in VORNEL_BOARD1_DO and VORNEL_BOARD1_DI";
    // Other tools show who holds the lines: the program, by its name.
    reason = open_lines(maps[0], maps[1], program_invocation_short_name);
    if (reason.empty())
        described_ = vornel::describe(maps[0], "lines", maps[1], "lines");
    return reason;
}

std::string GpioBoard::open_lines(const BitMap &outputs, const BitMap &inputs,
                                  const std::string &consumer)
{
    release();
    std::string reason = add(outputs, output_bits_, true);
    if (reason.empty())
        reason = add(inputs, input_bits_, false);
    for (std::size_t c = 0; reason.empty() && c < chips_.size(); ++c)
        reason = request(chips_[c], consumer);
    read_lines_.clear();
    if (!reason.empty())
        release();
    return reason;
}

// Adds the lines of @map, named by number or by name, to the chips they
// are on; a line may be named once.
std::string GpioBoard::add(const BitMap &map, std::vector<Bit> &bits, bool output)
{
    for (std::size_t i = 0; i < map.numbers.size(); ++i) {
        std::string path = chip_path(map.where);
        std::string chip = map.where;
        std::uint32_t offset = map.numbers[i];
        std::string reason =
            map.names[i].empty() ? "" : find_line(map.where, map.names[i], path, chip, offset);
        if (reason.empty())
            reason = add_line(path, chip, offset, output, bits);
        if (!reason.empty())
            return reason;
    }
    return {};
}

std::string GpioBoard::add_line(const std::string &path, const std::string &name,
                                std::uint32_t offset, bool output, std::vector<Bit> &bits)
{
    struct stat st {};
    if (io_.stat(path.c_str(), &st) != 0)
        return path + ": " + errno_text(errno);
    // A device is known by its number, whatever the path that led to it.
    const bool is_device = S_ISCHR(st.st_mode);
    const dev_t device = is_device ? st.st_rdev : st.st_dev;
    const ino_t inode = is_device ? 0 : st.st_ino;
    std::size_t c = 0;
    while (c < chips_.size() && (chips_[c].device != device || chips_[c].inode != inode))
        ++c;
    if (c == chips_.size())
        chips_.push_back(Chip{path, name, device, inode, {}, -1, 0, 0});
    Chip &chip = chips_[c];
    for (const std::uint32_t seen : chip.offsets) {
        if (seen == offset)
            return "line " + std::to_string(offset) + " of " + chip.name + " is named twice";
    }
    const auto position = static_cast<unsigned>(chip.offsets.size());
    chip.offsets.push_back(offset);
    (output ? chip.output_mask : chip.input_mask) |= bit(position);
    bits.push_back(Bit{c, position});
    return {};
}

// The chip and offset of the line the kernel calls @line: on @where, or on
// every chip when @where is empty. Exactly one line may have the name.
std::string GpioBoard::find_line(const std::string &where, const std::string &line,
                                 std::string &path, std::string &chip_name, std::uint32_t &offset)
{
    const std::vector<std::string> paths =
        where.empty() ? io_.chips() : std::vector<std::string>{chip_path(where)};
    std::string found;   // "gpiochip0 line 17", for messages
    std::string skipped; // a chip that could not be read, for messages
    int matches = 0;
    for (const std::string &p : paths) {
        const ChipLines &chip = line_names(p);
        if (!chip.reason.empty() && !where.empty())
            return chip.reason;
        if (!chip.reason.empty() && skipped.empty())
            skipped = chip.reason;
        for (std::uint32_t k = 0; k < chip.names.size(); ++k) {
            if (chip.names[k] != line)
                continue;
            found += (matches++ > 0 ? " and " : "") + chip.name + " line " + std::to_string(k);
            path = p;
            chip_name = chip.name;
            offset = k;
        }
    }
    if (matches > 1)
        return "'" + line + "' names more than one line, " + found +
               ": name the chip too, as in gpiochip0:" + line;
    if (matches == 0 && !where.empty())
        return where + " has no line named '" + line + "' (gpioinfo lists the names)";
    if (matches == 0)
        return "no GPIO chip has a line named '" + line + "' (gpioinfo lists the names)" +
               (skipped.empty() ? "" : "; one could not be read: " + skipped);
    return {};
}

// The kernel's names of the lines of the chip at @path, and its own name,
// read once for all the names an open looks up.
const GpioBoard::ChipLines &GpioBoard::line_names(const std::string &path)
{
    for (const ChipLines &read : read_lines_) {
        if (read.path == path)
            return read;
    }
    ChipLines &chip = read_lines_.emplace_back();
    chip.path = path;
    const int fd = io_.open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        chip.reason = path + ": " + errno_text(errno);
        return chip;
    }
    gpiochip_info info{};
    if (io_.ioctl(fd, GPIO_GET_CHIPINFO_IOCTL, &info) < 0) {
        chip.reason = path + ": not a GPIO chip (" + errno_text(errno) + ")";
    } else {
        chip.name.assign(info.name, strnlen(info.name, sizeof info.name));
        for (std::uint32_t k = 0; k < info.lines && chip.reason.empty(); ++k) {
            gpio_v2_line_info line{};
            line.offset = k;
            if (io_.ioctl(fd, GPIO_V2_GET_LINEINFO_IOCTL, &line) < 0)
                chip.reason = chip.name + ": reading line " + std::to_string(k) +
                              " failed: " + errno_text(errno);
            chip.names.emplace_back(line.name, strnlen(line.name, sizeof line.name));
        }
    }
    io_.close(fd);
    return chip;
}

std::string GpioBoard::request(Chip &chip, const std::string &consumer)
{
    const int chip_fd = io_.open(chip.path.c_str(), O_RDWR | O_CLOEXEC);
    if (chip_fd < 0)
        return chip.path + ": " + errno_text(errno);

    std::string reason;
    gpiochip_info info{};
    if (io_.ioctl(chip_fd, GPIO_GET_CHIPINFO_IOCTL, &info) < 0) {
        reason = chip.path + ": not a GPIO chip (" + errno_text(errno) + ")";
    } else {
        chip.name.assign(info.name, strnlen(info.name, sizeof info.name));
        for (const std::uint32_t offset : chip.offsets) {
            if (offset >= info.lines) {
                reason = "line " + std::to_string(offset) + " is beyond " + chip.name + "'s " +
                         std::to_string(info.lines) + " lines";
                break;
            }
        }
    }

    if (reason.empty()) {
        gpio_v2_line_request req{};
        for (std::size_t i = 0; i < chip.offsets.size(); ++i)
            req.offsets[i] = chip.offsets[i];
        req.num_lines = static_cast<std::uint32_t>(chip.offsets.size());
        consumer.copy(req.consumer, sizeof req.consumer - 1);
        // Inputs by default, outputs by an attribute; outputs start low.
        if (chip.input_mask != 0) {
            req.config.flags = GPIO_V2_LINE_FLAG_INPUT;
            if (chip.output_mask != 0) {
                req.config.num_attrs = 1;
                req.config.attrs[0].attr.id = GPIO_V2_LINE_ATTR_ID_FLAGS;
                req.config.attrs[0].attr.flags = GPIO_V2_LINE_FLAG_OUTPUT;
                req.config.attrs[0].mask = chip.output_mask;
            }
        } else {
            req.config.flags = GPIO_V2_LINE_FLAG_OUTPUT;
        }
        if (io_.ioctl(chip_fd, GPIO_V2_GET_LINE_IOCTL, &req) < 0) {
            const int err = errno;
            reason = err == EBUSY ? busy_reason(chip_fd, chip)
                                  : chip.name + ": requesting lines failed: " + errno_text(err);
        } else {
            chip.fd = req.fd;
        }
    }
    io_.close(chip_fd);
    return reason;
}

// Names a line of @chip that someone else holds, and who.
std::string GpioBoard::busy_reason(int chip_fd, const Chip &chip)
{
    for (const std::uint32_t offset : chip.offsets) {
        gpio_v2_line_info info{};
        info.offset = offset;
        if (io_.ioctl(chip_fd, GPIO_V2_GET_LINEINFO_IOCTL, &info) == 0 &&
            (info.flags & GPIO_V2_LINE_FLAG_USED) != 0) {
            const std::string who(info.consumer, strnlen(info.consumer, sizeof info.consumer));
            return "line " + std::to_string(offset) + " of " + chip.name + " is in use by " +
                   (who.empty() ? "another user" : who);
        }
    }
    return chip.name + ": requesting lines failed: " + errno_text(EBUSY);
}

// Both run once a cycle; each chip picks its bits out of the word (32 at
// most), and nothing is allocated.
int GpioBoard::write(std::uint32_t pattern, std::string &reason)
{
    int result = 0;
    for (std::size_t c = 0; c < chips_.size(); ++c) {
        if (chips_[c].output_mask == 0)
            continue;
        gpio_v2_line_values values{0, chips_[c].output_mask};
        for (std::size_t i = 0; i < output_bits_.size(); ++i) {
            if (output_bits_[i].chip == c && (pattern >> i & 1U) != 0)
                values.bits |= bit(output_bits_[i].position);
        }
        if (io_.ioctl(chips_[c].fd, GPIO_V2_LINE_SET_VALUES_IOCTL, &values) < 0 && result == 0) {
            result = -errno;
            reason = chips_[c].name + ": writing the outputs failed: " + errno_text(errno);
        }
    }
    return result;
}

std::uint32_t GpioBoard::read(std::string &reason)
{
    std::uint32_t word = 0;
    for (std::size_t c = 0; c < chips_.size(); ++c) {
        if (chips_[c].input_mask == 0)
            continue;
        gpio_v2_line_values values{0, chips_[c].input_mask};
        if (io_.ioctl(chips_[c].fd, GPIO_V2_LINE_GET_VALUES_IOCTL, &values) < 0) {
            reason = chips_[c].name + ": reading the inputs failed: " + errno_text(errno);
            continue;
        }
        for (std::size_t i = 0; i < input_bits_.size(); ++i) {
            if (input_bits_[i].chip == c && (values.bits & bit(input_bits_[i].position)) != 0)
                word |= std::uint32_t{1} << i;
        }
    }
    return word;
}

void GpioBoard::release()
{
    described_.clear();
    for (const Chip &chip : chips_) {
        if (chip.fd >= 0)
            io_.close(chip.fd);
    }
    chips_.clear();
    output_bits_.clear();
    input_bits_.clear();
}

} // namespace vornel
