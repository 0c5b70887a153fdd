// What the tools that drive outputs say when a board refuses a write.
#ifndef DIO_COMMON_DRIVE_H
#define DIO_COMMON_DRIVE_H

#include <cstdint>
#include <string>

namespace dio {

// "writing 80 to board 1 failed (Kestor_DOAll gave -5)"
std::string write_failed(std::int32_t board, std::uint32_t word, std::int32_t result);

// "board 1 refused the last write, all outputs low (Kestor_DOAll gave -5):
// DO 7 may be left high", for the write every run ends with; @driven holds
// the outputs that may have been high before it.
std::string refused_low(std::int32_t board, std::int32_t result, std::uint32_t driven);

} // namespace dio

#endif
