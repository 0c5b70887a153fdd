// What a line that does not read as expected is: a word for a test runner
// and the remark on its line of a map, for every program that shows maps.
#ifndef DIO_MAP_FAULT_H
#define DIO_MAP_FAULT_H

#include "wiring.h"

namespace dio_map {

struct Fault {
    const char *type;
    const char *remark;
};

inline Fault fault_of(const dio::wiring::Reading &r)
{
    using dio::wiring::Reads;
    switch (r.reads) {
    case Reads::follow:
        return {"crossed", "crossed"};
    case Reads::invert:
        return {"inverted", "inverted"};
    case Reads::low:
        return {"stuck-low", "stuck"};
    case Reads::high:
        return {"stuck-high", "stuck"};
    case Reads::wired_and:
    case Reads::wired_or:
        return {"shorted", "shorted"};
    case Reads::intermittent:
        return {"intermittent", "not the same for the same outputs"};
    case Reads::other:
        break;
    }
    return {"other", "not a wire: logic, or more than one fault"};
}

} // namespace dio_map

#endif
