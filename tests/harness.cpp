#include "harness.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace harness {
namespace {

[[noreturn]] void fail(const std::string &what)
{
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

// The ELF machine of the binary at @path; 0 if it is not one.
unsigned machine_of(const std::string &path)
{
    unsigned char header[20] = {};
    std::ifstream in(path, std::ios::binary);
    if (!in.read(reinterpret_cast<char *>(header), sizeof header) || header[0] != 0x7f ||
        header[1] != 'E')
        return 0;
    return header[18] | header[19] << 8U; // e_machine, little-endian
}

// The loader splits LD_PRELOAD at spaces: a library in a folder whose name
// has one is preloaded through a link in a folder of our own that has none.
std::string preloadable(const std::string &path)
{
    if (path.find(' ') == std::string::npos)
        return path;
    static const TempDir folder;
    std::string link = folder.path() + path.substr(path.rfind('/'));
    if (symlink(path.c_str(), link.c_str()) != 0 && errno != EEXIST)
        return path;
    return link;
}

std::vector<std::string> child_environment(const Env &overrides)
{
    std::vector<std::string> env;
    for (char **e = environ; *e != nullptr; ++e) {
        const std::string entry(*e);
        const std::string name = entry.substr(0, entry.find('='));
        bool overridden = false;
        for (const auto &kv : overrides)
            overridden = overridden || kv.first == name;
        if (!overridden)
            env.push_back(entry);
    }
    for (const auto &kv : overrides) {
        // Under an emulator, only the emulated program may preload: the
        // emulator itself and the host's shell are of another machine.
        if (kv.first == "LD_PRELOAD" && *DIO_EMULATOR != '\0')
            env.push_back("QEMU_SET_ENV=LD_PRELOAD=" + preloadable(kv.second));
        else if (kv.first == "LD_PRELOAD")
            env.push_back("LD_PRELOAD=" + preloadable(kv.second));
        else
            env.push_back(kv.first + "=" + kv.second);
    }
    return env;
}

std::vector<char *> pointers(std::vector<std::string> &strings)
{
    std::vector<char *> p;
    p.reserve(strings.size() + 1);
    for (auto &s : strings)
        p.push_back(s.data());
    p.push_back(nullptr);
    return p;
}

} // namespace

std::vector<std::string> command(const std::string &program)
{
    // A program of this build's machine, when this build runs emulated.
    static const unsigned own = machine_of("/proc/self/exe");
    if (*DIO_EMULATOR != '\0' && machine_of(program) == own)
        return {DIO_EMULATOR, program};
    return {program};
}

std::string shell_command(const std::string &program)
{
    std::string line;
    for (const std::string &word : command(program))
        line += (line.empty() ? "'" : " '") + word + "'";
    return line;
}

Process::Process(const Options &options)
{
    std::vector<std::string> argv = command(options.program);
    argv.insert(argv.end(), options.args.begin(), options.args.end());
    std::vector<std::string> envv = child_environment(options.env);
    std::vector<char *> argp = pointers(argv);
    std::vector<char *> envp = pointers(envv);

    int in[2] = {-1, -1};
    int out[2] = {-1, -1};
    int child_in = -1;
    int child_out = -1;
    if (options.input == Input::OpenPipe) {
        if (pipe2(in, O_CLOEXEC) != 0)
            fail("pipe");
        child_in = in[0];
        in_fd_ = in[1];
    } else if ((child_in = open("/dev/null", O_RDONLY | O_CLOEXEC)) < 0) {
        fail("/dev/null");
    }
    if (options.output == Output::Pipe) {
        if (pipe2(out, O_CLOEXEC) != 0)
            fail("pipe");
        child_out = out[1];
        out_fd_ = out[0];
    } else {
        char name[] = "/tmp/dio-exerciser-out.XXXXXX";
        child_out = mkostemp(name, O_CLOEXEC);
        if (child_out < 0)
            fail("mkostemp");
        out_path_ = name;
    }

    char err_name[] = "/tmp/dio-exerciser-err.XXXXXX";
    const int child_err = mkostemp(err_name, O_CLOEXEC);
    if (child_err < 0)
        fail("mkostemp");
    err_path_ = err_name;

    pid_ = fork();
    if (pid_ < 0)
        fail("fork");
    if (pid_ == 0) {
        dup2(child_in, STDIN_FILENO);
        dup2(child_out, STDOUT_FILENO);
        dup2(child_err, STDERR_FILENO);
        execve(argp[0], argp.data(), envp.data());
        _exit(127);
    }
    close(child_in);
    close(child_out);
    close(child_err);
}

Process::~Process()
{
    kill();
    if (in_fd_ >= 0)
        close(in_fd_);
    if (out_fd_ >= 0)
        close(out_fd_);
    if (!out_path_.empty())
        unlink(out_path_.c_str());
    unlink(err_path_.c_str());
}

std::optional<int> Process::wait(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (status_ < 0) {
        int raw = 0;
        const pid_t r = waitpid(pid_, &raw, WNOHANG);
        if (r == pid_) {
            status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
            break;
        }
        if (r < 0)
            fail("waitpid");
        if (std::chrono::steady_clock::now() >= deadline)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return status_;
}

std::optional<std::string> Process::read_line(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const std::size_t eol = pending_.find('\n');
        if (eol != std::string::npos) {
            std::string line = pending_.substr(0, eol);
            pending_.erase(0, eol + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return std::nullopt;
        pollfd p{out_fd_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0)
            continue;
        char buf[4096];
        const ssize_t n = read(out_fd_, buf, sizeof buf);
        if (n <= 0)
            return std::nullopt;
        pending_.append(buf, static_cast<std::size_t>(n));
    }
}

std::string Process::output()
{
    if (out_path_.empty()) {
        // Drain what the pipe holds now, without waiting for more.
        std::string all = pending_;
        pending_.clear();
        char buf[4096];
        pollfd p{out_fd_, POLLIN, 0};
        while (poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0) {
            const ssize_t n = read(out_fd_, buf, sizeof buf);
            if (n <= 0)
                break;
            all.append(buf, static_cast<std::size_t>(n));
        }
        return all;
    }
    return read_file(out_path_);
}

std::string Process::errors() const
{
    return read_file(err_path_);
}

void Process::write_input(const std::string &bytes) const
{
    if (::write(in_fd_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        fail("write to stdin");
}

void Process::close_input()
{
    if (in_fd_ >= 0)
        close(in_fd_);
    in_fd_ = -1;
}

void Process::kill() noexcept
{
    if (pid_ > 0 && status_ < 0) {
        ::kill(pid_, SIGKILL);
        int raw = 0;
        if (waitpid(pid_, &raw, 0) == pid_)
            status_ = 128 + SIGKILL;
    }
}

TempDir::TempDir()
{
    char name[] = "/tmp/dio-exerciser-test.XXXXXX";
    if (mkdtemp(name) == nullptr)
        fail("mkdtemp");
    path_ = name;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> split_lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t eol; (eol = text.find('\n', start)) != std::string::npos; start = eol + 1)
        lines.push_back(text.substr(start, eol - start));
    if (start < text.size())
        lines.push_back(text.substr(start));
    return lines;
}

std::string read_file(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

void write_file(const std::string &path, const std::string &text)
{
    std::ofstream f(path, std::ios::binary);
    if (!f.write(text.data(), static_cast<std::streamsize>(text.size())))
        fail(path);
}

std::vector<std::string> read_lines(const std::string &path)
{
    return split_lines(read_file(path));
}

} // namespace harness
