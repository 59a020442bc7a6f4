// What a signal does to a program that writes an output file: SIGINT,
// SIGTERM and SIGHUP first remove the named temporary files still listed
// here, then end the program as the signal itself would, so the shell sees
// the usual status (130, 143, ...). The handler does nothing but unlink and
// re-raise: all it may do safely inside a signal.
#pragma once

// Installs the cleanup for SIGINT, SIGTERM and SIGHUP, and fails writes
// instead of dying (below). A terminating signal the program was started
// with ignored (a background job) stays ignored. Call it first thing in main.
void cleanUpTemporaryFilesOnSignals();

// Ignores SIGPIPE and SIGXFSZ: a closed console pipe or a file-size limit
// then fails the write, which names its file, instead of killing the
// program silently. For a program that writes no file, in place of the above.
void failWritesInsteadOfDying();

// Lists a temporary file's path for removal on a signal; returns its slot,
// or -1 when the path does not fit (it is then left behind by a signal).
int rememberTemporaryFile(const char* path);
// Drops the slot again (-1 is ignored).
void forgetTemporaryFile(int slot);
