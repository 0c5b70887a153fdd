// The page, its script and its style, built into the program: a station
// has no internet, and the panel no files to lose.
#ifndef DIO_PANEL_PAGE_H
#define DIO_PANEL_PAGE_H

#include <cstddef>
#include <string>

namespace dio_panel {

struct Asset {
    const char *type; // its Content-Type
    const char *data;
    std::size_t size;
};

// "/index.html", "/panel.js" or "/panel.css".
const Asset &asset(const std::string &path);

} // namespace dio_panel

#endif
