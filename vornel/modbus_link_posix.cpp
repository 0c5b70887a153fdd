// The Modbus board's link on Linux: BSD sockets, poll, errno and /dev.
#include "modbus_link.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include <modbus.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vornel::link {

void start_sockets()
{
}

std::string lookup_error_text(int rc)
{
    return rc == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(rc);
}

int connect(const Address &address, int timeout_ms, int &error)
{
    const auto *to = reinterpret_cast<const sockaddr *>(address.bytes);
    const int fd = socket(to->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    error = 0;
    if (::connect(fd, to, static_cast<socklen_t>(address.length)) != 0) {
        error = errno;
        if (error == EINPROGRESS) {
            using Clock = std::chrono::steady_clock;
            const auto end = Clock::now() + std::chrono::milliseconds(timeout_ms);
            pollfd p{fd, POLLOUT, 0};
            int rc = 0;
            do {
                const auto wait =
                    std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
                rc = poll(&p, 1, static_cast<int>(std::max<long long>(wait.count(), 0)));
            } while (rc < 0 && errno == EINTR);
            socklen_t length = sizeof error;
            if (rc == 0)
                error = ETIMEDOUT;
            else if (rc < 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
                error = errno;
        }
    }
    if (error == 0)
        return fd;
    ::close(fd);
    return -1;
}

std::string error_text(int error)
{
    return std::strerror(error);
}

int serial_error()
{
    return errno;
}

void clear_error()
{
}

std::string request_error_text(int error)
{
    return modbus_strerror(error);
}

std::string serial_port(const std::string &setting)
{
    return setting[0] == '/' ? setting : "";
}

std::string foreign_serial_port(const std::string &setting)
{
    if (com_port_number(setting) < 0)
        return {};
    return "'" + setting + "' is how Windows names a serial port: on Linux give its device file, " +
           serial_port_form();
}

const char *serial_port_form()
{
    return "/dev/<serial port>, such as /dev/ttyUSB0";
}

bool baud_supported(int baud)
{
    // The speeds libmodbus sets on Linux.
    constexpr int kBauds[] = {110,     300,     600,     1200,    2400,    4800,    9600,   19200,
                              38400,   57600,   115200,  230400,  460800,  500000,  576000, 921600,
                              1000000, 1152000, 1500000, 2500000, 3000000, 3500000, 4000000};
    return std::find(std::begin(kBauds), std::end(kBauds), baud) != std::end(kBauds);
}

} // namespace vornel::link
