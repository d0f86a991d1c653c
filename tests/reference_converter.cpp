#include "reference_converter.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <vector>

namespace {

std::string PrintfFixed2(float value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.2f", static_cast<double>(value));
    return text;
}

std::string Coordinate(float value, ReferenceRounding rounding) {
    return rounding == ReferenceRounding::TiesAway ? ReferenceFixed2(value) : PrintfFixed2(value);
}

std::string VertexLine(float x, float y, float z, ReferenceRounding rounding) {
    return "v " + Coordinate(x, rounding) + " " + Coordinate(y, rounding) + " " +
           Coordinate(z, rounding) + "\r\n";
}

std::string FaceLine(int64_t a, int64_t b, int64_t c, int64_t d) {
    char text[128];
    std::snprintf(text, sizeof text, "f %lld %lld %lld %lld\r\n", static_cast<long long>(a),
                  static_cast<long long>(b), static_cast<long long>(c), static_cast<long long>(d));
    return text;
}

bool ReadLine(std::istream& in, std::string& line) {
    if (!std::getline(in, line)) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

float West(int64_t j, const GridHeader& h, float scale) {
    return static_cast<float>((static_cast<double>(static_cast<float>(j) + h.xllcorner) - 1.0) *
                              static_cast<double>(scale));
}

float North(int64_t row, const GridHeader& h, float scale) {
    return static_cast<float>(((1.0 - static_cast<float>(row)) + static_cast<float>(h.nrows) +
                               static_cast<double>(h.yllcorner)) *
                              static_cast<double>(scale));
}

void WriteCountAndNames(std::ostream& out, int64_t vertexCount, const std::string& name) {
    out << "# " << vertexCount << " vertices\r\n\r\n" << "o " << name << "\r\ng " << name << "\r\n";
}

struct Counts {
    int64_t vertices = 0, quads = 0, nodata = 0;
};


// Floating planes, step by step.
void FloatingPlanesMesh(std::istream& in, const GridHeader& h, const RegionWindow& region, float scale,
                    ReferenceRounding rounding, std::ostream& vertices, Counts& counts) {
    std::string line;
    int64_t row = 0;
    while (ReadLine(in, line)) {
        if (line.empty()) continue;
        ++row;
        std::istringstream values(line);
        if (row >= region.yMin && row <= region.yMax) {
            float v;
            int64_t column = 0;
            while (values >> v) {
                ++column;
                if (column > region.xMax) break;
                if (column < region.xMin) continue;
                const bool nodata = std::fabs(v) < 2147483648.0f && static_cast<int32_t>(v) == h.nodata;
                if (nodata) {
                    ++counts.nodata;
                    continue;
                }
                const float x0 = West(column, h, scale);
                const float x1 = x0 + scale;
                const float y0 = North(row, h, scale);
                const float y1 = -(scale - y0);
                const float z = v * scale;
                vertices << VertexLine(x0, y0, z, rounding) + VertexLine(x1, y0, z, rounding) +
                                VertexLine(x1, y1, z, rounding) + VertexLine(x0, y1, z, rounding);
                ++counts.quads;
                counts.vertices += 4;
            }
        }
        if (row > region.yMax) break;
    }
}

struct Corners {
    bool valid = false;
    int64_t topLeft = 1, topRight = 1, bottomRight = 1, bottomLeft = 1;
};

// Interpolated, with one record of four corner numbers per cell handed out
// as each vertex is written. Cells that no line supplied count as missing.
void InterpolatedMesh(std::istream& in, const GridHeader& h, const RegionWindow& region, float scale,
                      ReferenceRounding rounding, std::ostream& out,
                      const std::string& outputName, Counts& counts) {
    const int64_t cols = int64_t{region.xMax} - region.xMin + 1;
    const int64_t rows = int64_t{region.yMax} - region.yMin + 1;
    const int64_t cells = (cols > 0 && rows > 0) ? cols * rows : 0;
    std::vector<float> heights(cells);
    std::vector<bool> read(cells, false);
    std::vector<Corners> corners(cells);
    const float nodataValue = static_cast<float>(h.nodata);
    auto index = [&](int64_t r, int64_t c) { return (r - 1) * cols + (c - 1); };
    auto present = [&](int64_t r, int64_t c) {
        return r >= 1 && c >= 1 && read[index(r, c)] && heights[index(r, c)] != nodataValue;
    };

    std::string line;
    int64_t L = 0;
    while (ReadLine(in, line)) {
        if (line.empty()) continue;
        ++L;
        if (L > region.yMax) break;
        if (L < region.yMin || cells == 0) continue;
        const int64_t r = L - region.yMin + 1;
        std::istringstream values(line);
        float v;
        for (int64_t j = 1; values >> v; ++j) {
            if (j < region.xMin) continue;
            if (j > region.xMax) break;
            const int64_t c = j - region.xMin + 1;
            heights[index(r, c)] = v;
            read[index(r, c)] = true;
            int k = 0;
            const float A = present(r - 1, c) ? heights[index(r - 1, c)] : (++k, 0.0f);
            const float AL = present(r - 1, c - 1) ? heights[index(r - 1, c - 1)] : (++k, 0.0f);
            const float Lh = present(r, c - 1) ? heights[index(r, c - 1)] : (++k, 0.0f);
            const bool nodata = v == nodataValue;
            if (nodata) ++counts.nodata;
            if (nodata && k == 3) continue;

            const float xWest = West(j, h, scale), xEast = xWest + scale;
            const float yNorth = North(L, h, scale), ySouth = -(scale - yNorth);
            float own = v;
            if (nodata) {
                ++k;
                own = 0.0f;
            }
            const float z = (((AL + A) + Lh) + own) / static_cast<float>(4 - k) * scale;
            std::string cellText = VertexLine(xWest, yNorth, z, rounding);
            const int64_t V = ++counts.vertices;
            Corners& cell = corners[index(r, c)];
            if (!nodata) {
                cell.valid = true;
                ++counts.quads;
            }
            cell.topLeft = V;
            if (r > 1 && present(r - 1, c)) corners[index(r - 1, c)].bottomLeft = V;
            if (r > 1 && c > 1 && present(r - 1, c - 1)) corners[index(r - 1, c - 1)].bottomRight = V;
            if (c > 1 && present(r, c - 1)) corners[index(r, c - 1)].topRight = V;

            auto edge = [&](bool other, float otherHeight, float& zEdge) {
                if (!nodata && other) zEdge = static_cast<float>(static_cast<double>(v + otherHeight) * 0.5 * scale);
                else if (!nodata) zEdge = v * scale;
                else if (other) zEdge = otherHeight * scale;
                else return false;
                return true;
            };
            float zEdge;
            if (c == cols && edge(present(r - 1, c), A, zEdge)) {
                cellText += VertexLine(xEast, yNorth, zEdge, rounding);
                const int64_t E = ++counts.vertices;
                cell.topRight = E;
                if (r > 1) corners[index(r - 1, c)].bottomRight = E;
            }
            if (r == rows && edge(present(r, c - 1), Lh, zEdge)) {
                cellText += VertexLine(xWest, ySouth, zEdge, rounding);
                const int64_t S = ++counts.vertices;
                cell.bottomLeft = S;
                if (c > 1) corners[index(r, c - 1)].bottomRight = S;
            }
            if (c == cols && r == rows && !nodata) {
                cellText += VertexLine(xEast, ySouth, v * scale, rounding);
                cell.bottomRight = ++counts.vertices;
            }
            out << cellText;
        }
    }
    WriteCountAndNames(out, counts.vertices, outputName);
    for (const Corners& cell : corners) {
        if (cell.valid) out << FaceLine(cell.bottomLeft, cell.bottomRight, cell.topRight, cell.topLeft);
    }
}

}  // namespace

std::string ReferenceFixed2(float value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    char text[400];
    std::snprintf(text, sizeof text, "%.160f", std::fabs(static_cast<double>(value)));
    std::string digits(text);
    const std::size_t point = digits.find('.');
    const bool roundUp = digits[point + 3] >= '5';
    std::string kept = digits.substr(0, point) + digits.substr(point + 1, 2);
    if (roundUp) {
        int i = static_cast<int>(kept.size()) - 1;
        while (i >= 0 && kept[i] == '9') kept[i--] = '0';
        if (i >= 0) kept[i] += 1;
        else kept.insert(kept.begin(), '1');
    }
    std::string out = std::signbit(value) ? "-" : "";
    out += kept.substr(0, kept.size() - 2) + "." + kept.substr(kept.size() - 2);
    return out;
}

bool ReferenceReadHeader(std::istream& in, GridHeader& h) {
    std::string keyword;
    in >> keyword >> h.ncols >> keyword >> h.nrows >> keyword >> h.xllcorner >> keyword >> h.yllcorner >>
        keyword >> h.cellsize >> keyword >> h.nodata;
    return static_cast<bool>(in);
}

ReferenceResult ReferenceConvert(std::istream& data, const GridHeader& header, MeshMethod method,
                                 const RegionWindow& region, float unitMeters,
                                 const std::string& outputName, ReferenceRounding rounding,
                                 std::ostream& out) {
    const float scale = header.cellsize / unitMeters;
    Counts counts;
    if (method == FloatingPlanes) {
        FloatingPlanesMesh(data, header, region, scale, rounding, out, counts);
        WriteCountAndNames(out, counts.vertices, outputName);
        for (int64_t k = 1; k <= counts.quads; ++k) out << FaceLine(4 * k, 4 * k - 1, 4 * k - 2, 4 * k - 3);
    } else {
        InterpolatedMesh(data, header, region, scale, rounding, out, outputName, counts);
    }
    out << "# " << counts.quads << " quads";
    ReferenceResult result;
    result.vertexCount = counts.vertices;
    result.quadCount = counts.quads;
    result.nodataCount = counts.nodata;
    return result;
}
