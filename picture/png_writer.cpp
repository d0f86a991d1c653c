#include "picture/png_writer.h"

#include <cstring>

#include <zlib.h>

namespace {

// IDAT chunks of this size: large enough that framing costs nothing.
constexpr std::size_t kIdatBytes = std::size_t{256} << 10;

void PutBigEndian(char* p, uint32_t value) {
    p[0] = static_cast<char>(value >> 24);
    p[1] = static_cast<char>(value >> 16);
    p[2] = static_cast<char>(value >> 8);
    p[3] = static_cast<char>(value);
}

void WriteChunk(OutputFile& out, const char type[4], const char* data, std::size_t size) {
    char head[8];
    PutBigEndian(head, static_cast<uint32_t>(size));
    std::memcpy(head + 4, type, 4);
    uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(type), 4);
    if (size > 0) crc = crc32(crc, reinterpret_cast<const Bytef*>(data), static_cast<uInt>(size));
    char tail[4];
    PutBigEndian(tail, static_cast<uint32_t>(crc));
    WriteOutputBlock(out, head, sizeof head);
    WriteOutputBlock(out, data, size);
    WriteOutputBlock(out, tail, sizeof tail);
}

void FrameIdat(OutputFile& out, PngImageData& data) {
    WriteChunk(out, "IDAT", data.pending.data(), data.pending.size());
    data.pending.clear();
}

void AddImageBytes(OutputFile& out, PngImageData& data, const char* bytes, std::size_t size) {
    if (!data.started) {
        // zlib header: deflate with a 32 KiB window, no dictionary; the check
        // bits make 0x7801 a multiple of 31.
        data.pending.push_back(0x78);
        data.pending.push_back(0x01);
        data.started = true;
    }
    while (size > 0) {
        const std::size_t part = std::min(size, kIdatBytes - data.pending.size());
        data.pending.insert(data.pending.end(), bytes, bytes + part);
        bytes += part;
        size -= part;
        if (data.pending.size() == kIdatBytes) FrameIdat(out, data);
    }
}

void WritePngHeader(OutputFile& out, uint32_t width, uint32_t height, char bitDepth, char colourType) {
    WriteOutputText(out, "\x89PNG\r\n\x1a\n");
    char header[13];
    PutBigEndian(header, width);
    PutBigEndian(header + 4, height);
    header[8] = bitDepth;
    header[9] = colourType;
    header[10] = header[11] = header[12] = 0;  // deflate, adaptive filters, no interlace
    WriteChunk(out, "IHDR", header, sizeof header);
}

}  // namespace

void WritePngStart(OutputFile& out, uint32_t width, uint32_t height,
                   const std::vector<std::pair<std::string, std::string>>& texts) {
    WritePngHeader(out, width, height, 16, 0);  // 16-bit grayscale
    for (const auto& [keyword, text] : texts) {
        std::string body = keyword;
        body.push_back('\0');
        body += text;
        WriteChunk(out, "tEXt", body.data(), body.size());
    }
}

void AddPngDeflate(OutputFile& out, PngImageData& data, const char* bytes, std::size_t size) {
    AddImageBytes(out, data, bytes, size);
}

void WritePngEnd(OutputFile& out, PngImageData& data) {
    // A final fixed-Huffman block holding nothing ends the deflate stream.
    const char finalBlock[2] = {0x03, 0x00};
    AddImageBytes(out, data, finalBlock, sizeof finalBlock);
    char adler[4];
    PutBigEndian(adler, data.adler);
    AddImageBytes(out, data, adler, sizeof adler);
    FrameIdat(out, data);
    WriteChunk(out, "IEND", nullptr, 0);
}

void WritePngRgb(OutputFile& out, uint32_t width, uint32_t height, const std::vector<uint8_t>& rgb) {
    WritePngHeader(out, width, height, 8, 2);  // 8-bit RGB
    const std::size_t stride = 3 * std::size_t{width};
    std::vector<Bytef> rows((stride + 1) * height, 0);  // each row: filter 0, then its pixels
    for (uint32_t y = 0; y < height; ++y) std::memcpy(&rows[y * (stride + 1) + 1], &rgb[y * stride], stride);
    uLongf size = compressBound(static_cast<uLong>(rows.size()));
    std::vector<Bytef> packed(size);
    if (compress2(packed.data(), &size, rows.data(), static_cast<uLong>(rows.size()), Z_DEFAULT_COMPRESSION) != Z_OK) {
        out.failed = true;
        return;
    }
    WriteChunk(out, "IDAT", reinterpret_cast<const char*>(packed.data()), size);
    WriteChunk(out, "IEND", nullptr, 0);
}

bool PngStandsComplete(std::FILE* file, int64_t size) {
    static const std::string kEnd("\0\0\0\0IEND\xAE\x42\x60\x82", 12);
    return ReadFileAt(file, 0, 8) == "\x89PNG\r\n\x1A\n" && size >= 20 &&
           ReadFileAt(file, size - 12, 12) == kEnd;
}
