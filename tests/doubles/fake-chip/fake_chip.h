// GPIO chips in memory that answer the kernel's GPIO character device
// calls (interface version 2) by the kernel's rules, for tests of the GPIO
// board on machines without GPIO.
#ifndef FAKE_CHIP_H
#define FAKE_CHIP_H

#include "chip_io.h"

#include <linux/gpio.h>

#include <map>
#include <string>
#include <vector>

namespace fakechip {

class FakeChips final : public vornel::ChipIo {
  public:
    // Chips are named as the kernel names them and live at /dev/<name>.
    void add_chip(const std::string &name, unsigned lines);
    void deny(const std::string &name, int err); // opening fails with err
    // @path, e.g. a symbolic link, leads to chip @name too.
    void alias(const std::string &path, const std::string &name);
    void hold(const std::string &name, unsigned offset, const std::string &consumer);
    void name(const std::string &chip, unsigned offset, const std::string &line);
    // Input line @to reads what output line @from drives.
    void wire(const std::string &from, unsigned from_offset, const std::string &to,
              unsigned to_offset);
    void drive(const std::string &name, unsigned offset, bool high); // from outside
    void refuse(unsigned long request, int err);                     // the next such call fails
    [[nodiscard]] bool level(const std::string &name, unsigned offset) const;
    [[nodiscard]] std::size_t open_files() const { return files_.size(); }
    [[nodiscard]] std::size_t requested_lines() const; // by requests still open

    struct Call {
        unsigned long request;
        std::string chip;
    };
    std::vector<Call> calls;                    // every ioctl, in order
    std::vector<gpio_v2_line_request> requests; // every request granted

    std::vector<std::string> chips() override;
    int stat(const char *path, struct stat *st) override;
    int open(const char *path, int flags) override;
    int ioctl(int fd, unsigned long request, void *arg) override;
    int close(int fd) override;

  private:
    struct Line {
        bool requested = false;
        bool output = false;
        bool value = false; // driven by us (output) or from outside (input)
        std::string consumer;
        std::string name;
        std::string source_chip; // wired to an output line
        unsigned source_offset = 0;
    };
    struct Chip {
        std::vector<Line> lines;
        int deny = 0;
    };
    struct File {
        std::string chip;
        bool request = false;          // a line request, else the chip itself
        std::vector<unsigned> offsets; // of a line request
    };

    int get_line(File &file, gpio_v2_line_request &req);
    int line_values(File &file, unsigned long request, gpio_v2_line_values &values);
    int line_info(const File &file, gpio_v2_line_info &info);

    std::map<std::string, Chip> chips_;
    std::map<int, File> files_;
    [[nodiscard]] std::string resolve(const char *path) const;

    std::map<std::string, std::string> aliases_;
    std::map<unsigned long, int> refusals_;
    int next_fd_ = 100;
};

} // namespace fakechip

#endif
