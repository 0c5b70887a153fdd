// The simulated board: a loopback plug on every line, so each input reads
// the output of the same number (0 before the first write). A map file in
// VORNEL_BOARD1_PLUG wires the plug otherwise: crossed, inverted, stuck or
// shorted lines, as dio-map writes them.
#ifndef VORNEL_LOOPBACK_BOARD_H
#define VORNEL_LOOPBACK_BOARD_H

#include "io_board.h"
#include "wiring.h"

namespace vornel {

class LoopbackBoard final : public IoBoard {
  public:
    std::string open(const Settings &settings) override;
    int write(std::uint32_t pattern, std::string &reason) override;
    std::uint32_t read(std::string &reason) override;
    void release() override;
    [[nodiscard]] std::string describe() const override;

  private:
    std::string plug_path_;
    std::uint32_t last_written_ = 0;
    dio::wiring::Map plug_;
};

} // namespace vornel

#endif
