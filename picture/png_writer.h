// A PNG file written through a job's safe output file: the signature and
// header, text chunks, the image data as IDAT chunks of a zlib stream whose
// deflate blocks come from elsewhere (the workers), and the end chunk. zlib's
// crc32 frames the chunks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "job/output_file.h"

struct PngImageData {
    std::vector<char> pending;  // IDAT bytes not yet framed
    uint32_t adler = 1;         // of all the uncompressed image data
    bool started = false;       // the zlib header went out
};

// The signature, a 16-bit grayscale header, and tEXt chunks (keyword, text:
// Latin-1, the keyword 1 to 79 characters).
void WritePngStart(OutputFile& out, uint32_t width, uint32_t height,
                   const std::vector<std::pair<std::string, std::string>>& texts);
// A small 8-bit RGB picture (3 bytes a pixel, rows from the top), whole.
void WritePngRgb(OutputFile& out, uint32_t width, uint32_t height, const std::vector<uint8_t>& rgb);
// Raw deflate bytes of the image data, in order: no block of them final.
void AddPngDeflate(OutputFile& out, PngImageData& data, const char* bytes, std::size_t size);
// Ends the zlib stream (a final empty block and the Adler-32 of the
// uncompressed data, `data.adler`), the last IDAT chunk and the file.
void WritePngEnd(OutputFile& out, PngImageData& data);
// Whether a file of `size` bytes is a PNG written to its end (its IEND chunk).
bool PngStandsComplete(std::FILE* file, int64_t size);
