// A result file that readers only ever see whole: each version is written
// to a temporary file beside it, whose name does not end as the file's
// does, and then renamed over it. A test runner or a metrics scraper never
// reads half a file, and no temporary file is left behind.
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

    // Names the file, and proves that its folder takes a temporary file,
    // so that a file that cannot be written fails before a run, not after.
    // Returns "", or why not.
    std::string open(const std::string &path);

    // Makes @text the file's whole content. Returns "", or why not.
    std::string replace(const std::string &text);

  private:
    std::string path_;
    std::string temporary_;
};

} // namespace dio

#endif
