/*
 * quorbit: access to the photo card of the camera accessory.
 *
 * A host loads libquorbit.so and calls these functions one at a time from one
 * thread. Operations return 1 on success and 0 on failure; queries return 0
 * when no device is open or the card was not recognised. Paths are
 * NUL-terminated 8-bit strings in the locale's character set, and name
 * regular files: a FIFO, device node, socket or folder is refused with 0 at
 * once, before the camera is used.
 *
 * A call that uses the camera or changes the session (OpenDevice,
 * CloseDevice, the operations, SetProcessFunc), made while another such call
 * runs (from a progress function, or from another thread), does nothing and
 * returns its failure value (-1 for CloseDevice); the running call goes on.
 * The queries and GetString may be called from the progress functions.
 *
 * Usual order: SetProcessFunc, OpenDevice, GetFlashSize (0 = card not
 * recognised), GetPhotoCount / GetPhotoTotalSize, operations, CloseDevice.
 */
#ifndef QUORBIT_H
#define QUORBIT_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(QUORBIT_BUILDING)
#define QUORBIT_API __attribute__((visibility("default")))
#else
#define QUORBIT_API
#endif

/* Called after each step of a long operation. */
typedef void (*ProgressStepFunc)(void);
/* Called once at the start of a long operation with its number of steps. */
typedef void (*ProgressBeginFunc)(int32_t steps);

/* Opens the first camera and recognises its card: 1 when a device was opened. */
QUORBIT_API int OpenDevice(void);
/* Closes it: nonzero when the close succeeded, -1 when nothing was open. */
QUORBIT_API int CloseDevice(void);
/* 1 while a device is open. */
QUORBIT_API int IsConnect(void);
/* Photos on the card. */
QUORBIT_API uint16_t GetPhotoCount(void);
/* Photo slots of the card (26, 52, 104, 208 or 340). */
QUORBIT_API int GetPhotoTotalSize(void);
/* Card size in MB (8, 16, 32, 64 or 128); 0 when the card is not recognised. */
QUORBIT_API uint16_t GetFlashSize(void);
/* Reads photo `index` (0 .. count-1) into a 24-bit 322 x 242 BMP file. */
QUORBIT_API int ReadPhotoToFile(int index, const char* path);
/* Removes photo `index` from the card's directory. */
QUORBIT_API int DeletePhoto(int index);
/* Stores a 24-bit 322 x 242 BMP file as a new photo. */
QUORBIT_API int WriteFileToFlash(const char* path);
/* Writes a fresh, empty directory. size_mb 0 keeps the recognised card's
 * geometry; 8, 16, 32, 64 or 128 choose one for an unrecognised card. */
QUORBIT_API int FormatFlash(int size_mb);
/* Copies the whole card into an image file. */
QUORBIT_API int ReadAll(const char* path);
/* Copies localised text `id` (1..14) into buffer (at least 255 bytes). */
QUORBIT_API int GetString(int id, char* buffer);
/* Registers the progress functions (either may be null). */
QUORBIT_API void SetProcessFunc(ProgressStepFunc step, ProgressBeginFunc begin);

#ifdef __cplusplus
}
#endif

#endif /* QUORBIT_H */
