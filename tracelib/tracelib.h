// tracelib: the product's log writer, a shared library with four C exports.
//
// Every Log*W call appends one CSV row to the file named by LogInitialize:
// UTF-8 without BOM, rows ending in CRLF, cells holding a comma, quote or line
// break quoted with inner quotes doubled, and cells starting with = + - or @
// prefixed with an apostrophe so spreadsheets show them as text.
//
//   Time (UTC),Level,Process,Thread,Logger,Message
//   2024-05-01T08:30:00.123Z,INFO,4242,4243,Main,started
//
// Each row reaches the operating system in a single append-only write, so
// any number of threads and processes may log to the same file at once
// without interleaving or losing rows. Nothing is buffered between calls;
// the file is closed when the library is unloaded.
//
// The log only ever grows by whole rows, and bytes the library did not write in
// this process are never removed or changed: a file that does not end in a line
// break (a note saved by an editor, a fragment left by a full disk) gets a CRLF
// before the next row; an empty file gets the header row first; the only bytes
// ever cut are those of the library's own write cut short by a full disk, in the
// same call. Roll-over moves the whole file, byte for byte, to ".1".
//
// The log and its ".1" are written, cut and renamed only when they are plain
// files with one name, in a folder that is not itself a link: a symbolic link,
// junction, mount point or second hard link at the log's name (or a link as its
// folder) makes the rows be dropped, and one at ".1" blocks the roll-over, so that
// no row lands in, and no rename replaces, another file.
//
// Logging never holds up the caller for long: a process waits at most 200 ms in
// all for a log that something else keeps (a lock on it, such as a viewer's, or a
// turn at it that one process keeps), however the file changes meanwhile; then
// the rest of its rows are dropped at once. Waiting in line while other writers
// take their turns, one row each, does not count: that line ends, and a row
// dropped from it would be lost for nothing. A log whose roll-over is blocked
// stops taking rows at twice the roll-over size. A row that is not written
// changes nothing.
//
// The calls never fail loudly: before LogInitialize, after a failed open, or
// with null pointers they do nothing or write what they can. The results are
// for diagnostics only: 1 when the call did its work, 0 when it did not.
#ifndef TRACELIB_TRACELIB_H
#define TRACELIB_TRACELIB_H

#ifndef __cplusplus
#include <uchar.h>
#endif

// Only the library's own build exports; callers load it at run time and may
// use these declarations for the function types (decltype(&LogErrorW)).
#if !defined(TRACELIB_BUILDING)
#define TRACELIB_API
#elif defined(_WIN32)
#define TRACELIB_API __declspec(dllexport)
#else
#define TRACELIB_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Directs all later rows of this process to logFilePath (UTF-16, NUL-terminated;
// a Windows path, on POSIX with '\' read as '/' and relative paths taken from
// the current directory). Missing folders are created, and a missing file.
//
// maxSizeMiB is the roll-over size: if the existing file already holds at least
// maxSizeMiB MiB, it is renamed to logFilePath + ".1" (replacing an older ".1")
// and a fresh file is started; if that rename fails, rows go on to the old file
// until it holds twice maxSizeMiB. Values <= 0 mean "never roll".
//
// loggerName is accepted for symmetry with the other calls and not written.
// Calling LogInitialize again re-targets the log; if the new file cannot be
// opened, later rows are dropped until a successful LogInitialize.
TRACELIB_API int LogInitialize(const char* loggerName, const char16_t* logFilePath, int maxSizeMiB);

// Append one row at level ERROR, WARNING or INFO. loggerName is ASCII (other
// bytes become U+FFFD; null gives an empty cell); line is UTF-16 of any length
// (unpaired surrogates become U+FFFD; null gives an empty message).
TRACELIB_API int LogErrorW(const char* loggerName, const char16_t* line);
TRACELIB_API int LogWarningW(const char* loggerName, const char16_t* line);
TRACELIB_API int LogInformationW(const char* loggerName, const char16_t* line);

#ifdef __cplusplus
}
#endif

#endif
