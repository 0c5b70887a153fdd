// The Modbus board's link on Windows: Winsock, select, the system's
// message table and COM ports.
#include "modbus_link.h"

#include <algorithm>
#include <cctype>
#include <cerrno>

#include <modbus.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

namespace vornel::link {

// Winsock is started once and left to the end of the process.
void start_sockets()
{
    static const bool started = [] {
        WSADATA data{};
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
}

std::string lookup_error_text(int rc)
{
    return error_text(rc);
}

int connect(const Address &address, int timeout_ms, int &error)
{
    start_sockets();
    const auto *to = reinterpret_cast<const sockaddr *>(address.bytes);
    // Not inherited by programs this one starts, as SOCK_CLOEXEC on Linux.
    const SOCKET s = WSASocketW(to->sa_family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) {
        error = WSAGetLastError();
        return -1;
    }
    u_long non_blocking = 1;
    const char one = 1;
    ioctlsocket(s, FIONBIO, &non_blocking);
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    error = 0;
    if (::connect(s, to, address.length) != 0) {
        error = WSAGetLastError();
        if (error == WSAEWOULDBLOCK) {
            fd_set writable;
            fd_set failed;
            FD_ZERO(&writable);
            FD_ZERO(&failed);
            FD_SET(s, &writable);
            FD_SET(s, &failed);
            timeval wait{timeout_ms / 1000, timeout_ms % 1000 * 1000};
            const int rc = select(0, nullptr, &writable, &failed, &wait);
            int length = sizeof error;
            if (rc == 0)
                error = ETIMEDOUT;
            else if (rc < 0 || getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&error),
                                          &length) != 0)
                error = WSAGetLastError();
        }
    }
    if (error == 0)
        return static_cast<int>(s); // as libmodbus keeps a socket on Windows
    closesocket(s);
    return -1;
}

std::string error_text(int error)
{
    char *text = nullptr;
    const DWORD n = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<char *>(&text), 0, nullptr);
    std::string message = n > 0 && text != nullptr ? std::string(text, n) : "";
    LocalFree(text);
    while (!message.empty() && std::isspace(static_cast<unsigned char>(message.back())) != 0)
        message.pop_back();
    if (!message.empty() && message.back() == '.')
        message.pop_back();
    return message.empty() ? "Windows error " + std::to_string(error) : message;
}

int serial_error()
{
    return static_cast<int>(GetLastError());
}

void clear_error()
{
    WSASetLastError(0);
}

std::string request_error_text(int error)
{
    // libmodbus's own codes, and its timeouts, are its to name; a socket
    // that failed under it left the system's code behind.
    if (error >= MODBUS_ENOBASE || error == ETIMEDOUT)
        return modbus_strerror(error);
    if (WSAGetLastError() != 0)
        return error_text(WSAGetLastError());
    if (error == ECONNRESET) // the module closed the connection
        return error_text(WSAECONNRESET);
    return modbus_strerror(error);
}

std::string serial_port(const std::string &setting)
{
    // The \\.\ form opens every port, COM10 and above too.
    const int n = com_port_number(setting);
    return n > 0 ? R"(\\.\COM)" + std::to_string(n) : "";
}

std::string foreign_serial_port(const std::string &setting)
{
    if (setting[0] == '/')
        return "'" + setting + "' is how Linux names a serial port: on Windows give " +
               serial_port_form();
    if (com_port_number(setting) == 0)
        return "'" + setting + "' is not a serial port 1-255: give " + serial_port_form();
    return {};
}

const char *serial_port_form()
{
    return R"(COM<n>, such as COM3, or \\.\COM<n>)";
}

bool baud_supported(int baud)
{
    // The speeds libmodbus sets on Windows.
    constexpr int kBauds[] = {110,    300,    600,    1200,   2400,   4800,
                              9600,   14400,  19200,  38400,  57600,  115200,
                              230400, 250000, 460800, 500000, 921600, 1000000};
    return std::find(std::begin(kBauds), std::end(kBauds), baud) != std::end(kBauds);
}

} // namespace vornel::link
