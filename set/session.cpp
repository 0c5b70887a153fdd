#include "session.h"

#include "bits.h"
#include "board.h"
#include "cli.h"
#include "drive.h"
#include "input.h"
#include "stop.h"
#include "watch.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace dio_set {

namespace {

using Clock = std::chrono::steady_clock;

// "7" as a line number 0-31 into @line; false when it is not one.
bool parse_line(const std::string &text, unsigned &line)
{
    if (text.empty() || text.size() > 2 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    line = static_cast<unsigned>(std::strtoul(text.c_str(), nullptr, 10));
    return line < 32;
}

// "80" or "0x80" as a word of up to 32 bits; "" or why not.
std::string parse_word(const std::string &text, std::uint32_t &word)
{
    const std::size_t p = text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0 ? 2 : 0;
    if (text.size() == p ||
        text.find_first_not_of("0123456789abcdefABCDEF", p) != std::string::npos)
        return "'" + text + "' is neither a hex word nor a line N=V";
    const std::size_t first = text.find_first_not_of('0', p);
    if (first != std::string::npos && text.size() - first > 8)
        return "'" + text + "' is more than 32 bits";
    word = static_cast<std::uint32_t>(std::strtoul(text.c_str() + p, nullptr, 16));
    return {};
}

std::string outside(std::uint32_t lines, std::uint32_t allowed)
{
    char mask[16];
    std::snprintf(mask, sizeof mask, "%" PRIx32, allowed);
    return dio::line_list("DO", lines) + (dio::ones(lines) > 1 ? " are" : " is") +
           " outside --outputs " + mask;
}

// The words of a command line.
std::vector<std::string> split(const std::string &line)
{
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;)
        words.push_back(w);
    return words;
}

// What a command asks of the session after it.
enum class Next { more, end, fail };

const char kHelp[] = "set WORD         write a hex word (set 80)\n"
                     "set N=V ...      set lines, the others as they are (set 7=1 12=0)\n"
                     "toggle N ...     flip lines\n"
                     "low, high        every output low; every output it may drive high\n"
                     "get              print do:<hex>,di:<hex>\n"
                     "watch            print the inputs as they change, until Enter\n"
                     "walk             each output alone high, a do:,di: line each\n"
                     "sleep MS         wait\n"
                     "help, exit       this text; every output low, and end\n";

class Session {
  public:
    Session(const Settings &s, Outputs &outputs) : s_(s), out_(outputs) {}

    // Runs the command @words; a wrong one gets one line on standard error.
    Next run(const std::vector<std::string> &words)
    {
        const std::string &name = words.front();
        const std::vector<std::string> rest(words.begin() + 1, words.end());
        if (name == "set" || name == "toggle" || name == "low" || name == "high")
            return drive(name, rest);
        if (!rest.empty() && name != "sleep")
            return wrong("'" + name + "' takes nothing after it");
        if (name == "get")
            return shown(out_.print_reading());
        if (name == "watch")
            return watch();
        if (name == "walk")
            return walk();
        if (name == "sleep")
            return sleep(rest);
        if (name == "help")
            return std::fputs(kHelp, stdout) == EOF ? lost() : Next::more;
        if (name == "exit" || name == "quit")
            return Next::end;
        return wrong("'" + name + "' is not a command (help lists them)");
    }

    LineReader &input() { return in_; }

  private:
    static Next wrong(const std::string &why)
    {
        dio::complain(why);
        return Next::more;
    }

    static Next lost()
    {
        dio::complain("standard output could not be written");
        return Next::fail;
    }

    Next written(std::uint32_t word)
    {
        if (out_.write(word))
            return Next::more;
        dio::complain(out_.why());
        return Next::fail;
    }

    static Next shown(Shown s)
    {
        return s == Shown::lost ? lost() : s == Shown::stopped ? Next::end : Next::more;
    }

    Next drive(const std::string &name, const std::vector<std::string> &rest)
    {
        if (name == "low" || name == "high") {
            if (!rest.empty())
                return wrong("'" + name + "' takes nothing after it");
            return written(name == "low" ? 0 : s_.outputs);
        }
        std::uint32_t word = out_.held();
        if (name == "set") {
            const std::string why = parse_assignment(rest, s_.outputs, word);
            return why.empty() ? written(word) : wrong(why);
        }
        if (rest.empty())
            return wrong("toggle needs the lines to flip (toggle 7)");
        std::uint32_t flip = 0;
        for (const std::string &w : rest) {
            unsigned line = 0;
            if (!parse_line(w, line))
                return wrong("'" + w + "' is not a line 0-31");
            flip |= 1U << line;
        }
        if ((flip & ~s_.outputs) != 0)
            return wrong(outside(flip & ~s_.outputs, s_.outputs));
        return written(word ^ flip);
    }

    Next watch()
    {
        dio_get::WatchSettings w;
        w.board = s_.board;
        w.poll_ms = s_.poll_ms;
        const bool printed = dio_get::watch(
            w, [](void *reader) { return static_cast<LineReader *>(reader)->waiting(); }, &in_);
        if (!printed)
            return lost();
        // The line that ended it is not a command.
        std::string line;
        return in_.next(line) == LineReader::Got::end ? Next::end : Next::more;
    }

    Next walk()
    {
        const std::uint32_t was = out_.held();
        for (unsigned i = 0; i < 32; ++i) {
            if (!dio::has(s_.outputs, i))
                continue;
            const Next n = written(1U << i);
            if (n != Next::more)
                return n;
            const Next r = shown(out_.print_reading());
            if (r != Next::more)
                return r;
        }
        return written(was);
    }

    static Next sleep(const std::vector<std::string> &rest)
    {
        char *end = nullptr;
        const double ms = rest.size() == 1 ? std::strtod(rest[0].c_str(), &end) : -1;
        if (end == nullptr || *end != '\0' || !(ms >= 0 && ms <= 3600000))
            return wrong("sleep needs a number of milliseconds 0-3600000 (sleep 500)");
        const Clock::time_point until =
            Clock::now() + std::chrono::duration_cast<Clock::duration>(
                               std::chrono::duration<double, std::milli>(ms));
        for (Clock::time_point now = Clock::now(); now < until && dio::stop_signal == 0;
             now = Clock::now())
            dio_get::pause_ms(std::chrono::duration<double, std::milli>(until - now).count());
        return dio::stop_signal != 0 ? Next::end : Next::more;
    }

    const Settings &s_;
    Outputs &out_;
    LineReader in_;
};

} // namespace

std::string parse_assignment(const std::vector<std::string> &words, std::uint32_t allowed,
                             std::uint32_t &word)
{
    if (words.empty())
        return "give a hex word (80) or lines N=V (7=1 12=1)";
    std::uint32_t named = 0;
    std::uint32_t value = word;
    if (words.size() == 1 && words[0].find('=') == std::string::npos) {
        std::string why = parse_word(words[0], value);
        if (!why.empty())
            return why;
        named = value;
    } else {
        for (const std::string &w : words) {
            const std::size_t eq = w.find('=');
            if (eq == std::string::npos)
                return "'" + w + "' among lines: give one hex word, or lines N=V";
            unsigned line = 0;
            if (!parse_line(w.substr(0, eq), line))
                return "'" + w + "': line " + w.substr(0, eq) + " is not one of 0-31";
            const std::string v = w.substr(eq + 1);
            if (v != "0" && v != "1")
                return "'" + w + "': a line is set to 0 or 1";
            if (dio::has(named, line))
                return "'" + w + "': line " + std::to_string(line) + " is named twice";
            named |= 1U << line;
            value = v == "1" ? value | 1U << line : value & ~(1U << line);
        }
    }
    if ((named & ~allowed) != 0)
        return outside(named & ~allowed, allowed);
    word = value;
    return {};
}

bool Outputs::write(std::uint32_t word)
{
    maybe_high_ |= word;
    const std::int32_t result = Kestor_DOAll(s_.board, word);
    written_at_ = Clock::now();
    if (result < 0) {
        why_ = dio::write_failed(s_.board, word, result);
        return false;
    }
    held_ = word;
    maybe_high_ = word;
    return true;
}

Shown Outputs::print_reading() const
{
    // A reading never shows the inputs before they had time to follow.
    const Clock::time_point due =
        written_at_ + std::chrono::duration_cast<Clock::duration>(
                          std::chrono::duration<double, std::milli>(s_.settle_ms));
    for (Clock::time_point now = Clock::now(); now < due; now = Clock::now()) {
        if (dio::stop_signal != 0)
            return Shown::stopped;
        dio_get::pause_ms(std::chrono::duration<double, std::milli>(due - now).count());
    }
    if (dio::stop_signal != 0)
        return Shown::stopped;
    const std::uint32_t inputs = Kestor_DIAll(s_.board);
    const bool ok = std::printf("do:%" PRIx32 ",di:%" PRIx32 "\n", held_, inputs) > 0 &&
                    std::fflush(stdout) == 0;
    return ok ? Shown::yes : Shown::lost;
}

std::string Outputs::lower()
{
    const std::uint32_t driven = maybe_high_;
    const std::int32_t result = Kestor_DOAll(s_.board, 0);
    if (result < 0)
        return dio::refused_low(s_.board, result, driven);
    held_ = maybe_high_ = 0;
    return {};
}

int prompt(const Settings &s, Outputs &outputs)
{
    Session session(s, outputs);
    LineReader &in = session.input();
    std::string line;
    Next next = Next::more;
    while (next == Next::more && dio::stop_signal == 0) {
        if (in.terminal() && (std::fputs("dio> ", stdout) == EOF || std::fflush(stdout) != 0)) {
            next = Next::fail;
            break;
        }
        const LineReader::Got got = in.next(line);
        if (got == LineReader::Got::end) {
            if (in.terminal() && dio::stop_signal == 0)
                std::fputs("\n", stdout); // after the prompt Ctrl+D left
            break;
        }
        if (got == LineReader::Got::too_long) {
            dio::complain("a line of more than 4096 characters, not a command");
            continue;
        }
        const std::vector<std::string> words = split(line.substr(0, line.find('#')));
        if (!words.empty())
            next = session.run(words);
    }
    return next == Next::fail ? dio::kTrouble : 0;
}

} // namespace dio_set
