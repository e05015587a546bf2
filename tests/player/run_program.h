// Runs a program (by default the real zelt-animation) with the device double preloaded, in a
// fresh temporary folder, and collects everything it left behind: standard output and error,
// the exit status, the double's event log, the screen memory and the frame copies.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct run_options {
    std::string program;            // empty: the built zelt-animation
    std::vector<std::string> args;  // command-line arguments after the program's name
    std::string screen;             // "WxHxBPP[:channels][:pitch=B][:page=X,Y]"; empty: there
                                    // is no framebuffer
    std::string virtual_size;       // "WxH"; empty: same as the visible size
    std::string fail;               // open|ioctl|fixed|mmap|pan|pan-io|thread1|thread2
    bool shell = true;              // what system(NULL) answers
    std::string media_dir;          // stands in for "/ZELT/media/"
    long end_after_frames = -1;     // end the worker after this many frame sleeps (-1: never)
    long frame_us = -1;             // length of each frame sleep (-1: the double's default)
    bool save_frames = false;       // copy the screen at each frame sleep
    uint8_t screen_fill = 0x5a;     // what the screen memory holds before the run
    std::vector<std::string> env;   // further NAME=value entries for the program (replacing
                                    // the test's own value of NAME)
};

struct run_result {
    bool exited = false;  // ended through exit() or main's return, not by a signal
    int exit_status = -1;
    int signal = 0;
    std::string out;
    std::string err;
    std::vector<std::string> events;  // the double's log, one entry per line
    // The screen memory after the run (smem_len bytes, at least the packed screen).
    std::vector<uint8_t> screen;
    // The bytes just past the screen memory (up to the end of its last page and beyond) kept
    // their pattern, and the backing file kept its length.
    bool canary_intact = false;
    std::vector<std::vector<uint8_t>> frames;  // frame-001.raw, frame-002.raw, ... in order
};

// Runs the program to its end. A failure of the harness itself (no temporary folder, spawn
// failure) is reported as a gtest failure in the calling test and yields exited == false.
run_result run_program(const run_options& options);

// Bytes of screen memory the double gives the run; -1 when none or beyond INT_MAX.
long screen_memory_bytes(const run_options& options);
