// The comedilib calls that touch a comedi device, behind one seam, so that
// the comedi board can be tested against a fake device on machines without
// a card.
#ifndef VORNEL_COMEDI_IO_H
#define VORNEL_COMEDI_IO_H

#include <string>

namespace vornel {

// One device at a time. Each call behaves like the comedilib function of
// the same name on the open device: on failure -1 (false for open), and
// error() then says why, as comedi_errno() does right after the call.
class ComediIo {
  public:
    ComediIo() = default;
    ComediIo(const ComediIo &) = delete;
    ComediIo &operator=(const ComediIo &) = delete;
    ComediIo(ComediIo &&) = delete;
    ComediIo &operator=(ComediIo &&) = delete;
    virtual ~ComediIo() = default;

    virtual bool open(const char *path) = 0;
    virtual void close() = 0;
    virtual int get_n_subdevices() = 0;
    virtual int get_subdevice_type(unsigned subdevice) = 0;
    virtual int get_n_channels(unsigned subdevice) = 0;
    virtual int dio_config(unsigned subdevice, unsigned channel, unsigned direction) = 0;
    virtual int dio_get_config(unsigned subdevice, unsigned channel, unsigned &direction) = 0;
    virtual int dio_bitfield2(unsigned subdevice, unsigned write_mask, unsigned &bits,
                              unsigned base_channel) = 0;
    virtual int error() = 0;
    virtual std::string error_text(int error) = 0;
};

// The comedi access the library uses: comedilib's, or a test's fake.
ComediIo &comedi_io();

} // namespace vornel

#endif
