#include "loopback_board.h"

namespace vornel {

std::string LoopbackBoard::open(const Settings & /*settings*/)
{
    last_written_ = 0;
    return {};
}

int LoopbackBoard::write(std::uint32_t pattern, std::string & /*reason*/)
{
    last_written_ = pattern;
    return 0;
}

std::uint32_t LoopbackBoard::read(std::string & /*reason*/)
{
    return last_written_;
}

void LoopbackBoard::release()
{
    last_written_ = 0;
}

} // namespace vornel
