// The parts of the Modbus board's link that every system shares.
#include "modbus_link.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <sys/socket.h>
#endif

namespace vornel::link {

std::string resolve(const std::string &host, const std::string &port,
                    std::vector<Address> &addresses)
{
    start_sockets();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo *list = nullptr;
    const int rc = getaddrinfo(host.c_str(), port.c_str(), &hints, &list);
    if (rc != 0)
        return lookup_error_text(rc);
    for (const addrinfo *a = list; a != nullptr; a = a->ai_next) {
        Address address{};
        address.length =
            static_cast<int>(std::min<std::size_t>(a->ai_addrlen, sizeof address.bytes));
        std::memcpy(address.bytes, a->ai_addr, static_cast<std::size_t>(address.length));
        addresses.push_back(address);
    }
    freeaddrinfo(list);
    return {};
}

int com_port_number(const std::string &setting)
{
    std::string upper;
    for (const char c : setting)
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const std::size_t at = upper.rfind(R"(\\.\)", 0) == 0 ? 4 : 0;
    if (upper.compare(at, 3, "COM") != 0 || upper.size() == at + 3 ||
        upper.find_first_not_of("0123456789", at + 3) != std::string::npos)
        return -1;
    const std::string digits = upper.substr(at + 3);
    return digits.size() <= 3 && std::stoi(digits) <= 255 ? std::stoi(digits) : 0;
}

} // namespace vornel::link
