#include "fake_chip.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>

#include <sys/sysmacros.h>

namespace fakechip {
namespace {

constexpr std::uint64_t kValidFlags =
    GPIO_V2_LINE_FLAG_ACTIVE_LOW | GPIO_V2_LINE_FLAG_INPUT | GPIO_V2_LINE_FLAG_OUTPUT |
    GPIO_V2_LINE_FLAG_EDGE_RISING | GPIO_V2_LINE_FLAG_EDGE_FALLING | GPIO_V2_LINE_FLAG_OPEN_DRAIN |
    GPIO_V2_LINE_FLAG_OPEN_SOURCE | GPIO_V2_LINE_FLAG_BIAS_PULL_UP |
    GPIO_V2_LINE_FLAG_BIAS_PULL_DOWN | GPIO_V2_LINE_FLAG_BIAS_DISABLED |
    GPIO_V2_LINE_FLAG_EVENT_CLOCK_REALTIME;

int fail(int err)
{
    errno = err;
    return -1;
}

bool all_zero(const void *p, std::size_t n)
{
    const auto *b = static_cast<const unsigned char *>(p);
    return std::all_of(b, b + n, [](unsigned char c) { return c == 0; });
}

bool has_bit(std::uint64_t mask, std::size_t i)
{
    return i < 64 && (mask >> i & 1U) != 0;
}

// The flags that apply to line @i of a request: the first flags attribute
// that names it, else the request's own.
std::uint64_t flags_of(const gpio_v2_line_config &config, std::size_t i)
{
    for (std::size_t a = 0; a < config.num_attrs; ++a) {
        if (config.attrs[a].attr.id == GPIO_V2_LINE_ATTR_ID_FLAGS &&
            has_bit(config.attrs[a].mask, i))
            return config.attrs[a].attr.flags;
    }
    return config.flags;
}

} // namespace

void FakeChips::add_chip(const std::string &name, unsigned lines)
{
    chips_["/dev/" + name].lines.resize(lines);
}

void FakeChips::deny(const std::string &name, int err)
{
    chips_["/dev/" + name].deny = err;
}

void FakeChips::alias(const std::string &path, const std::string &name)
{
    aliases_[path] = "/dev/" + name;
}

std::string FakeChips::resolve(const char *path) const
{
    const auto alias = aliases_.find(path);
    return alias != aliases_.end() ? alias->second : path;
}

void FakeChips::hold(const std::string &name, unsigned offset, const std::string &consumer)
{
    Line &line = chips_.at("/dev/" + name).lines.at(offset);
    line.requested = true;
    line.consumer = consumer;
}

void FakeChips::wire(const std::string &from, unsigned from_offset, const std::string &to,
                     unsigned to_offset)
{
    Line &line = chips_.at("/dev/" + to).lines.at(to_offset);
    line.source_chip = "/dev/" + from;
    line.source_offset = from_offset;
}

void FakeChips::drive(const std::string &name, unsigned offset, bool high)
{
    chips_.at("/dev/" + name).lines.at(offset).value = high;
}

void FakeChips::refuse(unsigned long request, int err)
{
    refusals_[request] = err;
}

bool FakeChips::level(const std::string &name, unsigned offset) const
{
    const Line &line = chips_.at("/dev/" + name).lines.at(offset);
    if (!line.output && !line.source_chip.empty())
        return chips_.at(line.source_chip).lines.at(line.source_offset).value;
    return line.value;
}

std::size_t FakeChips::requested_lines() const
{
    std::size_t n = 0;
    for (const auto &file : files_)
        n += file.second.offsets.size();
    return n;
}

// Each chip is a character device of its own number.
void FakeChips::name(const std::string &chip, unsigned offset, const std::string &line)
{
    chips_.at("/dev/" + chip).lines.at(offset).name = line;
}

std::vector<std::string> FakeChips::chips()
{
    std::vector<std::string> paths;
    for (const auto &chip : chips_)
        paths.push_back(chip.first);
    return paths;
}

int FakeChips::stat(const char *path, struct stat *st)
{
    const auto chip = chips_.find(resolve(path));
    if (chip == chips_.end())
        return fail(ENOENT);
    *st = {};
    st->st_mode = S_IFCHR | 0660;
    st->st_rdev = makedev(254, static_cast<unsigned>(std::distance(chips_.begin(), chip)));
    return 0;
}

int FakeChips::open(const char *path, int /*flags*/)
{
    const auto chip = chips_.find(resolve(path));
    if (chip == chips_.end())
        return fail(ENOENT);
    if (chip->second.deny != 0)
        return fail(chip->second.deny);
    files_[next_fd_] = File{chip->first, false, {}};
    return next_fd_++;
}

int FakeChips::close(int fd)
{
    const auto file = files_.find(fd);
    if (file == files_.end())
        return fail(EBADF);
    if (file->second.request) {
        for (const unsigned offset : file->second.offsets) {
            Line &line = chips_.at(file->second.chip).lines[offset];
            line.requested = false;
            line.output = false;
            line.consumer.clear();
        }
    }
    files_.erase(file);
    return 0;
}

int FakeChips::ioctl(int fd, unsigned long request, void *arg)
{
    const auto file = files_.find(fd);
    if (file == files_.end())
        return fail(EBADF);
    calls.push_back(Call{request, file->second.chip.substr(5)});
    const auto refusal = refusals_.find(request);
    if (refusal != refusals_.end()) {
        const int err = refusal->second;
        refusals_.erase(refusal);
        return fail(err);
    }

    File &f = file->second;
    const Chip &chip = chips_.at(f.chip);
    switch (request) {
    case GPIO_GET_CHIPINFO_IOCTL: {
        if (f.request)
            return fail(ENOTTY);
        auto *info = static_cast<gpiochip_info *>(arg);
        *info = gpiochip_info{};
        f.chip.copy(info->name, sizeof info->name - 1, 5);
        std::strcpy(info->label, "fake");
        info->lines = static_cast<std::uint32_t>(chip.lines.size());
        return 0;
    }
    case GPIO_V2_GET_LINEINFO_IOCTL:
        return f.request ? fail(ENOTTY) : line_info(f, *static_cast<gpio_v2_line_info *>(arg));
    case GPIO_V2_GET_LINE_IOCTL:
        return f.request ? fail(ENOTTY) : get_line(f, *static_cast<gpio_v2_line_request *>(arg));
    case GPIO_V2_LINE_SET_VALUES_IOCTL:
    case GPIO_V2_LINE_GET_VALUES_IOCTL:
        return f.request ? line_values(f, request, *static_cast<gpio_v2_line_values *>(arg))
                         : fail(ENOTTY);
    default:
        return fail(ENOTTY);
    }
}

int FakeChips::line_info(const File &file, gpio_v2_line_info &info)
{
    const Chip &chip = chips_.at(file.chip);
    if (!all_zero(info.padding, sizeof info.padding) || info.offset >= chip.lines.size())
        return fail(EINVAL);
    const Line &line = chip.lines[info.offset];
    const std::uint32_t offset = info.offset;
    info = gpio_v2_line_info{};
    info.offset = offset;
    line.consumer.copy(info.consumer, sizeof info.consumer - 1);
    line.name.copy(info.name, sizeof info.name - 1);
    info.flags = (line.requested ? GPIO_V2_LINE_FLAG_USED : 0) |
                 (line.output ? GPIO_V2_LINE_FLAG_OUTPUT : GPIO_V2_LINE_FLAG_INPUT);
    return 0;
}

int FakeChips::get_line(File &file, gpio_v2_line_request &req)
{
    Chip &chip = chips_.at(file.chip);
    const gpio_v2_line_config &config = req.config;
    if (req.num_lines == 0 || req.num_lines > GPIO_V2_LINES_MAX ||
        !all_zero(req.padding, sizeof req.padding) ||
        !all_zero(config.padding, sizeof config.padding) ||
        config.num_attrs > GPIO_V2_LINE_NUM_ATTRS_MAX)
        return fail(EINVAL);
    for (std::size_t i = 0; i < req.num_lines; ++i) {
        const std::uint64_t flags = flags_of(config, i);
        const bool in = (flags & GPIO_V2_LINE_FLAG_INPUT) != 0;
        const bool out = (flags & GPIO_V2_LINE_FLAG_OUTPUT) != 0;
        if ((flags & ~kValidFlags) != 0 || (in && out) || req.offsets[i] >= chip.lines.size())
            return fail(EINVAL);
    }
    for (std::size_t i = 0; i < req.num_lines; ++i) {
        const bool named_before =
            std::find(req.offsets, req.offsets + i, req.offsets[i]) != req.offsets + i;
        if (named_before || chip.lines[req.offsets[i]].requested)
            return fail(EBUSY);
    }

    File lines{file.chip, true, {}};
    for (std::size_t i = 0; i < req.num_lines; ++i) {
        Line &line = chip.lines[req.offsets[i]];
        line.requested = true;
        line.consumer.assign(req.consumer, strnlen(req.consumer, sizeof req.consumer));
        line.output = (flags_of(config, i) & GPIO_V2_LINE_FLAG_OUTPUT) != 0;
        if (line.output) {
            line.value = false;
            for (std::size_t a = 0; a < config.num_attrs; ++a) {
                if (config.attrs[a].attr.id == GPIO_V2_LINE_ATTR_ID_OUTPUT_VALUES &&
                    has_bit(config.attrs[a].mask, i)) {
                    line.value = has_bit(config.attrs[a].attr.values, i);
                    break;
                }
            }
        }
        lines.offsets.push_back(req.offsets[i]);
    }
    requests.push_back(req);
    files_[next_fd_] = lines;
    req.fd = next_fd_++;
    return 0;
}

// Bits and mask index the lines by their position in the request.
int FakeChips::line_values(File &file, unsigned long request, gpio_v2_line_values &values)
{
    if (values.mask == 0)
        return fail(EINVAL);
    Chip &chip = chips_.at(file.chip);
    const std::vector<unsigned> &offsets = file.offsets;
    if (request == GPIO_V2_LINE_SET_VALUES_IOCTL) {
        for (std::size_t i = 0; i < offsets.size(); ++i) {
            if (has_bit(values.mask, i) && !chip.lines[offsets[i]].output)
                return fail(EPERM);
        }
        for (std::size_t i = 0; i < offsets.size(); ++i) {
            if (has_bit(values.mask, i))
                chip.lines[offsets[i]].value = has_bit(values.bits, i);
        }
        return 0;
    }
    std::uint64_t bits = 0;
    for (std::size_t i = 0; i < offsets.size(); ++i) {
        if (has_bit(values.mask, i) && level(file.chip.substr(5), offsets[i]))
            bits |= std::uint64_t{1} << i;
    }
    values.bits = bits;
    return 0;
}

} // namespace fakechip
