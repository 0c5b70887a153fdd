// Reading the inputs by hand: once, or watched for changes. dio-get's
// core, and dio-set's get and watch commands.
#ifndef DIO_GET_WATCH_H
#define DIO_GET_WATCH_H

#include <cstdint>

namespace dio_get {

struct WatchSettings {
    std::int32_t board = 1;
    std::uint32_t inputs = ~0U; // the lines shown; the others print as 0
    double poll_ms = 10;        // between two reads
    std::uint64_t count = 0;    // changes to end after; 0: no end but a signal
};

// What ends a watch besides a signal and the count: called between reads,
// true to end.
using WatchEnd = bool (*)(void *context);

// Prints "<seconds> di:<hex>" at once and again each time a shown input
// changes, with the lines that rose and fell ("0.130 di:8 +3 -4"), the
// seconds since it began with 3 decimals. Returns false when standard
// output could not be written. Allocates nothing once it runs.
bool watch(const WatchSettings &s, WatchEnd end = nullptr, void *context = nullptr);

// Sleeps @ms, or less when a signal arrives.
void pause_ms(double ms);

} // namespace dio_get

#endif
