#include "loopback_board.h"

#include "settings.h"

namespace vornel {

std::string LoopbackBoard::open(const Settings &settings)
{
    release();
    const std::string path = settings(kPlug);
    if (path.empty())
        return {};
    // Read once, here: a plug does not change while the board is open.
    dio::wiring::Map plug;
    std::string reason = dio::wiring::read_file(path, plug);
    for (unsigned j = 0; reason.empty() && j < 32; ++j) {
        const dio::wiring::Reads reads = plug.di[j].reads;
        if (reads == dio::wiring::Reads::intermittent || reads == dio::wiring::Reads::other)
            reason = path + ": DI " + std::to_string(j) + ": " + text(plug.di[j]) +
                     " is not something a plug can be wired as (DO i, !DO i, low, high, "
                     "DO a & DO b, DO a | DO b)";
    }
    if (!reason.empty())
        return std::string(kPlug) + ": " + reason;
    plug_ = plug;
    plug_path_ = path;
    return {};
}

std::string LoopbackBoard::describe() const
{
    return plug_path_.empty() ? "the simulated board, a straight loopback plug"
                              : "the simulated board, its plug wired as " + plug_path_;
}

int LoopbackBoard::write(std::uint32_t pattern, std::string & /*reason*/)
{
    last_written_ = pattern;
    return 0;
}

std::uint32_t LoopbackBoard::read(std::string & /*reason*/)
{
    return dio::wiring::inputs(plug_, last_written_);
}

void LoopbackBoard::release()
{
    last_written_ = 0;
    plug_ = dio::wiring::Map();
    plug_path_.clear();
}

} // namespace vornel
