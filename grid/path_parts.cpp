#include "grid/path_parts.h"

#include <cstdint>

std::size_t FileNameStart(const std::wstring& path) {
    const std::size_t lastSeparator = path.find_last_of(L"\\/");
    if (lastSeparator != std::wstring::npos) return lastSeparator + 1;
    if (path.size() >= 2 && path[1] == L':' &&
        ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'))) {
        return 2;
    }
    return 0;
}

std::wstring MiddleEllipsis(const std::wstring& name, std::size_t keep) {
    if (name.size() <= keep) return name;
    const std::size_t head = (keep + 1) / 2;
    return name.substr(0, head) + L"\x2026" + name.substr(name.size() - (keep - head));
}

void SplitGridPath(const std::wstring& path, std::wstring& stem, std::wstring& ext) {
    stem.clear();
    ext.clear();

    const std::size_t nameStart = FileNameStart(path);

    std::size_t extStart = path.rfind(L'.');
    if (extStart == std::wstring::npos || extStart < nameStart) extStart = path.size();

    stem.assign(path, nameStart, extStart - nameStart);
    ext.assign(path, extStart, path.size() - extStart);
}

#ifdef _WIN32

std::filesystem::path WidePath(const std::wstring& name) { return std::filesystem::path(name); }
std::wstring PathToWide(const std::filesystem::path& path) { return path.native(); }

#else

// Linux file names are bytes. Valid UTF-8 becomes its characters; every byte
// that is not part of valid UTF-8 becomes U+DC80 to U+DCFF and turns back into
// the same byte, so a name that is not UTF-8 survives the trip through wide
// text unchanged (the output file lands beside its grid under the same bytes).
constexpr uint32_t kRawByteBase = 0xDC00;

std::filesystem::path WidePath(const std::wstring& name) {
    std::string bytes;
    for (wchar_t wc : name) {
        const uint32_t c = static_cast<uint32_t>(wc);
        if (c < 0x80) {
            bytes += static_cast<char>(c);
        } else if (c >= kRawByteBase + 0x80 && c <= kRawByteBase + 0xFF) {
            bytes += static_cast<char>(c - kRawByteBase);
        } else if (c < 0x800) {
            bytes += static_cast<char>(0xC0 | (c >> 6));
            bytes += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            bytes += static_cast<char>(0xE0 | (c >> 12));
            bytes += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            bytes += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            bytes += static_cast<char>(0xF0 | (c >> 18));
            bytes += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            bytes += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            bytes += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return std::filesystem::path(bytes);
}

// The character of the valid UTF-8 sequence at bytes[i] and its length, or
// length 0 (overlong forms, surrogates and values beyond U+10FFFF are not valid).
static std::size_t DecodeUtf8(const std::string& bytes, std::size_t i, uint32_t& c) {
    const unsigned char lead = static_cast<unsigned char>(bytes[i]);
    const std::size_t length = lead < 0x80 ? 1 : lead < 0xC2 ? 0 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF5 ? 4 : 0;
    if (length == 0 || i + length > bytes.size()) return 0;
    c = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t j = 1; j < length; ++j) {
        const unsigned char next = static_cast<unsigned char>(bytes[i + j]);
        if ((next & 0xC0) != 0x80) return 0;
        c = (c << 6) | (next & 0x3F);
    }
    const uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < smallest[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
    return length;
}

std::wstring PathToWide(const std::filesystem::path& path) {
    const std::string& bytes = path.native();
    std::wstring wide;
    for (std::size_t i = 0; i < bytes.size();) {
        uint32_t c = 0;
        const std::size_t length = DecodeUtf8(bytes, i, c);
        if (length == 0) {
            wide += static_cast<wchar_t>(kRawByteBase + static_cast<unsigned char>(bytes[i]));
            i += 1;
        } else {
            wide += static_cast<wchar_t>(c);
            i += length;
        }
    }
    return wide;
}

#endif
