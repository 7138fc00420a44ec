/* The seven functions of Sonvane.dll, the device manager's audio control library, as both
 * flavours (real/ and sim/) implement them.
 *
 * Exported by their plain names (extern "C", __cdecl, undecorated: Sonvane.def names them), so a
 * caller links them through the import library. None of them throws; any may be called from any
 * thread: the library serialises its calls with one lock.
 *
 * Names are the devices' names as the system reports them, cut to SONVANE_MAX_NAME characters:
 * the callers pass 255 as the size of their 256-byte buffers, so a 255th character would be lost
 * in the lists but not in the defaults, and the two would never compare equal. */
#ifndef TELIOX_COMPANIONS_SONVANE_EXPORTS_H
#define TELIOX_COMPANIONS_SONVANE_EXPORTS_H

#define SONVANE_MAX_NAME 254

#if defined(_WIN32)
#define SONVANE_CALL __cdecl
#else
#define SONVANE_CALL
#endif

#if defined(_WIN32) && defined(SONVANE_BUILDING)
#define SONVANE_API __declspec(dllexport)
#elif defined(_WIN32)
#define SONVANE_API __declspec(dllimport)
#else
#define SONVANE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Reads the device lists and the defaults' source again; every other call answers from what the
 * last refresh found (the first call of any kind refreshes once). `keyPath` is the caller's
 * settings key and is not used. Non-zero when the lists could be read. */
SONVANE_API int SONVANE_CALL UpdateAudioDevice(const char* keyPath);

/* Counts of active recording and playback devices. */
SONVANE_API unsigned SONVANE_CALL APIwaveInGetNumDevs(void);
SONVANE_API unsigned SONVANE_CALL APIwaveOutGetNumDevs(void);

/* Copies the name of device `device` (from 0, in the system's order) into `name`, a buffer of
 * `size` bytes: at most size - 1 characters and the terminator. Non-zero when the device exists;
 * an unknown index leaves the empty text (when size > 0) and gives 0. */
SONVANE_API int SONVANE_CALL APIwaveInGetDevCaps(unsigned device, char* name, int size);
SONVANE_API int SONVANE_CALL APIwaveOutGetDevCaps(unsigned device, char* name, int size);

/* Fills both 256-byte buffers with the names of the system's default recording and playback
 * devices (asked afresh, not from the lists). Non-zero when both exist; 0 leaves both empty. */
SONVANE_API int SONVANE_CALL GetDefaultAudioDevice(char* inputName, char* outputName);

/* Makes the named active devices the system's defaults for every role. Names match exactly,
 * case-sensitively; an empty or unknown name, or a system that refuses, gives 0. */
SONVANE_API int SONVANE_CALL SetDefaultAudioDevice(const char* inputName, const char* outputName);

#ifdef __cplusplus
}
#endif

#endif
