// Runs a built program as a child process and talks to it over pipes.
#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

// Where the child's standard output goes.
enum class Output { pipe, dev_full, closed };

// Where its standard input comes from: a pipe, nothing (closed), or a directory, which
// cannot be read.
enum class Input { pipe, closed, directory };

struct Child {
    pid_t pid;
    int in;  // write end of the child's standard input, -1 unless Input::pipe or once closed
    int out; // read end of its standard output, -1 unless Output::pipe
    int err; // read end of its standard error
};

struct Result {
    std::string out;
    std::string err;
    int status; // the exit status, or 128 plus the signal that ended the child
};

// Starts program, looked up in PATH unless it holds a slash.
Child spawn(const char *program, const std::vector<std::string> &args = {},
            Output output = Output::pipe, Input input = Input::pipe);

// Reads from fd until `count` bytes have come, the end of file, or ten seconds pass.
std::string read_some(int fd, std::size_t count);

// Writes input to the child, closes its standard input when close_input is set, reads its
// output to the end and reaps it. A child still running after thirty seconds is killed.
Result collect(Child &child, std::string_view input = {}, bool close_input = true);

inline Result run(const char *program, std::string_view input,
                  const std::vector<std::string> &args = {}, Output output = Output::pipe,
                  Input from = Input::pipe)
{
    Child child = spawn(program, args, output, from);
    return collect(child, input);
}
