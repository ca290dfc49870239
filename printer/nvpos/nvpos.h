/*
 * nvpos: the printer library that nvlogo talks to.
 *
 * A small C library that opens a connection to an ESC/POS printer and sends raw bytes over
 * it. The program loads it at run time by file name (libnvpos.so) and resolves these
 * entry points by name: the five POS_ calls, and NVPOS_LastError and NVPOS_SetProgressCallback,
 * which a program may treat as optional.
 *
 * Handles. POS_Open numbers its connections with positive handles that increase from one
 * open to the next; 0 and -1 never name a connection, so a write with either fails instead
 * of reaching some other printer. A handle stays valid until its connection is closed.
 * POS_StartDoc, POS_EndDoc and POS_Close take no handle: they act on the connection opened
 * last that is still open.
 *
 * Threads. Every function may be called from any thread; one lock serialises the calls, so
 * a long write holds up the others. A serial connection may be used from a thread other than
 * the one that opened it. Serial ports work with a QApplication, a QCoreApplication or no Qt
 * application object at all; without one, Qt warns that it cannot watch the port, and the
 * library's blocking writes work all the same.
 *
 * Time. No call blocks without a bound:
 *   - connecting over TCP (host name lookup included), and to the print server, gives up
 *     after 3 s;
 *   - a write fails when no byte moves for the no-progress time, 10 s by default, which the
 *     environment variable NVPOS_WRITE_TIMEOUT_MS (a whole number of milliseconds, 1 or more)
 *     replaces. A byte moves when the system takes it and again when it is delivered (see
 *     POS_WriteFile), so a printer that stops acknowledging, or a serial line that stops
 *     draining, fails the write after that time even when every byte was handed over;
 *     the time also bounds each wait for the print server's answer (libcups tries a request
 *     twice, so a server that never answers is given up after about twice that);
 *   - a serial write also fails when it takes longer, in all, than
 *         2 * count * bitsPerCharacter / baudRate seconds + the no-progress time,
 *     where bitsPerCharacter counts the start bit, the data bits, the parity bit and the stop
 *     bits (10 for 8N1); twice the line time leaves room for the printer's flow control.
 * A write also waits in slices of at most 200 ms, between which it calls the progress
 * function (NVPOS_SetProgressCallback), which may stop it.
 *
 * Diagnostics. Every failing call keeps a plain English sentence saying why, for example
 * "Cannot connect to 127.0.0.1:9101: Connection refused", which NVPOS_LastError returns on the
 * same thread until that thread's next POS_ call. The reason is also written to the Qt logging
 * category "nvlogo.nvpos" (warnings, on by default).
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

/* Results. Zero or positive is success; every negative value is a failure. */
#define NVPOS_OK 0
/* POS_Open only: no connection was opened (unknown host, refused or timed-out connection,
 * missing or busy device, bad serial settings, unknown, stopped or rejecting print queue, bad
 * name or mode). */
#define NVPOS_ERR_OPEN (-1)
/* The handle names no open connection (0, -1, never issued or already closed), or, for the
 * calls without a handle, no connection is open at all. */
#define NVPOS_ERR_NO_CONNECTION (-2)
/* A null data pointer with a positive count, or a negative count. Nothing was sent. */
#define NVPOS_ERR_ARGUMENT (-3)
/* The printer or the print server took no data, or gave no answer, for too long (see Time
 * above). Part of the data may have been sent; a print job in progress is cancelled if the
 * server can still be reached. */
#define NVPOS_ERR_TIMEOUT (-4)
/* The socket, the device or the print server reported an error (connection reset, device
 * unplugged, reader gone, job refused). Part of the data may have been sent; a print job in
 * progress is cancelled if the server can still be reached. */
#define NVPOS_ERR_IO (-5)
/* POS_WriteFile only: the progress function asked to stop. What was still queued for the
 * printer was dropped (a TCP connection is reset when it is closed); part of the data may have
 * reached the printer. */
#define NVPOS_ERR_CANCELLED (-6)

/*
 * Opens a connection and returns its handle (> 0), or NVPOS_ERR_OPEN.
 *   name      ETHERNET: "host" or "host:port" (raw TCP, port 9100 by default); host is a
 *                       name, an IPv4 address or an IPv6 address ("[::1]:9100" with a port)
 *             SERIAL:   "COMn" (on Linux /dev/ttyS<n-1>) or "COM:/dev/path"
 *             PARALLEL: "LPTn" (/dev/lp<n-1>, or /dev/usb/lp<n-1> when the first does not
 *                       exist) or "LPT:/path" (a device, a FIFO or an existing regular file,
 *                       which is appended to)
 *             DRIVER:   the name of a CUPS destination ("queue" or "queue/instance") on the
 *                       default print server (cupsServer(); CUPS_SERVER chooses another)
 *             Blanks around the name are ignored.
 *   baudRate  SERIAL only: the line speed in bits per second (> 0)
 *   dataBits  SERIAL only: 5 to 8
 *   parity    SERIAL only: 0 none, 1 odd, 2 even
 *   stopBits  SERIAL only: 0 or 1 for one stop bit, 2 for two
 *   openMode  one of the NVPOS_MODE_ values
 * The other kinds ignore the serial arguments. A serial port uses RTS/CTS hardware flow
 * control; NVPOS_SERIAL_FLOW=none in the environment turns it off for a cable that does not
 * carry the printer's busy signal.
 */
NVPOS_API int32_t POS_Open(const char *name,
                           int32_t baudRate,
                           int32_t dataBits,
                           int32_t parity,
                           int32_t stopBits,
                           int32_t openMode);

/*
 * Sends count bytes from data, unchanged and in order, over the connection of handle.
 * Returns count once every byte was delivered, or a negative NVPOS_ERR_ value. Delivered means:
 *   ETHERNET  acknowledged by the printer's network stack (not merely queued in this machine);
 *   SERIAL    sent on the line: out of the port's buffers, the driver's included;
 *   PARALLEL  taken by the device's driver (a USB printer: the last transfer completed); for a
 *             FIFO taken by the pipe; for a regular file written and flushed to the disk;
 *   DRIVER    taken by the print server as part of the document; the job counts only when
 *             POS_EndDoc or POS_Close finishes it successfully.
 * A count of 0 sends nothing and returns 0. On a DRIVER connection a write outside a
 * document starts one, which the next POS_EndDoc or POS_Close finishes.
 */
NVPOS_API int32_t POS_WriteFile(int32_t handle, const char *data, int32_t count);

/*
 * Frame a document on the connection opened last. On a DRIVER connection a document is one
 * raw print job: POS_StartDoc creates it (finishing a document still open first) and returns
 * its job id (> 0); POS_EndDoc finishes it and returns its job id, or NVPOS_OK when no
 * document was open. On the other kinds both do nothing and return NVPOS_OK. Either may
 * return NVPOS_ERR_NO_CONNECTION, NVPOS_ERR_TIMEOUT or NVPOS_ERR_IO.
 */
NVPOS_API int32_t POS_StartDoc(void);
NVPOS_API int32_t POS_EndDoc(void);

/*
 * Closes the connection opened last, finishing a document still open first. Returns the job
 * id of a document it finished (> 0), NVPOS_OK, or a negative NVPOS_ERR_ value
 * (NVPOS_ERR_NO_CONNECTION when nothing is open). The connection is closed in every case.
 */
NVPOS_API int32_t POS_Close(void);

/*
 * Copies the reason of the last failed call made on this thread into buffer, NUL-terminated
 * and cut to size - 1 bytes (UTF-8), and returns the reason's full length in bytes, without the
 * NUL; 0 when there is none. buffer may be null when size is 0, which asks for the length only.
 * Every POS_ call clears the thread's reason when it starts and sets it when it fails, so the
 * reason belongs to the last POS_ call; NVPOS_LastError and NVPOS_SetProgressCallback leave it
 * as it is.
 */
NVPOS_API int32_t NVPOS_LastError(char *buffer, int32_t size);

/*
 * Progress of POS_WriteFile: moved is how many of the call's total bytes actually moved on
 * (ETHERNET: acknowledged by the printer; SERIAL: left the port; PARALLEL: taken by write();
 * DRIVER: taken by the print server). Return 0 to go on; any other value stops the write,
 * which then returns NVPOS_ERR_CANCELLED with the reason "Stopped after N of M bytes".
 */
typedef int32_t (*NVPOS_ProgressFn)(int64_t moved, int64_t total, void *context);

/*
 * Sets, for the calling thread only, the function that POS_WriteFile calls on that thread
 * while it runs: whenever moved changes, at least every 200 ms while the write waits (with the
 * same counts), and once at the end with moved == total when the write succeeded. context is
 * passed on unchanged. A null callback removes it. The callback runs inside the library's lock
 * and must not call any function of this library.
 */
NVPOS_API void NVPOS_SetProgressCallback(NVPOS_ProgressFn callback, void *context);

#ifdef __cplusplus
}
#endif

#endif /* NVPOS_H */
