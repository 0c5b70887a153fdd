// Runs the built dio-exerciser as a child process and watches it.
#ifndef DIO_EXERCISER_TESTS_HARNESS_H
#define DIO_EXERCISER_TESTS_HARNESS_H

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

namespace harness {

using Env = std::vector<std::pair<std::string, std::string>>;

enum class Input { Closed, OpenPipe }; // stdin: /dev/null, or a pipe we hold
enum class Output { File, Pipe };      // stdout: a temporary file, or a pipe

struct Options {
    std::string program;           // path of the executable
    std::vector<std::string> args; // arguments after argv[0]
    Env env;                       // set (or replaced) in the child
    Input input = Input::Closed;
    Output output = Output::File;
};

class Process {
  public:
    explicit Process(const Options &options);
    ~Process();
    Process(const Process &) = delete;
    Process &operator=(const Process &) = delete;

    // Exit status (128 + signal number if killed), or nothing on timeout.
    std::optional<int> wait(std::chrono::milliseconds timeout);
    // Next line from a stdout pipe, without its line feed; nothing on
    // timeout or end of output.
    std::optional<std::string> read_line(std::chrono::milliseconds timeout);
    // Everything written to standard output so far.
    std::string output();
    // Everything written to standard error so far.
    [[nodiscard]] std::string errors() const;
    void write_input(const std::string &bytes) const;
    void close_input();
    void kill() noexcept;
    [[nodiscard]] pid_t pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
    int status_ = -1;
    int in_fd_ = -1;
    int out_fd_ = -1;
    std::string out_path_;
    std::string err_path_;
    std::string pending_;
};

// A temporary directory that is removed with everything in it.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    [[nodiscard]] const std::string &path() const { return path_; }

  private:
    std::string path_;
};

// How to start @program: through the emulator a cross build's tests run
// under, when it is a program of that build.
std::vector<std::string> command(const std::string &program);

// The same, as words for a shell's command line, each in single quotes.
std::string shell_command(const std::string &program);

std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &text);
std::vector<std::string> read_lines(const std::string &path);
std::vector<std::string> split_lines(const std::string &text);

} // namespace harness

#endif
