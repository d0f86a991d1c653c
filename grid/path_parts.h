// Splitting a grid file's path into the name parts the window and the output
// file name use.
#pragma once

#include <string>

// Where the file name of a path starts: after the last '\' or '/', else
// after a leading drive "X:", else at 0. What lies before is the folder.
std::size_t FileNameStart(const std::wstring& path);

// A name shortened to `keep` characters and an ellipsis between its head and
// its tail, so its start and its extension stay readable; unchanged when it
// has no more than `keep` characters.
std::wstring MiddleEllipsis(const std::wstring& name, std::size_t keep);

// The file name starts after the last '\' or '/' (or after a leading drive
// "X:"); the extension runs from the last '.' of the file name to the end,
// dot included; the stem is the file name without it. Both may be of any
// length ("survey.2024-01-05" has the extension ".2024-01-05"), so every grid
// of a folder gets an output name of its own.
void SplitGridPath(const std::wstring& path, std::wstring& stem, std::wstring& ext);

#include <filesystem>

// A wide file name as a file-system path: native on Windows, UTF-8 elsewhere
// (whatever the C library's locale says).
std::filesystem::path WidePath(const std::wstring& name);
// The reverse: a path's text as wide characters. On Linux a name that is not
// valid UTF-8 keeps its bytes: WidePath(PathToWide(p)) is p.
std::wstring PathToWide(const std::filesystem::path& path);
