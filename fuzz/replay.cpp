// Runs a fuzz target on files and on every file in folders, as the ordinary
// test suite does with the starting corpus and the inputs that once failed.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

namespace {

void run(const std::filesystem::path &file)
{
    std::ifstream in(file, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size());
}

} // namespace

int main(int argc, char **argv)
{
    int inputs = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path path(argv[i]);
        if (!std::filesystem::is_directory(path)) {
            run(path);
            ++inputs;
            continue;
        }
        for (const auto &entry : std::filesystem::directory_iterator(path)) {
            run(entry.path());
            ++inputs;
        }
    }
    std::printf("%d inputs, every property held\n", inputs);
    return inputs > 0 ? 0 : 1;
}
