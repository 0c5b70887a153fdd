#include "result_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <process.h>
#include <windows.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace dio {
namespace {

std::string errno_text()
{
    return std::strerror(errno);
}

// Moves @from over @to in one step, as readers of @to see it.
bool rename_over(const std::string &from, const std::string &to)
{
#if defined(_WIN32)
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
    return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

} // namespace

ResultFile::~ResultFile()
{
    if (!temporary_.empty())
        std::remove(temporary_.c_str());
}

std::string ResultFile::open(const std::string &path)
{
    path_ = path;
    // Beside the file, so that the rename stays on one file system; its
    // own process's, so that two runs never share one.
    temporary_ = path + "." + std::to_string(getpid()) + ".tmp";
    std::FILE *f = std::fopen(temporary_.c_str(), "wb");
    if (f == nullptr) {
        std::string why = path + ": " + errno_text();
        temporary_.clear();
        return why;
    }
    std::fclose(f);
    std::remove(temporary_.c_str());
    return {};
}

std::string ResultFile::replace(const std::string &text)
{
    std::FILE *f = std::fopen(temporary_.c_str(), "wb");
    if (f == nullptr)
        return path_ + ": " + errno_text();
    const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    const bool closed = std::fclose(f) == 0;
    if (!written || !closed) {
        std::remove(temporary_.c_str());
        return path_ + ": could not be written in full";
    }
    if (!rename_over(temporary_, path_)) {
#if defined(_WIN32)
        std::string why = path_ + ": cannot be replaced";
#else
        std::string why = path_ + ": " + errno_text();
#endif
        std::remove(temporary_.c_str());
        return why;
    }
    return {};
}

} // namespace dio
