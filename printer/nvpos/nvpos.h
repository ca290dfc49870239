/*
 * nvpos: the printer library that nvlogo talks to.
 *
 * A small C library that opens a connection to an ESC/POS printer, sends raw bytes over it
 * and, where the connection has a back channel, hears what the printer answers. The program
 * loads it at run time by file name (libnvpos.so.2) and resolves these entry points by name:
 * the five POS_ calls, which every version has, and the NVPOS_ calls, which a program may treat
 * as optional (NVPOS_LastError and NVPOS_SetProgressCallback since version 1, the others since
 * version 2.0; NVPOS_Version tells which).
 *
 * Handles. POS_Open numbers its connections with positive handles that increase from one
 * open to the next; 0 and -1 never name a connection, so a write with either fails instead
 * of reaching some other printer. A handle stays valid until its connection is closed.
 * POS_StartDoc, POS_EndDoc and POS_Close take no handle: they act on the connection opened
 * last that is still open; NVPOS_StartDoc, NVPOS_EndDoc and NVPOS_Close do the same for the
 * connection of a handle.
 *
 * Threads. Every function may be called from any thread, and a connection may be used from a
 * thread other than the one that opened it. Each connection has its own lock: calls on one
 * connection run one after the other, while calls on different connections run at the same
 * time, so a long write to one printer holds up no other printer. A close waits for a call in
 * progress on the same connection. The library needs no Qt application object.
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
 *   - NVPOS_Read waits at most the time it is given.
 * A write also waits in slices of at most 200 ms, between which it calls the progress
 * function (NVPOS_SetProgressCallback), which may stop it.
 *
 * Back channel. While it writes, a connection that can hear the printer (NVPOS_CAN_READ) also
 * takes in what the printer sends, so that a printer answering during a long write never stalls
 * it; the bytes wait for NVPOS_Read in the connection's buffer of 64 KiB, which drops its oldest
 * bytes when it is full. ETHERNET reads the socket, SERIAL the port, PARALLEL a device whose
 * driver allows reading (a USB printer with a bidirectional interface); a regular file, a FIFO
 * and DRIVER (a print queue passes no answers back) cannot be read.
 *
 * Diagnostics. Every failing call keeps a plain English sentence saying why, for example
 * "Cannot connect to 127.0.0.1:9101: Connection refused", which NVPOS_LastError returns on the
 * same thread until that thread's next POS_ call, and NVPOS_LastErrorKind sorts into kinds
 * (NVPOS_KIND_). The library writes to the program's Qt logging, category "nvlogo.nvpos":
 *   - warnings (on by default) only for what no result reports: an environment setting that
 *     is ignored, a print job that could not be cancelled, a file that could not be cut back;
 *   - every failure's reason, and each address of a host that refused before the last one, at
 *     info level, off by default, so that a program that shows the reason itself shows it once.
 *     QT_LOGGING_RULES="nvlogo.nvpos.info=true" turns them on, for example to see what a
 *     window program met; QT_LOGGING_RULES="nvlogo.nvpos.warning=false" (or the same rule in
 *     QLoggingCategory::setFilterRules) silences the library altogether.
 * Below, "POS_ call" means every call but NVPOS_LastError, NVPOS_LastErrorKind,
 * NVPOS_SetProgressCallback and NVPOS_Version.
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

/* The version of this header; NVPOS_Version gives the loaded library's. */
#define NVPOS_VERSION_MAJOR 2
#define NVPOS_VERSION_MINOR 0

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
/* The connection cannot do it: NVPOS_Read where there is no back channel. */
#define NVPOS_ERR_UNSUPPORTED (-7)

/* Failure kinds of the calling thread's last failed call (NVPOS_LastErrorKind). */
#define NVPOS_KIND_NONE 0
#define NVPOS_KIND_NOT_FOUND 1  /* no such host, device, port or queue */
#define NVPOS_KIND_PERMISSION 2 /* EACCES/EPERM: e.g. not in the lp or dialout group */
#define NVPOS_KIND_BUSY 3       /* EBUSY, a locked serial port */
#define NVPOS_KIND_TIMEOUT 4
#define NVPOS_KIND_REFUSED 5 /* connection refused, queue stopped or rejecting jobs */
#define NVPOS_KIND_CANCELLED 6
#define NVPOS_KIND_UNSUPPORTED 7
#define NVPOS_KIND_IO 8 /* anything else; also the peer closing the connection */

/* Capabilities of an open connection (NVPOS_Capabilities), a bit set. */
#define NVPOS_CAN_READ 0x1         /* NVPOS_Read can hear the printer */
#define NVPOS_FRAMES_DOCUMENTS 0x2 /* StartDoc/EndDoc make a job (DRIVER) */

/*
 * Opens a connection and returns its handle (> 0), or NVPOS_ERR_OPEN.
 *   name      ETHERNET: "host" or "host:port" (raw TCP, port 9100 by default); host is a
 *                       name, an IPv4 address or an IPv6 address ("[::1]:9100" with a port)
 *             SERIAL:   "COMn" (on Linux /dev/ttyS<n-1>) or "COM:/dev/path"
 *             PARALLEL: "LPTn" (/dev/lp<n-1>, or /dev/usb/lp<n-1> when the first does not
 *                       exist) or "LPT:/path" (a device, a FIFO or an existing regular file,
 *                       which is appended to)
 *             DRIVER:   the name of a CUPS destination ("queue" or "queue/instance") on the
 *                       default print server (cupsServer(); CUPS_SERVER chooses another); a
 *                       library built without CUPS refuses every queue (NVPOS_KIND_UNSUPPORTED)
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
 * return NVPOS_ERR_NO_CONNECTION, NVPOS_ERR_TIMEOUT or NVPOS_ERR_IO. A document counts as
 * finished only once the print server answered that it took it: a wait for that answer that
 * ends without one is NVPOS_ERR_TIMEOUT ("The print server did not answer the document on
 * <queue>: ..."), and the job is cancelled if it still can be.
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
 * passed on unchanged. A null callback removes it. The callback runs with the connection's lock
 * held (not the lock of the table of connections), so it may use other connections, but must
 * not call this library for the connection being written.
 */
NVPOS_API void NVPOS_SetProgressCallback(NVPOS_ProgressFn callback, void *context);

/* (major << 16) | minor of the loaded library: (2 << 16) | 0 for this one. */
NVPOS_API int32_t NVPOS_Version(void);

/*
 * The kind of the calling thread's last failure, one of the NVPOS_KIND_ values; NVPOS_KIND_NONE
 * when the thread's last POS_ call succeeded. It belongs to the same call as NVPOS_LastError's
 * reason.
 */
NVPOS_API int32_t NVPOS_LastErrorKind(void);

/*
 * What the connection of handle can do: a set of NVPOS_CAN_READ and NVPOS_FRAMES_DOCUMENTS
 * (0 for neither), or NVPOS_ERR_NO_CONNECTION. Never blocks on the printer.
 */
NVPOS_API int32_t NVPOS_Capabilities(int32_t handle);

/*
 * Reads up to size bytes the printer sent, waiting at most timeoutMs (0: only what is there
 * already). Bytes taken in during earlier writes come first, in the order they arrived. Returns
 * the count read (> 0), 0 when nothing came in time, or a negative error:
 *   NVPOS_ERR_UNSUPPORTED   at once where there is no back channel (the reason says why, the
 *                           kind is NVPOS_KIND_UNSUPPORTED);
 *   NVPOS_ERR_IO            the peer closed the connection ("<host:port> closed the
 *                           connection") or the device failed;
 *   NVPOS_ERR_NO_CONNECTION no open connection has that handle;
 *   NVPOS_ERR_ARGUMENT      a null buffer with a positive size, a negative size or a negative
 *                           timeout; nothing was read.
 * A size of 0 reads nothing and returns 0. Bytes that arrived before a peer closed the
 * connection are still read; the close is reported once they are gone.
 */
NVPOS_API int32_t NVPOS_Read(int32_t handle, char *buffer, int32_t size, int32_t timeoutMs);

/*
 * The handle-taking forms of POS_StartDoc, POS_EndDoc and POS_Close, with the same results; they
 * act on the connection of handle, whichever was opened last. NVPOS_Close closes it in every
 * case, after a call in progress on it from another thread has returned.
 */
NVPOS_API int32_t NVPOS_StartDoc(int32_t handle);
NVPOS_API int32_t NVPOS_EndDoc(int32_t handle);
NVPOS_API int32_t NVPOS_Close(int32_t handle);

#ifdef __cplusplus
}
#endif

#endif /* NVPOS_H */
