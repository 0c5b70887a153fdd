#include "input.h"

#include "stop.h"

#include <cerrno>

#if defined(_WIN32)
#include <conio.h>
#include <io.h>
#include <windows.h>
#else
#include <poll.h>
#include <unistd.h>
#endif

namespace dio_set {

namespace {

constexpr std::size_t kChunk = 512;

// What one read of standard input brought: bytes, the end, or nothing yet.
long read_some(char *into, bool block, bool &ended)
{
#if defined(_WIN32)
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD want = kChunk;
    if (!block) {
        switch (GetFileType(in)) {
        case FILE_TYPE_PIPE: {
            DWORD waiting = 0;
            if (PeekNamedPipe(in, nullptr, 0, nullptr, &waiting, nullptr) == 0) {
                ended = true;
                return 0;
            }
            if (waiting == 0)
                return 0;
            want = waiting < want ? waiting : want;
            break;
        }
        case FILE_TYPE_CHAR:
            // A key pressed: the line it begins is read in full, blocking.
            if (_kbhit() == 0)
                return 0;
            break;
        default:
            break;
        }
    }
    DWORD got = 0;
    if (ReadFile(in, into, want, &got, nullptr) == 0 || got == 0) {
        // Ctrl+C ends a console read too, just before its handler runs.
        Sleep(50);
        ended = dio::stop_signal == 0;
        return 0;
    }
    return static_cast<long>(got);
#else
    if (!block) {
        pollfd p{STDIN_FILENO, POLLIN, 0};
        if (poll(&p, 1, 0) <= 0)
            return 0;
    }
    const ssize_t got = read(STDIN_FILENO, into, kChunk);
    if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN))
        ended = true;
    return got > 0 ? static_cast<long>(got) : 0;
#endif
}

} // namespace

LineReader::LineReader()
{
    buffer_.reserve(kLongestLine + kChunk);
#if defined(_WIN32)
    terminal_ = _isatty(_fileno(stdin)) != 0;
#else
    terminal_ = isatty(STDIN_FILENO) != 0;
#endif
}

void LineReader::fill(bool block)
{
    char chunk[kChunk];
    const long got = read_some(chunk, block, ended_);
    buffer_.append(chunk, static_cast<std::size_t>(got));
    // A line past the longest is dropped as it comes, up to its end.
    if (buffer_.size() > kLongestLine && buffer_.find('\n') == std::string::npos) {
        buffer_.clear();
        dropping_ = true;
    }
}

LineReader::Got LineReader::next(std::string &line)
{
    for (;;) {
        const std::size_t eol = buffer_.find('\n');
        if (eol != std::string::npos || (ended_ && (!buffer_.empty() || dropping_))) {
            const std::size_t end = eol == std::string::npos ? buffer_.size() : eol;
            line.assign(buffer_, 0, end);
            buffer_.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            const bool dropped = dropping_;
            dropping_ = false;
            return dropped || line.size() > kLongestLine ? Got::too_long : Got::line;
        }
        if (ended_ || dio::stop_signal != 0)
            return Got::end;
        fill(true);
    }
}

bool LineReader::waiting()
{
    if (!ended_ && buffer_.find('\n') == std::string::npos)
        fill(false);
    return ended_ || buffer_.find('\n') != std::string::npos;
}

} // namespace dio_set
