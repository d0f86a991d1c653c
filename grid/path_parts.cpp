#include "grid/path_parts.h"

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

    const std::size_t stemChars = extStart - nameStart;
    const std::size_t extChars = path.size() - extStart;
    if (stemChars > kMaxStemChars || extChars > kMaxExtChars) return;

    stem.assign(path, nameStart, stemChars);
    ext.assign(path, extStart, extChars);
}
