// The system calls that touch a GPIO chip, behind one seam, so that the
// GPIO board can be tested against a fake chip on machines without one.
#ifndef VORNEL_CHIP_IO_H
#define VORNEL_CHIP_IO_H

#include <string>
#include <vector>

#include <sys/stat.h>

namespace vornel {

// Each call behaves like the system call of the same name: -1 and errno
// on failure.
class ChipIo {
  public:
    ChipIo() = default;
    ChipIo(const ChipIo &) = delete;
    ChipIo &operator=(const ChipIo &) = delete;
    ChipIo(ChipIo &&) = delete;
    ChipIo &operator=(ChipIo &&) = delete;
    virtual ~ChipIo() = default;

    // The device files of every GPIO chip, /dev/gpiochip0 first.
    virtual std::vector<std::string> chips() = 0;
    virtual int stat(const char *path, struct stat *st) = 0;
    virtual int open(const char *path, int flags) = 0;
    virtual int ioctl(int fd, unsigned long request, void *arg) = 0;
    virtual int close(int fd) = 0;
};

// The chip access the library uses: the kernel's, or a test's fake.
ChipIo &chip_io();

} // namespace vornel

#endif
