// A comedi card in memory that keeps comedi's rules where the comedi board
// relies on them, for tests of the board on machines without a card.
#ifndef FAKE_CARD_H
#define FAKE_CARD_H

#include "comedi_io.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace fakecard {

class FakeCard final : public vornel::ComediIo {
  public:
    struct Subdevice {
        int type;
        unsigned channels;
        unsigned group = 1; // channels that share one direction
        std::vector<unsigned> output = std::vector<unsigned>(64, 0);
        std::uint64_t levels = 0; // latched outputs, and what inputs read
    };
    std::vector<Subdevice> subdevices;
    int open_error = 0;
    int fail_bitfield = 0; // errno of the next dio_bitfield2 calls
    bool is_open = false;
    std::vector<std::string> calls;

    bool open(const char * /*path*/) override
    {
        error_ = open_error;
        is_open = open_error == 0;
        return is_open;
    }
    void close() override { is_open = false; }
    int get_n_subdevices() override { return static_cast<int>(subdevices.size()); }
    int get_subdevice_type(unsigned s) override { return subdevices.at(s).type; }
    int get_n_channels(unsigned s) override { return static_cast<int>(subdevices.at(s).channels); }
    int dio_config(unsigned s, unsigned c, unsigned direction) override
    {
        calls.push_back("config " + std::to_string(c) + (direction != 0 ? " out" : " in"));
        Subdevice &sd = subdevices.at(s);
        const unsigned first = c / sd.group * sd.group;
        for (unsigned k = first; k < first + sd.group; ++k)
            sd.output.at(k) = direction;
        return 0;
    }
    int dio_get_config(unsigned s, unsigned c, unsigned &direction) override
    {
        direction = subdevices.at(s).output.at(c);
        return 0;
    }
    int dio_bitfield2(unsigned s, unsigned mask, unsigned &bits, unsigned base) override
    {
        calls.push_back("bits " + std::to_string(base) + " " + std::to_string(mask));
        if (fail_bitfield != 0) {
            error_ = fail_bitfield;
            return -1;
        }
        std::uint64_t &levels = subdevices.at(s).levels;
        levels = (levels & ~(std::uint64_t{mask} << base)) | (std::uint64_t{bits & mask} << base);
        bits = static_cast<unsigned>(levels >> base);
        return 0;
    }
    int error() override { return error_; }
    std::string error_text(int error) override { return std::strerror(error); }

  private:
    int error_ = 0;
};

} // namespace fakecard

#endif
