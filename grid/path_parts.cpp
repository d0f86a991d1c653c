#include "grid/path_parts.h"

#include <cstdint>

void SplitGridPath(const std::wstring& path, std::wstring& stem, std::wstring& ext) {
    stem.clear();
    ext.clear();

    std::size_t nameStart = 0;
    const std::size_t lastSeparator = path.find_last_of(L"\\/");
    if (lastSeparator != std::wstring::npos) {
        nameStart = lastSeparator + 1;
    } else if (path.size() >= 2 && path[1] == L':' &&
               ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'))) {
        nameStart = 2;
    }

    std::size_t extStart = path.rfind(L'.');
    if (extStart == std::wstring::npos || extStart < nameStart) extStart = path.size();

    stem.assign(path, nameStart, extStart - nameStart);
    ext.assign(path, extStart, path.size() - extStart);
}

#ifdef _WIN32

std::filesystem::path WidePath(const std::wstring& name) { return std::filesystem::path(name); }
std::wstring PathToWide(const std::filesystem::path& path) { return path.native(); }

#else

std::filesystem::path WidePath(const std::wstring& name) {
    std::string utf8;
    for (wchar_t wc : name) {
        const uint32_t c = static_cast<uint32_t>(wc);
        if (c < 0x80) {
            utf8 += static_cast<char>(c);
        } else if (c < 0x800) {
            utf8 += static_cast<char>(0xC0 | (c >> 6));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            utf8 += static_cast<char>(0xE0 | (c >> 12));
            utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            utf8 += static_cast<char>(0xF0 | (c >> 18));
            utf8 += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return std::filesystem::path(utf8);
}

std::wstring PathToWide(const std::filesystem::path& path) {
    const std::string& utf8 = path.native();
    std::wstring wide;
    for (std::size_t i = 0; i < utf8.size();) {
        const unsigned char lead = static_cast<unsigned char>(utf8[i]);
        const int extra = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
        uint32_t c = extra == 0 ? lead : lead & (0x3F >> extra);
        std::size_t j = 1;
        for (; j <= static_cast<std::size_t>(extra) && i + j < utf8.size(); ++j)
            c = (c << 6) | (static_cast<unsigned char>(utf8[i + j]) & 0x3F);
        wide += static_cast<wchar_t>(c);
        i += j;
    }
    return wide;
}

#endif
