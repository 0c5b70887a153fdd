// A result file that readers only ever see whole: each version of a regular
// file is written to a temporary file beside it, whose name does not end
// as the file's does, and then renamed over it. A test runner or a metrics
// scraper never reads half a file, and no temporary file is left behind.
// Anything else the name may stand for (a device such as /dev/null, a
// FIFO, /dev/stdout, a symbolic link) is written in place and never
// replaced: it was not ours to replace.
#ifndef DIO_COMMON_RESULT_FILE_H
#define DIO_COMMON_RESULT_FILE_H

#include <string>

namespace dio {

class ResultFile {
  public:
    ResultFile() = default;
    ResultFile(const ResultFile &) = delete;
    ResultFile &operator=(const ResultFile &) = delete;
    ResultFile(ResultFile &&) = delete;
    ResultFile &operator=(ResultFile &&) = delete;
    ~ResultFile();

    // Names the file, and proves that it can be written (for a regular
    // file, that its folder takes a temporary file), so that a file that
    // cannot be written fails before a run, not after. Returns "", or why
    // not.
    std::string open(const std::string &path);

    // Makes @text the file's whole content. Returns "", or why not.
    std::string replace(const std::string &text);

  private:
    std::string path_;
    std::string temporary_;
    bool in_place_ = false;
};

// Whether @a and @b are one file (the same device and inode, whatever
// their names); false where either does not exist.
bool same_file(const std::string &a, const std::string &b);

// Whether @path is the file open on @fd.
bool same_file(const std::string &path, int fd);

// Flushes standard output. Returns "", or why it could not be written
// ("standard output: No space left on device").
std::string flush_standard_output();

} // namespace dio

#endif
