// SPDX-License-Identifier: MIT
// File functions of the send-from-file command: open read-only, read in
// text mode (CR LF read as LF, a byte 0x1A ends the data), close.
#pragma once

constexpr int _O_RDONLY = 0x0000;
constexpr int _O_TEXT = 0x4000;
constexpr int _O_BINARY = 0x8000;
constexpr int _SH_DENYNO = 0x40;

// -1 unless the name is a readable regular file; only reading is offered.
int _sopen(const char *filename, int oflag, int shflag, int pmode = 0);
// Bytes placed in buffer (after translation in text mode), 0 at the end of
// the data, -1 on error.
int _read(int fd, void *buffer, unsigned int count);
int _close(int fd);
