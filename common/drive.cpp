#include "drive.h"

#include "bits.h"

#include <cinttypes>
#include <cstdio>

namespace dio {

std::string write_failed(std::int32_t board, std::uint32_t word, std::int32_t result)
{
    char why[96];
    std::snprintf(why, sizeof why,
                  "writing %" PRIx32 " to board %" PRId32 " failed (Kestor_DOAll gave %" PRId32 ")",
                  word, board, result);
    return why;
}

std::string refused_low(std::int32_t board, std::int32_t result, std::uint32_t driven)
{
    char why[128];
    std::snprintf(why, sizeof why,
                  "board %" PRId32
                  " refused the last write, all outputs low (Kestor_DOAll gave %" PRId32 "): ",
                  board, result);
    return why + (driven != 0 ? line_list("DO", driven) + " may be left high"
                              : std::string("the outputs may be left as they were"));
}

} // namespace dio
