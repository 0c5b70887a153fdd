// comedilib, as the library uses it.
#include "comedi_io.h"

#include <comedilib.h>

namespace vornel {
namespace {

class SystemComediIo final : public ComediIo {
  public:
    ~SystemComediIo() override { SystemComediIo::close(); }
    SystemComediIo() = default;
    SystemComediIo(const SystemComediIo &) = delete;
    SystemComediIo &operator=(const SystemComediIo &) = delete;
    SystemComediIo(SystemComediIo &&) = delete;
    SystemComediIo &operator=(SystemComediIo &&) = delete;

    bool open(const char *path) override
    {
        close();
        device_ = comedi_open(path);
        return device_ != nullptr;
    }
    void close() override
    {
        if (device_ != nullptr)
            comedi_close(device_);
        device_ = nullptr;
    }
    int get_n_subdevices() override { return comedi_get_n_subdevices(device_); }
    int get_subdevice_type(unsigned subdevice) override
    {
        return comedi_get_subdevice_type(device_, subdevice);
    }
    int get_n_channels(unsigned subdevice) override
    {
        return comedi_get_n_channels(device_, subdevice);
    }
    int dio_config(unsigned subdevice, unsigned channel, unsigned direction) override
    {
        return comedi_dio_config(device_, subdevice, channel, direction);
    }
    int dio_get_config(unsigned subdevice, unsigned channel, unsigned &direction) override
    {
        return comedi_dio_get_config(device_, subdevice, channel, &direction);
    }
    int dio_bitfield2(unsigned subdevice, unsigned write_mask, unsigned &bits,
                      unsigned base_channel) override
    {
        return comedi_dio_bitfield2(device_, subdevice, write_mask, &bits, base_channel);
    }
    int error() override { return comedi_errno(); }
    std::string error_text(int error) override { return comedi_strerror(error); }

  private:
    comedi_t *device_ = nullptr;
};

} // namespace

ComediIo &comedi_io()
{
    static SystemComediIo io;
    return io;
}

} // namespace vornel
