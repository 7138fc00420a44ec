/* The six functions of Hidmar.dll, as both flavours (real/ and sim/) implement them.
 *
 * Hidmar.def exports them by ordinal only; the names here exist for the compiler and the linker
 * and are never visible in the library. Every function is __cdecl: the caller removes the
 * arguments, so a caller that misjudges the argument count still finds its stack intact. A
 * caller that resolves the ordinals at run time must declare its pointers __cdecl as well (the
 * decltype of these declarations carries the convention).
 *
 * None of the functions throws, and any of them may be called in any order from any thread. */
#ifndef TELIOX_COMPANIONS_HIDMAR_EXPORTS_H
#define TELIOX_COMPANIONS_HIDMAR_EXPORTS_H

#include <stdint.h>

#if defined(_WIN32)
#define HIDMAR_CALL __cdecl
#else
#define HIDMAR_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Ordinal 13. Non-zero when a HID device with these USB ids is present; the library remembers
 * it for ordinal 9. A search that finds nothing forgets what an earlier one found. */
int HIDMAR_CALL HidmarFindDevice(uint32_t vendorId, uint32_t productId);

/* Ordinal 9. Opens the device the last search found. Non-zero when open; from then on each
 * input report is posted to `window` (an HWND) as the notification message. Opening an open
 * device only changes the window. */
int HIDMAR_CALL HidmarOpenDevice(void* window);

/* Ordinal 22. The message number of the notifications; 0x464 (WM_USER + 100) until set. The
 * seven bytes b0..b6 of a report travel as wParam = b0 << 16 | b1 << 8 | b2 and
 * lParam = b3 << 24 | b4 << 16 | b5 << 8 | b6. */
void HIDMAR_CALL HidmarSetNotifyMessage(uint32_t message);

/* Ordinal 21. Writes `report[0..length)` as one output report; `length` must be 7. Non-zero when
 * written; zero when nothing is open or the device is gone. */
int HIDMAR_CALL HidmarWriteReport(const uint8_t* report, int length);

/* Ordinal 10. Stops delivering reports and closes the device. Returns once the reader has ended:
 * no notification is posted after it. */
void HIDMAR_CALL HidmarCloseDevice(void);

/* Ordinal 2. Closes what is still open and forgets the found device and the message number, so
 * the next user starts again with ordinal 13. */
void HIDMAR_CALL HidmarReleaseLibrary(void);

#ifdef __cplusplus
}
#endif

#endif
