// What a Modbus board does differently on each system: its sockets, the
// bounded connect, the system's error text and the names of serial ports.
// modbus_link_posix.cpp and modbus_link_windows.cpp each provide it.
#ifndef VORNEL_MODBUS_LINK_H
#define VORNEL_MODBUS_LINK_H

#include <string>
#include <vector>

namespace vornel::link {

// A socket address as the system has it.
struct Address {
    alignas(8) unsigned char bytes[128];
    int length;
};

// Looks @host up once, for @port (decimal). Returns an empty string, or
// why it failed (modbus_link_common.cpp).
std::string resolve(const std::string &host, const std::string &port,
                    std::vector<Address> &addresses);

// Readies the system's sockets, once, before the first use.
void start_sockets();

// Why a look-up failed, from getaddrinfo()'s result @rc.
std::string lookup_error_text(int rc);

// n of "COM<n>" in any case or of "\\.\COM<n>", Windows' names of serial
// ports; 0 when n is not a port number 1-255, -1 for another form
// (modbus_link_common.cpp).
int com_port_number(const std::string &setting);

// A TCP socket connected to @address within @timeout_ms, as libmodbus's
// modbus_set_socket() takes it; or -1, with ETIMEDOUT or the system's
// error code in @error.
int connect(const Address &address, int timeout_ms, int &error);

// The system's own words for an error code from connect() or
// serial_error().
std::string error_text(int error);

// Why libmodbus could not open a serial port, right after modbus_connect()
// failed on it.
int serial_error();

// Called before each request; request_error_text() then says why the
// request failed, from libmodbus's @error and what the system saw.
void clear_error();
std::string request_error_text(int error);

// The port libmodbus opens for @setting, or "" if @setting does not name a
// serial port on this system.
std::string serial_port(const std::string &setting);

// What is wrong with @setting if it names a serial port as another system
// does; "" if it does not.
std::string foreign_serial_port(const std::string &setting);

// How a serial port is named here, for messages.
const char *serial_port_form();

// Whether libmodbus sets @baud on a serial port here (it would silently
// use 9600 instead).
bool baud_supported(int baud);

} // namespace vornel::link

#endif
