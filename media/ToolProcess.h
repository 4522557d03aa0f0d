// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Runs an outside program (poppler's pdftoppm and pdfinfo, which are GPL and
// so are run, never linked) as a child process fenced in: its input given
// through a socket, its output read up to a limit, its memory and CPU
// capped by setrlimit, and killed at a deadline.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace folio {

struct ToolLimits {
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
    // Standard output beyond this many bytes kills the tool.
    std::size_t maxOutput = std::size_t(256) << 20;
    // Address space of the child, bytes.
    std::size_t memory = std::size_t(1) << 30;
};

struct ToolResult {
    // The exit status; -1 when it was killed or died of a signal.
    int status = -1;
    bool notFound = false; // the program is not on PATH
    bool timedOut = false;
    bool tooMuchOutput = false;
    std::string output;
    // The last 4 KiB of its standard error.
    std::string errors;
};

// Runs `argv` (argv[0] looked up on PATH) with `input` on its standard
// input. False with `error` set only when no process could be made.
bool RunTool(const std::vector<std::string>& argv, std::string_view input, const ToolLimits& limits,
             ToolResult& result, std::string& error);

// A tool whose output is read as it is needed, for one that writes a
// long stream (pages one after another): a child that gets ahead of its
// reader waits on the full pipe, so it costs no memory for what it has not
// yet handed over, and works on while its reader works too. The input is
// sent as the output is read. Destroying the object (or Stop) kills a
// child that is still running.
class ToolProcess {
  public:
    ToolProcess() = default;
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;
    ~ToolProcess() { Stop(); }

    // Starts `argv` with a copy of `input` for its standard input, under
    // `limits` (its deadline sets the child's CPU limit; every read then
    // has a deadline of its own). False with `error` set when no process
    // could be made; true with NotFound() when the program is not on PATH.
    bool Start(const std::vector<std::string>& argv, std::string_view input,
               const ToolLimits& limits, std::string& error);

    // Sends the whole input (reading output into the buffer meanwhile),
    // so that a child that reads all its input before it writes (pdftoppm)
    // can start working before its output is asked for. False when its
    // output ended first, or at `deadline` (TimedOut).
    bool SendInput(std::chrono::steady_clock::time_point deadline);
    // Reads until at least `n` bytes of output are buffered (Buffered), the
    // output ends, or `deadline` passes (TimedOut). Whether `n` are there.
    bool Fill(std::size_t n, std::chrono::steady_clock::time_point deadline);
    // The output read and not yet consumed.
    std::string_view Buffered() const { return std::string_view(buffer_).substr(taken_); }
    void Consume(std::size_t n);
    // The next `n` bytes of output into `to`, the buffered ones first and
    // the rest read straight there; how many came (fewer at the end of the
    // output or past `deadline`).
    std::size_t Read(char* to, std::size_t n, std::chrono::steady_clock::time_point deadline);

    // Reads the output to its end into Buffered(), past limits.maxOutput
    // killing the child (TooMuchOutput), then waits for the child: its exit
    // status, -1 when it was killed or died of a signal.
    int Finish(std::chrono::steady_clock::time_point deadline);
    // Kills the child if it still runs and waits for it.
    void Stop();

    // While this tool's output is waited for, the output of `others` is
    // read too, into their own buffers, up to `spare` bytes each: two
    // renderers that take turns both go on working while one is read.
    // They must outlive the reading (or be set again).
    void ReadAlongside(std::vector<ToolProcess*> others, std::size_t spare);

    bool Running() const { return pid_ > 0; }
    bool NotFound() const { return notFound_; }
    bool TimedOut() const { return timedOut_; }
    bool TooMuchOutput() const { return tooMuchOutput_; }
    // The last 4 KiB of its standard error.
    std::string Errors() const;

  private:
    // One round of poll: input sent, errors read, and output read into
    // `to` (at most `room` bytes) or else into the buffer. False once the
    // output has ended or `deadline` passed.
    bool pump(char* to, std::size_t room, std::size_t& got,
              std::chrono::steady_clock::time_point deadline);
    void sendSome();
    void readErrors();
    // One read of output into `to` (at most `room` bytes) or, when `to` is
    // null, onto the buffer. False once the output has ended.
    bool readOutput(char* to, std::size_t room, std::size_t& got);
    void closeAll();

    pid_t pid_ = -1;
    int in_ = -1, out_ = -1, err_ = -1;
    std::string input_;
    std::size_t sent_ = 0;
    std::string buffer_;
    std::size_t taken_ = 0;
    std::unique_ptr<char[]> scratch_;
    std::size_t outputBytes_ = 0, maxOutput_ = 0;
    std::string errors_;
    std::vector<ToolProcess*> alongside_;
    std::size_t spare_ = 0;
    int status_ = -1;
    bool notFound_ = false, timedOut_ = false, tooMuchOutput_ = false;
};

} // namespace folio
