#include "picture/texture_image.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "job/output_file.h"

namespace {

int64_t BigEndian(const unsigned char* p, int bytes) {
    int64_t value = 0;
    for (int k = 0; k < bytes; ++k) value = value << 8 | p[k];
    return value;
}

// A PNG's size from its IHDR chunk, the first after the signature.
bool ReadPngSize(const std::string& head, ImageInfo& info) {
    static const char signature[] = "\x89PNG\r\n\x1a\n";
    if (head.size() < 24 || head.compare(0, 8, signature, 8) != 0 || head.compare(12, 4, "IHDR") != 0) return false;
    const auto* p = reinterpret_cast<const unsigned char*>(head.data());
    info.kind = ImageKind::Png;
    info.width = BigEndian(p + 16, 4);
    info.height = BigEndian(p + 20, 4);
    return info.width > 0 && info.height > 0;
}

// A JPEG's size from its first frame header (SOF0 to SOF15 but for the
// markers that share their numbers: DHT, JPG, DAC), found by walking the
// segments from the start.
bool ReadJpegSize(std::FILE* file, ImageInfo& info) {
    int64_t at = 2;
    for (int segments = 0; segments < 100000; ++segments) {
        const std::string marker = ReadFileAt(file, at, 4);
        if (marker.size() < 4) return false;
        const auto* m = reinterpret_cast<const unsigned char*>(marker.data());
        if (m[0] != 0xFF) return false;
        if (m[1] == 0xFF) {  // fill byte
            at += 1;
            continue;
        }
        const int type = m[1];
        const int64_t length = BigEndian(m + 2, 2);
        if (type >= 0xC0 && type <= 0xCF && type != 0xC4 && type != 0xC8 && type != 0xCC) {
            const std::string frame = ReadFileAt(file, at + 4, 5);
            if (frame.size() < 5) return false;
            const auto* f = reinterpret_cast<const unsigned char*>(frame.data());
            info.kind = ImageKind::Jpeg;
            info.height = BigEndian(f + 1, 2);
            info.width = BigEndian(f + 3, 2);
            return info.width > 0 && info.height > 0;
        }
        if (type == 0xD9 || type == 0xDA || length < 2) return false;  // the image ended or its data began
        at += 2 + length;
    }
    return false;
}

bool ParseNumber(const std::string& text, double& value) {
    const char* start = text.c_str();
    char* end = nullptr;
    value = std::strtod(start, &end);
    if (end == start) return false;
    while (*end == ' ' || *end == '\t' || *end == '\r') ++end;
    return *end == '\0' && std::isfinite(value);
}

}  // namespace

bool ReadImageInfo(const std::filesystem::path& path, ImageInfo& info, std::string& problem) {
    std::FILE* file = OpenExistingFile(path);
    if (file == nullptr) return problem = "cannot be read", false;
    std::error_code error;
    info.bytes = static_cast<int64_t>(std::filesystem::file_size(path, error));
    const std::string head = ReadFileAt(file, 0, 24);
    const bool jpeg = head.size() >= 3 && head.compare(0, 3, "\xFF\xD8\xFF", 3) == 0;
    const bool known = jpeg ? ReadJpegSize(file, info) : ReadPngSize(head, info);
    std::fclose(file);
    if (error) return problem = "cannot be read", false;
    if (!known) return problem = "is neither a PNG nor a JPEG image whose size its header gives", false;
    return true;
}

std::vector<std::filesystem::path> WorldFileCandidates(const std::filesystem::path& image) {
    std::filesystem::path extension = image.extension();
    std::string ext = extension.string();
    for (char& ch : ext) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    std::vector<std::filesystem::path> names;
    const auto with = [&](const char* suffix) {
        std::filesystem::path candidate = image;
        candidate.replace_extension(suffix);
        names.push_back(candidate);
    };
    if (ext == ".png") {
        with(".pgw");
        with(".pngw");
    } else if (ext == ".jpg" || ext == ".jpeg") {
        with(".jgw");
        with(".jpgw");
    }
    with(".wld");
    return names;
}

bool ReadWorldFileOf(const std::filesystem::path& image, WorldFile& world, std::filesystem::path& found,
                     std::string& problem) {
    const std::vector<std::filesystem::path> candidates = WorldFileCandidates(image);
    found.clear();
    for (const std::filesystem::path& candidate : candidates) {
        std::error_code error;
        if (std::filesystem::is_regular_file(candidate, error)) {
            found = candidate;
            break;
        }
    }
    if (found.empty()) {
        problem = "no world file beside the image: looked for";
        for (const auto& candidate : candidates) problem += " " + candidate.filename().string();
        return false;
    }
    std::ifstream in(found, std::ios::binary);
    double terms[6];
    std::string line;
    int count = 0;
    while (count < 6 && std::getline(in, line)) {
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        if (!ParseNumber(line, terms[count])) break;
        ++count;
    }
    if (count < 6) return problem = found.filename().string() + " does not hold six numbers", false;
    world = {terms[0], terms[1], terms[2], terms[3], terms[4], terms[5]};
    if (world.d != 0 || world.b != 0)
        return problem = found.filename().string() + " turns the image (rotation terms): not supported", false;
    if (world.a == 0 || world.e == 0) return problem = found.filename().string() + " gives a pixel of no size", false;
    return true;
}
