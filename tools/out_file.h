// The one way the tools write a file: the bytes go to a temporary file created exclusively beside
// the target (a fresh random name, O_CREAT | O_EXCL: never through an existing name or a
// symlink), which is renamed over the target only when it is complete and is removed on every
// failure. A reader therefore sees the old file or the whole new one, never a cut-short one.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

struct out_file {
    std::string path;        // the target
    std::string temp;        // the temporary file; empty when there is none
    FILE* stream = nullptr;  // open from out_file_open to out_file_finish
};

// Creates the temporary file for `path` (in the same folder, named ".NAME.XXXXXX"), open for
// writing, with the permissions a new file gets. Returns 0, or -1 with errno set.
int out_file_open(const std::string& path, out_file* file);

// Flushes the stream to the disk and closes it, leaving the temporary file to be read back.
// Returns 0, or -1 with errno set after removing the temporary file.
int out_file_finish(out_file* file);

// Renames the finished temporary file over the target. Returns 0, or -1 with errno set after
// removing the temporary file.
int out_file_commit(out_file* file);

// Closes the stream if open and removes the temporary file; errno is kept.
void out_file_discard(out_file* file);

// The whole sequence for bytes in memory: `size` bytes from `bytes` become the file `path`.
// Returns 0, or -1 with errno set and nothing left behind.
int out_file_write(const std::string& path, const void* bytes, size_t size);
