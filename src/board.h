/* The board library's three operations, declared as dio-exerciser calls
 * them: the one declaration of them, in C, that the programs here include
 * and that the stand-in installs for programs of your own.
 *
 * Any library that exports these with C linkage can stand behind the
 * programs: the maker's own, the stand-in in vornel/, or a test double. */
#ifndef DIO_EXERCISER_BOARD_H
#define DIO_EXERCISER_BOARD_H

#include <stdint.h> /* NOLINT(modernize-deprecated-headers): C includes it too */

#if defined(_WIN32)
#if defined(KESTOR_BUILDING_LIBRARY)
#define KESTOR_API __declspec(dllexport)
#else
#define KESTOR_API __declspec(dllimport)
#endif
#else
#define KESTOR_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Opens board @device. Negative on failure, zero or more once it is open. */
KESTOR_API int32_t Kestor_OpenDevice(int32_t device);

/* Drives all digital outputs of @device at once; bit i is output line i. */
KESTOR_API int32_t Kestor_DOAll(int32_t device, uint32_t pattern);

/* Reads all digital inputs of @device at once; bit i is input line i. */
KESTOR_API uint32_t Kestor_DIAll(int32_t device);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* DIO_EXERCISER_BOARD_H */
