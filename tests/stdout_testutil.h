// Captures standard output (where the engine logs) through its file descriptor, so that output written by
// printf and by write(1, ...) both land in the answer.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <unistd.h>

namespace stdouttest {

// Sends standard output into a temporary file while alive.
class StdoutCapture {
public:
    StdoutCapture() {
        fflush(stdout);
        file_ = tmpfile();
        EXPECT_NE(file_, nullptr) << "no temporary file for the captured output";
        if (!file_)
            return;
        saved_ = dup(fileno(stdout));
        dup2(fileno(file_), fileno(stdout));
    }
    ~StdoutCapture() { text(); }
    StdoutCapture(const StdoutCapture &) = delete;
    StdoutCapture &operator=(const StdoutCapture &) = delete;
    // Ends the capture (once) and returns everything written.
    std::string text() {
        if (saved_ >= 0) {
            fflush(stdout);
            dup2(saved_, fileno(stdout));
            close(saved_);
            saved_ = -1;
            rewind(file_);
            char buf[4096];
            size_t n;
            while ((n = fread(buf, 1, sizeof(buf), file_)) > 0)
                text_.append(buf, n);
            fclose(file_);
            file_ = nullptr;
        }
        return text_;
    }

private:
    FILE *file_ = nullptr;
    int saved_ = -1;
    std::string text_;
};

// Runs fn with stdout sent to a file and returns what it wrote.
inline std::string capture_stdout(const std::function<void()> &fn) {
    StdoutCapture cap;
    fn();
    return cap.text();
}

} // namespace stdouttest
