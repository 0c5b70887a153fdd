// A map as text, as dio-map prints it and a map file holds it: a line per
// judged input with its remark, then the notes. For every program that
// shows maps.
#ifndef DIO_MAP_MAP_TEXT_H
#define DIO_MAP_MAP_TEXT_H

#include "mapper.h"
#include "wiring.h"

#include <string>
#include <vector>

namespace dio_map {

// Milliseconds with as many decimals as their size needs: 0.005, 2.4, 1000.
std::string ms_text(double ms);

struct MapLine {
    unsigned di;
    std::string text;   // "DI 4: DO 5  # crossed"
    std::string remark; // "crossed", or "" for a line that reads as expected
};

// Each judged input's line, against @expected: a remark names the fault of
// a line that does not read as expected, or what was expected of one the
// expected map names.
std::vector<MapLine> map_lines(const Map &r, const Settings &s, const dio::wiring::Map &expected);

// What follows the lines, each line a comment: the outputs that drive no
// input, the settle time, and the writes taken in @seconds.
std::string map_notes(const Map &r, const Settings &s, double seconds);

} // namespace dio_map

#endif
