// The kernel's GPIO character devices, as the library uses them.
#include "chip_io.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace vornel {
namespace {

class SystemChipIo final : public ChipIo {
  public:
    int stat(const char *path, struct stat *st) override { return ::stat(path, st); }
    int open(const char *path, int flags) override { return ::open(path, flags); }
    int ioctl(int fd, unsigned long request, void *arg) override
    {
        return ::ioctl(fd, request, arg);
    }
    int close(int fd) override { return ::close(fd); }
};

} // namespace

ChipIo &chip_io()
{
    static SystemChipIo io;
    return io;
}

} // namespace vornel
