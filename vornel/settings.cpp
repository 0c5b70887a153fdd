#include "settings.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace vornel {
namespace {

char upper(char c)
{
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

bool same_name(const std::string &a, const char *b)
{
#if defined(_WIN32)
    std::size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        if (upper(a[i]) != upper(b[i]))
            return false;
    }
    return i == a.size() && b[i] == '\0';
#else
    return a == b;
#endif
}

// Edits from @a to @b, case aside: insertions, deletions, changes and
// swaps of neighbours, the usual slips of a typist ("BORAD").
std::size_t distance(const std::string &a, const std::string &b)
{
    const std::size_t n = a.size();
    const std::size_t m = b.size();
    std::vector<std::vector<std::size_t>> d(n + 1, std::vector<std::size_t>(m + 1));
    for (std::size_t i = 0; i <= n; ++i)
        d[i][0] = i;
    for (std::size_t j = 0; j <= m; ++j)
        d[0][j] = j;
    for (std::size_t i = 1; i <= n; ++i) {
        for (std::size_t j = 1; j <= m; ++j) {
            const std::size_t cost = upper(a[i - 1]) == upper(b[j - 1]) ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && upper(a[i - 1]) == upper(b[j - 2]) &&
                upper(a[i - 2]) == upper(b[j - 1]))
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[n][m];
}

} // namespace

const KnownSetting *known_setting(const std::string &name)
{
    for (const KnownSetting &s : kKnownSettings) {
        if (same_name(name, s.name))
            return &s;
    }
    return nullptr;
}

std::string unknown_setting(const std::vector<std::string> &names)
{
    const std::string prefix = "VORNEL_";
    for (const std::string &name : names) {
        std::string head = name.substr(0, prefix.size());
        std::transform(head.begin(), head.end(), head.begin(), upper);
        if (head != prefix || known_setting(name) != nullptr)
            continue;
        const KnownSetting *closest = nullptr;
        std::size_t best = 0;
        for (const KnownSetting &s : kKnownSettings) {
            const std::size_t d = distance(name, s.name);
            if (closest == nullptr || d < best) {
                closest = &s;
                best = d;
            }
        }
        // Close enough to be a slip of the keyboard, not another word.
        if (best <= std::max<std::size_t>(2, name.size() / 4))
            return name + " is not a setting; did you mean " + closest->name + "?";
        std::string all;
        for (const KnownSetting &s : kKnownSettings)
            all += (all.empty() ? "" : ", ") + std::string(s.name);
        return name + " is not a setting; the settings are " + all;
    }
    return {};
}

std::string kinds_text(unsigned kinds)
{
    static const std::pair<unsigned, const char *> kWords[] = {{kLoopback, "the simulated board"},
                                                               {kGpio, "GPIO lines"},
                                                               {kModbus, "a Modbus module"},
                                                               {kComedi, "a comedi card"}};
    std::string text;
    for (const auto &[kind, words] : kWords) {
        if ((kinds & kind) != 0)
            text += (text.empty() ? "" : " or ") + std::string(words);
    }
    return text;
}

} // namespace vornel
