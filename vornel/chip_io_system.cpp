// The kernel's GPIO character devices, as the library uses them.
#include "chip_io.h"

#include <algorithm>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace vornel {
namespace {

class SystemChipIo final : public ChipIo {
  public:
    std::vector<std::string> chips() override
    {
        std::vector<std::string> paths;
        if (DIR *dev = opendir("/dev")) {
            while (const dirent *entry = readdir(dev)) {
                if (std::strncmp(entry->d_name, "gpiochip", 8) == 0)
                    paths.push_back(std::string("/dev/") + entry->d_name);
            }
            closedir(dev);
        }
        // gpiochip2 before gpiochip10.
        std::sort(paths.begin(), paths.end(), [](const std::string &a, const std::string &b) {
            return a.size() != b.size() ? a.size() < b.size() : a < b;
        });
        return paths;
    }
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
