// The board behind the panel: a thread of its own that alone calls the
// board library. It holds the output word and writes it whole on every
// change, reads the inputs every poll, walks the outputs and maps the
// wiring. The web side hands it commands and gets its state back as
// posted handlers, so neither ever waits on the other: the board is never
// held up by a socket, and a page never by the board.
#ifndef DIO_PANEL_STATION_H
#define DIO_PANEL_STATION_H

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/thread_pool.hpp>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace dio_panel {

struct Settings {
    std::int32_t board = 1;
    std::uint32_t outputs = ~0U; // the outputs the panel may drive
    std::uint32_t inputs = ~0U;  // the inputs it shows
    double poll_ms = 20;
};

// What the board is doing, as every page shows it.
struct State {
    std::uint32_t held = 0;                 // the word last written, and taken
    std::uint32_t inputs = 0;               // as last read, shown lines only
    const char *busy = "";                  // "walk" or "map" while one runs
    std::string error;                      // the last write the board refused
    std::uint64_t errors = 0;               // how many it refused
    std::uint64_t maps = 0;                 // how many maps were found
    std::shared_ptr<const std::string> map; // the last, as JSON
};

enum class Action { word, walk, map };

// What a page asks of the board. For Action::word, the outputs in @mask
// take their value from @word and the others keep theirs: a whole word
// has every bit in @mask, one line just its own. The board's thread
// applies it to the word it holds, so two quick clicks both count.
struct Command {
    Action action = Action::word;
    std::uint32_t word = 0;
    std::uint32_t mask = ~0U;
};

class Station {
  public:
    // @publish is called on @web's thread with each new state.
    Station(boost::asio::io_context &web, const Settings &s,
            std::function<void(const State &)> publish);
    ~Station();
    Station(const Station &) = delete;
    Station &operator=(const Station &) = delete;

    // Starts the board's thread, with every output written low; the board
    // must be open.
    void start();

    // Ends it, and writes the outputs low. Returns "", or which outputs
    // may be left high where the board refused that.
    std::string stop();

    // Hands the board a command, from @web's thread. Returns "", or why it
    // was refused (a walk or a map running, too many waiting); nothing is
    // driven then.
    std::string submit(const Command &command);

  private:
    void poll();
    void write(std::uint32_t word);
    void walk_from(unsigned line, std::uint32_t restore);
    void find_map();
    void publish();

    boost::asio::io_context &web_;
    Settings s_;
    std::function<void(const State &)> publish_;
    boost::asio::io_context board_;
    boost::asio::steady_timer poll_timer_{board_};
    boost::asio::steady_timer walk_timer_{board_};
    boost::asio::thread_pool thread_{1};
    State state_;                 // the board thread's own
    std::atomic<int> waiting_{0}; // commands posted, not yet done
    std::atomic<bool> busy_{false};
    bool started_ = false;
};

} // namespace dio_panel

#endif
