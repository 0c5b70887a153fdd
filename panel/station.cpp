#include "station.h"

#include "bits.h"
#include "board.h"
#include "drive.h"
#include "map_text.h"
#include "mapper.h"
#include "stop.h"
#include "wiring.h"

#include <boost/asio/post.hpp>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cinttypes>
#include <cstdio>

namespace dio_panel {

namespace {

using Clock = std::chrono::steady_clock;

// How long the walk holds each output high alone.
constexpr double kWalkStepMs = 250;

nlohmann::json list(std::uint32_t lines)
{
    nlohmann::json l = nlohmann::json::array();
    for (unsigned i = 0; i < 32; ++i) {
        if (dio::has(lines, i))
            l.push_back(i);
    }
    return l;
}

// The map as the page draws it: a reading per input, and the map file as
// dio-map prints it.
std::string map_to_json(const dio_map::Map &r, const dio_map::Settings &s, double seconds)
{
    nlohmann::json lines = nlohmann::json::array();
    std::string text;
    for (const dio_map::MapLine &line : dio_map::map_lines(r, s, dio::wiring::Map{})) {
        const dio::wiring::Reading &got = r.finder.reading(line.di);
        text += line.text + "\n";
        lines.push_back({{"di", line.di},
                         {"reads", dio::wiring::kind_name(got.reads)},
                         {"do", list(got.outputs)},
                         {"text", dio::wiring::text(got)},
                         {"remark", line.remark}});
    }
    text += dio_map::map_notes(r, s, seconds);
    return nlohmann::json{
        {"type", "map"}, {"lines", lines}, {"unused", list(r.finder.unused())}, {"text", text}}
        .dump();
}

} // namespace

Station::Station(boost::asio::io_context &web, const Settings &s,
                 std::function<void(const State &)> publish)
    : web_(web), s_(s), publish_(std::move(publish))
{
}

Station::~Station()
{
    if (started_)
        stop();
}

void Station::start()
{
    started_ = true;
    // The word the panel starts from: every output low, as it shows them.
    boost::asio::post(board_, [this] {
        write(0);
        poll();
    });
    boost::asio::post(thread_, [this] {
        const auto work = boost::asio::make_work_guard(board_);
        board_.run();
    });
}

std::string Station::stop()
{
    started_ = false;
    board_.stop();
    thread_.join();
    const std::int32_t result = Kestor_DOAll(s_.board, 0);
    return result < 0 ? dio::refused_low(s_.board, result, state_.held) : "";
}

std::string Station::submit(const Command &command)
{
    if (busy_)
        return "a walk or a map is running";
    // A few commands wait at most: a page that sends more than the board
    // takes is told so, and nothing queues without end.
    if (waiting_ >= 64)
        return "the board is behind; try again";
    ++waiting_;
    if (command.action != Action::word)
        busy_ = true;
    boost::asio::post(board_, [this, command] {
        --waiting_;
        if (command.action == Action::word)
            write((state_.held & ~command.mask) | (command.word & command.mask));
        else if (command.action == Action::walk)
            walk_from(0, state_.held);
        else
            find_map();
    });
    return {};
}

void Station::publish()
{
    boost::asio::post(web_, [this, state = state_] { publish_(state); });
}

void Station::write(std::uint32_t word)
{
    const std::int32_t result = Kestor_DOAll(s_.board, word);
    if (result < 0) {
        state_.error = dio::write_failed(s_.board, word, result);
        ++state_.errors;
    } else {
        state_.held = word;
    }
    publish();
}

void Station::poll()
{
    const std::uint32_t word = Kestor_DIAll(s_.board) & s_.inputs;
    if (word != state_.inputs) {
        state_.inputs = word;
        publish();
    }
    poll_timer_.expires_after(std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double, std::milli>(s_.poll_ms)));
    poll_timer_.async_wait([this](const boost::system::error_code &ec) {
        if (!ec)
            poll();
    });
}

void Station::walk_from(unsigned line, std::uint32_t restore)
{
    while (line < 32 && !dio::has(s_.outputs, line))
        ++line;
    if (line == 32 || dio::stop_signal != 0) {
        state_.busy = "";
        busy_ = false;
        write(restore);
        return;
    }
    state_.busy = "walk";
    write(1U << line);
    walk_timer_.expires_after(std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double, std::milli>(kWalkStepMs)));
    walk_timer_.async_wait([this, line, restore](const boost::system::error_code &ec) {
        if (!ec)
            walk_from(line + 1, restore);
    });
}

void Station::find_map()
{
    state_.busy = "map";
    publish();
    dio_map::Settings m;
    m.board = s_.board;
    m.outputs = s_.outputs;
    m.inputs = s_.inputs;
    const Clock::time_point began = Clock::now();
    const dio_map::Map r = dio_map::find_map(m);
    const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
    state_.busy = "";
    busy_ = false;
    // The map ends with the outputs low, where the board took it.
    if (r.lowered >= 0)
        state_.held = 0;
    if (r.outcome == dio_map::Outcome::write_failed) {
        state_.error = dio::write_failed(s_.board, r.failed_pattern, r.failed_result);
        ++state_.errors;
    } else if (r.lowered < 0) {
        state_.error = dio::refused_low(s_.board, r.lowered, r.driven);
        ++state_.errors;
    } else if (r.outcome == dio_map::Outcome::mapped) {
        state_.map = std::make_shared<const std::string>(map_to_json(r, m, seconds));
        ++state_.maps;
    }
    publish();
}

} // namespace dio_panel
