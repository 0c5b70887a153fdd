#include "result_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include <sys/stat.h>
#include <sys/types.h>
#if defined(_WIN32)
#include <io.h>
#include <process.h>
#include <windows.h>
#define fileno _fileno
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

// Whether @path names something that is not a plain regular file of its
// own name: a device, a FIFO, a folder, or a symbolic link to anything.
bool not_ours_to_replace(const std::string &path)
{
#if defined(_WIN32)
    struct _stat64 st {};
    return _stat64(path.c_str(), &st) == 0 && (st.st_mode & _S_IFMT) != _S_IFREG;
#else
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
#endif
}

#if defined(_WIN32)
// The volume and index that name a file on Windows, whatever its path.
bool file_id(HANDLE h, BY_HANDLE_FILE_INFORMATION &info)
{
    return h != INVALID_HANDLE_VALUE && GetFileInformationByHandle(h, &info) != 0;
}

bool same_id(const BY_HANDLE_FILE_INFORMATION &a, const BY_HANDLE_FILE_INFORMATION &b)
{
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

bool path_id(const std::string &path, BY_HANDLE_FILE_INFORMATION &info)
{
    const HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    const bool got = file_id(h, info);
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
    return got;
}
#endif

} // namespace

ResultFile::~ResultFile()
{
    if (!temporary_.empty())
        std::remove(temporary_.c_str());
}

std::string ResultFile::open(const std::string &path)
{
    path_ = path;
    in_place_ = not_ours_to_replace(path);
    if (in_place_) {
        // Opened only when written: a FIFO would wait here for a reader.
#if defined(_WIN32)
        const bool writable = _access(path.c_str(), 2) == 0;
#else
        const bool writable = access(path.c_str(), W_OK) == 0;
#endif
        return writable ? std::string() : path + ": " + errno_text();
    }
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
    // Standard output or error by a name of theirs (/dev/stdout): written
    // after what is already there, not over it.
    for (std::FILE *stream : {stdout, stderr}) {
        if (!in_place_ || !same_file(path_, fileno(stream)))
            continue;
        std::fflush(stdout);
        if (std::fwrite(text.data(), 1, text.size(), stream) != text.size() ||
            std::fflush(stream) != 0)
            return path_ + ": " + errno_text();
        return {};
    }
    const std::string &target = in_place_ ? path_ : temporary_;
    std::FILE *f = std::fopen(target.c_str(), "wb");
    if (f == nullptr)
        return path_ + ": " + errno_text();
    const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    const int flushed = std::fflush(f) == 0 ? 0 : errno;
    const bool closed = std::fclose(f) == 0;
    if (!written || flushed != 0 || !closed) {
        if (!in_place_)
            std::remove(temporary_.c_str());
        return path_ + ": " +
               (flushed != 0 ? std::strerror(flushed) : "could not be written in full");
    }
    if (in_place_ || rename_over(temporary_, path_))
        return {};
#if defined(_WIN32)
    std::string why = path_ + ": cannot be replaced";
#else
    std::string why = path_ + ": " + errno_text();
#endif
    std::remove(temporary_.c_str());
    return why;
}

bool same_file(const std::string &a, const std::string &b)
{
#if defined(_WIN32)
    BY_HANDLE_FILE_INFORMATION x{};
    BY_HANDLE_FILE_INFORMATION y{};
    return path_id(a, x) && path_id(b, y) && same_id(x, y);
#else
    struct stat x {};
    struct stat y {};
    return stat(a.c_str(), &x) == 0 && stat(b.c_str(), &y) == 0 && x.st_dev == y.st_dev &&
           x.st_ino == y.st_ino;
#endif
}

bool same_file(const std::string &path, int fd)
{
#if defined(_WIN32)
    BY_HANDLE_FILE_INFORMATION x{};
    BY_HANDLE_FILE_INFORMATION y{};
    return path_id(path, x) && file_id(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), y) &&
           same_id(x, y);
#else
    struct stat x {};
    struct stat y {};
    return stat(path.c_str(), &x) == 0 && fstat(fd, &y) == 0 && x.st_dev == y.st_dev &&
           x.st_ino == y.st_ino;
#endif
}

std::string flush_standard_output()
{
    errno = 0;
    if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0)
        return {};
    return std::string("standard output: ") +
           (errno != 0 ? std::strerror(errno) : "could not be written in full");
}

} // namespace dio
