# Writes OUT, a C++ file that holds the panel's page, script and style as
# byte arrays: cmake -DPAGE_DIR=... -DOUT=... -P embed.cmake
set(text "// Made from ${PAGE_DIR} by embed.cmake; not to be edited.\n#include \"page.h\"\n\n")
string(APPEND text "namespace dio_panel {\nnamespace {\n")
foreach(entry index.html:kPage panel.js:kScript panel.css:kStyle)
    string(REPLACE ":" ";" entry "${entry}")
    list(GET entry 0 file)
    list(GET entry 1 name)
    file(READ "${PAGE_DIR}/${file}" hex HEX)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
    string(APPEND text "const char ${name}[] = {${bytes}};\n")
endforeach()
string(APPEND text "
const Asset kAssets[] = {
    {\"text/html; charset=utf-8\", kPage, sizeof kPage},
    {\"text/javascript; charset=utf-8\", kScript, sizeof kScript},
    {\"text/css; charset=utf-8\", kStyle, sizeof kStyle},
};

} // namespace

const Asset &asset(const std::string &path)
{
    return path == \"/panel.js\" ? kAssets[1] : path == \"/panel.css\" ? kAssets[2] : kAssets[0];
}

} // namespace dio_panel
")
file(WRITE "${OUT}.new" "${text}")
file(COPY_FILE "${OUT}.new" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.new")
