// The image a mesh is draped with: its kind and size, read from its header
// (a PNG's IHDR, a JPEG's frame header: an orthophoto is never decoded), and
// the world file beside it that places it in the grid's coordinates.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

enum class ImageKind : uint8_t { Png, Jpeg };

struct ImageInfo {
    ImageKind kind = ImageKind::Png;
    int64_t width = 0, height = 0;  // pixels
    int64_t bytes = 0;              // the file's size
};

// The kind and size of the PNG or JPEG at `path`; false with `problem` (one
// line) for a file that is neither, or cannot be read.
bool ReadImageInfo(const std::filesystem::path& path, ImageInfo& info, std::string& problem);

// The media type a glTF file names the image by.
inline const char* ImageMimeType(ImageKind kind) { return kind == ImageKind::Png ? "image/png" : "image/jpeg"; }

// A world file's six terms: the pixel's width (a) and height (e, negative
// for north up), the rotation terms (d, b), and the centre of the upper-left
// pixel (c, f), in the order the file lists them: a, d, b, e, c, f.
struct WorldFile {
    double a = 1, d = 0, b = 0, e = -1, c = 0, f = 0;
};

// The world files an image may have beside it, in the order they are looked
// for: "<stem>.pgw" and "<name>w" for a PNG (".pngw"), ".jgw" and ".jpgw"
// for a JPEG, and "<stem>.wld".
std::vector<std::filesystem::path> WorldFileCandidates(const std::filesystem::path& image);

// The image's world file: the first candidate that exists, read; false with
// `problem` naming the files looked for when there is none, or saying what
// is wrong with it (not six numbers, rotation terms, a zero pixel size).
bool ReadWorldFileOf(const std::filesystem::path& image, WorldFile& world, std::filesystem::path& found,
                     std::string& problem);
