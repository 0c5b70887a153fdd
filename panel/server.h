// The panel's web side: one page, its script and style, a few calls and a
// live connection, over HTTP and WebSocket on one port, all on one thread
// whose sockets are never waited on.
#ifndef DIO_PANEL_SERVER_H
#define DIO_PANEL_SERVER_H

#include "station.h"

#include <boost/asio/io_context.hpp>

#include <memory>
#include <string>

namespace dio_panel {

struct Listen {
    std::string address = "127.0.0.1";
    unsigned short port = 8080;
    std::string token;
};

class Server {
  public:
    // Binds @listen on @io; throws std::runtime_error with the reason when
    // it cannot.
    Server(boost::asio::io_context &io, const Listen &listen, const Settings &board);
    ~Server();
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;

    // The port it listens on (the one picked, for port 0).
    [[nodiscard]] unsigned short port() const;

    // Starts taking connections.
    void start(Station &station);

    // Shows @state on every page; on the io thread.
    void publish(const State &state);

    // What the connections share: the sockets' context, the settings and
    // the state shown; its own file's business.
    struct Shared;

  private:
    std::shared_ptr<Shared> shared_;
};

} // namespace dio_panel

#endif
