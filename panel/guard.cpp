#include "guard.h"

#include "bits.h"

#include <boost/asio/ip/address.hpp>
#include <nlohmann/json.hpp>

#include <cinttypes>
#include <cstdio>

#if defined(_WIN32)
#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>
#else
#include <sys/random.h>
#endif

namespace dio_panel {

std::string new_token()
{
    unsigned char bytes[16];
#if defined(_WIN32)
    if (BCryptGenRandom(nullptr, bytes, sizeof bytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0)
        return {};
#else
    if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes))
        return {};
#endif
    std::string token;
    for (const unsigned char b : bytes) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", b);
        token += two;
    }
    return token;
}

bool same_token(std::string_view given, std::string_view token)
{
    // Every byte of the token is compared, whatever was given.
    unsigned char differ = given.size() == token.size() ? 0 : 1;
    for (std::size_t i = 0; i < token.size(); ++i)
        differ |= static_cast<unsigned char>(token[i] ^ (i < given.size() ? given[i] : 0));
    return differ == 0;
}

std::string token_of(std::string_view message)
{
    const nlohmann::json j = nlohmann::json::parse(message, nullptr, false);
    if (j.is_discarded() || !j.is_object() || j.size() != 1 || !j.contains("token") ||
        !j["token"].is_string())
        return {};
    return j["token"].get<std::string>();
}

std::vector<std::string> own_hosts(const std::string &address, unsigned short port)
{
    const std::string p = ":" + std::to_string(port);
    const std::string listened =
        address.find(':') != std::string::npos ? "[" + address + "]" : address;
    return {listened + p, "localhost" + p, "127.0.0.1" + p, "[::1]" + p};
}

namespace {

// Whether @host is an IP address, as a Host header writes one, followed by
// @port (":8080").
bool ip_literal_at(std::string_view host, std::string_view port)
{
    if (host.size() <= port.size() || host.substr(host.size() - port.size()) != port)
        return false;
    std::string_view address = host.substr(0, host.size() - port.size());
    if (address.size() > 2 && address.front() == '[' && address.back() == ']')
        address = address.substr(1, address.size() - 2);
    else if (address.find(':') != std::string_view::npos)
        return false;
    boost::system::error_code ec;
    boost::asio::ip::make_address(std::string(address), ec);
    return !ec;
}

} // namespace

bool host_allowed(const std::vector<std::string> &hosts, std::string_view host)
{
    for (const std::string &h : hosts) {
        if (host.size() == h.size()) {
            bool same = true;
            for (std::size_t i = 0; i < h.size() && same; ++i)
                same = std::tolower(static_cast<unsigned char>(host[i])) == h[i];
            if (same)
                return true;
        }
        // Listening on every address, the panel is reached by any of the
        // machine's addresses: an IP address is taken, a name is not. A
        // page that rebinds a name of its own to us sends that name.
        if ((h.rfind("0.0.0.0:", 0) == 0 || h.rfind("[::]:", 0) == 0) &&
            ip_literal_at(host, std::string_view(h).substr(h.rfind(':'))))
            return true;
    }
    return false;
}

bool origin_allowed(const std::vector<std::string> &hosts, std::string_view origin,
                    std::string_view referer)
{
    constexpr std::string_view scheme = "http://";
    std::string_view from = origin;
    if (from.empty()) {
        // A Referer is a whole URL: its origin ends at the path.
        from = referer;
        const std::size_t path = from.find('/', scheme.size());
        if (path != std::string_view::npos)
            from = from.substr(0, path);
    }
    return from.size() > scheme.size() && from.substr(0, scheme.size()) == scheme &&
           host_allowed(hosts, from.substr(scheme.size()));
}

namespace {

bool parse_word(const std::string &text, std::uint32_t &word)
{
    if (text.empty() || text.size() > 8 ||
        text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return false;
    word = static_cast<std::uint32_t>(std::strtoul(text.c_str(), nullptr, 16));
    return true;
}

} // namespace

std::string parse_command(std::string_view json, std::uint32_t outputs, Command &command)
{
    const nlohmann::json j = nlohmann::json::parse(json, nullptr, false);
    if (j.is_discarded() || !j.is_object())
        return "not a JSON object";
    for (const auto &item : j.items()) {
        const std::string &key = item.key();
        if (key != "word" && key != "line" && key != "value" && key != "action")
            return "unknown field '" + key.substr(0, 40) + "'";
    }
    const std::size_t kinds = j.count("word") + j.count("line") + j.count("action");
    if (kinds != 1 || (j.count("value") != 0) != (j.count("line") != 0))
        return "give one of word, line and value, or action";
    command = Command{};
    Action &action = command.action;
    std::uint32_t &word = command.word;
    if (j.contains("word")) {
        if (!j["word"].is_string() || !parse_word(j["word"].get<std::string>(), word))
            return "word is a hex string of up to 32 bits";
    } else if (j.contains("line")) {
        const nlohmann::json &line = j["line"];
        const nlohmann::json &value = j["value"];
        if (!line.is_number_unsigned() || line.get<std::uint64_t>() > 31)
            return "line is a number 0-31";
        if (!value.is_number_unsigned() || value.get<std::uint64_t>() > 1)
            return "value is 0 or 1";
        command.mask = 1U << line.get<unsigned>();
        word = value.get<unsigned>() == 1 ? command.mask : 0;
    } else {
        const nlohmann::json &a = j["action"];
        const std::string name = a.is_string() ? a.get<std::string>() : "";
        if (name == "low")
            word = 0;
        else if (name == "high")
            word = outputs;
        else if (name == "55555555" || name == "aaaaaaaa")
            word = static_cast<std::uint32_t>(std::strtoul(name.c_str(), nullptr, 16)) & outputs;
        else if (name == "walk")
            action = Action::walk;
        else if (name == "map")
            action = Action::map;
        else
            return "action is low, high, 55555555, aaaaaaaa, walk or map";
    }
    // A line outside the mask is refused even to write 0: its switch is
    // disabled, so the page never sends one.
    const std::uint32_t named = j.contains("line") ? command.mask : word;
    const std::uint32_t outside = action == Action::word ? named & ~outputs : 0;
    if (outside != 0) {
        char mask[12];
        std::snprintf(mask, sizeof mask, "%" PRIx32, outputs);
        return dio::line_list("DO", outside) + " outside --outputs " + mask;
    }
    return {};
}

} // namespace dio_panel
