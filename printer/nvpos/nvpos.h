/*
 * nvpos: the printer library that nvlogo talks to.
 *
 * A small C library that opens one connection to an ESC/POS printer and sends raw
 * bytes over it. The program loads it at run time by file name (libnvpos.so) and
 * resolves these five entry points by name.
 *
 * Connections are numbered by positive handles, never 0 and never -1. POS_StartDoc,
 * POS_EndDoc and POS_Close take no handle: they act on the connection opened last
 * that is still open.
 *
 * All functions are safe to call from any thread; calls are serialised internally.
 */
#ifndef NVPOS_H
#define NVPOS_H

#include <stdint.h>

#if defined(_WIN32)
#define NVPOS_API __declspec(dllexport)
#else
#define NVPOS_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Open modes, the sixth argument of POS_Open. */
#define NVPOS_MODE_SERIAL 1
#define NVPOS_MODE_PARALLEL 18
#define NVPOS_MODE_DRIVER 20
#define NVPOS_MODE_ETHERNET 21

/* Results. Any negative value is a failure. */
#define NVPOS_OK 0
#define NVPOS_ERR_OPEN (-1)        /* POS_Open: no connection was opened */
#define NVPOS_ERR_NO_CONNECTION (-2) /* the handle names no open connection */
#define NVPOS_ERR_ARGUMENT (-3)    /* a null pointer, a negative count or a bad mode */
#define NVPOS_ERR_TIMEOUT (-4)     /* the peer took no data for too long */
#define NVPOS_ERR_IO (-5)          /* the device, socket or print server reported an error */

/*
 * Opens a connection and returns its handle (> 0), or NVPOS_ERR_OPEN.
 *   name      ETHERNET: "host" or "host:port" (raw TCP, port 9100 by default)
 *             SERIAL:   "COMn" (the n-th serial device) or "COM:/dev/path"
 *             PARALLEL: "LPTn" (/dev/lp<n-1>, else /dev/usb/lp<n-1>) or "LPT:/dev/path"
 *             DRIVER:   the name of a CUPS destination
 *   baudRate  serial only: the line speed in bits per second
 *   dataBits  serial only: 8 (7 is also accepted)
 *   parity    serial only: 0 none, 1 odd, 2 even
 *   stopBits  serial only: 0 for one stop bit, 1 or 2 for two
 *   openMode  one of the NVPOS_MODE_ values
 */
NVPOS_API int32_t POS_Open(const char *name, int32_t baudRate, int32_t dataBits, int32_t parity,
                           int32_t stopBits, int32_t openMode);

/*
 * Sends count bytes, unchanged and in order. Returns the number of bytes sent (== count)
 * or a negative NVPOS_ERR_ value; on a failure an unknown part may have been sent.
 */
NVPOS_API int32_t POS_WriteFile(int32_t handle, const char *data, int32_t count);

/*
 * Frames a document on the connection opened last. On a DRIVER connection a document is
 * one print job; a write outside a document starts one, which the next POS_EndDoc or
 * POS_Close finishes. On the other kinds these do nothing. Return NVPOS_OK or a negative
 * NVPOS_ERR_ value.
 */
NVPOS_API int32_t POS_StartDoc(void);
NVPOS_API int32_t POS_EndDoc(void);

/* Closes the connection opened last, finishing an open document first. Returns NVPOS_OK or
 * a negative NVPOS_ERR_ value (NVPOS_ERR_NO_CONNECTION when nothing is open). */
NVPOS_API int32_t POS_Close(void);

#ifdef __cplusplus
}
#endif

#endif /* NVPOS_H */
