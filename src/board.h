// The board library's three operations, declared as dio-exerciser calls them.
//
// Any library that exports these with C linkage can stand behind the
// program: the maker's own, the stand-in in vornel/, or a test double.
#ifndef DIO_EXERCISER_BOARD_H
#define DIO_EXERCISER_BOARD_H

#include <cstdint>

#if defined(_WIN32)
#if defined(KESTOR_BUILDING_LIBRARY)
#define KESTOR_API __declspec(dllexport)
#else
#define KESTOR_API __declspec(dllimport)
#endif
#else
#define KESTOR_API __attribute__((visibility("default")))
#endif

extern "C" {

// Opens board @device. Negative on failure, zero or more once it is open.
KESTOR_API std::int32_t Kestor_OpenDevice(std::int32_t device);

// Drives all digital outputs of @device at once; bit i is output line i.
KESTOR_API std::int32_t Kestor_DOAll(std::int32_t device, std::uint32_t pattern);

// Reads all digital inputs of @device at once; bit i is input line i.
KESTOR_API std::uint32_t Kestor_DIAll(std::int32_t device);

} // extern "C"

#endif // DIO_EXERCISER_BOARD_H
