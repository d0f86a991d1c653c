#include "reference_converter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
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

// The next row: lines end at LF, CR LF or a lone CR; blank lines are skipped.
struct RowReader {
    std::istream& in;
    std::vector<std::string> pending;  // rows of the current LF-ended chunk, last first
};

bool IsBlank(const std::string& line) {
    return line.find_first_not_of(" \t\n\v\f\r") == std::string::npos;
}

bool NextRow(RowReader& reader, std::string& row) {
    while (reader.pending.empty()) {
        std::string chunk;
        if (!std::getline(reader.in, chunk)) return false;
        std::istringstream pieces(chunk);
        std::vector<std::string> rows;
        for (std::string piece; std::getline(pieces, piece, '\r');)
            if (!IsBlank(piece)) rows.push_back(piece);
        reader.pending.assign(rows.rbegin(), rows.rend());
    }
    row = reader.pending.back();
    reader.pending.pop_back();
    return true;
}

// A token that is wholly a number; nan, inf and numbers beyond the float
// range (infinite as floats) included.
bool ParseValue(const std::string& token, float& v) {
    char* end = nullptr;
    v = std::strtof(token.c_str(), &end);
    return end != token.c_str() && *end == '\0';
}

// The values of a row up to the first token that is not wholly a number.
std::vector<float> RowValues(const std::string& row) {
    std::istringstream tokens(row);
    std::vector<float> values;
    float v;
    for (std::string token; tokens >> token && ParseValue(token, v);) values.push_back(v);
    return values;
}

// Region cells of row L from column j on that the header's grid holds.
int64_t Promised(const GridHeader& h, const RegionWindow& region, int64_t L, int64_t j) {
    if (L < std::max<int64_t>(region.yMin, 1) || L > std::min<int64_t>(region.yMax, h.nrows)) return 0;
    const int64_t west = std::max<int64_t>({j, region.xMin, 1});
    const int64_t east = std::min<int64_t>(region.xMax, h.ncols);
    return std::max<int64_t>(east - west + 1, 0);
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

using Counts = JobCounts;

// Floating planes, step by step.
void FloatingPlanesMesh(std::istream& in, const GridHeader& h, const RegionWindow& region, float scale,
                        float scaleY, ReferenceRounding rounding, std::ostream& vertices, Counts& counts) {
    RowReader reader{in, {}};
    std::string line;
    int64_t row = 0;
    while (row < region.yMax && NextRow(reader, line)) {
        ++row;
        if (row < region.yMin) continue;
        const std::vector<float> values = RowValues(line);
        for (int64_t column = region.xMin; column <= region.xMax; ++column) {
            if (column > static_cast<int64_t>(values.size())) {
                counts.missing += Promised(h, region, row, column);
                break;
            }
            const float v = values[column - 1];
            if (IsFloatingNodata(v, h)) {
                ++counts.nodata;
                continue;
            }
            const float x0 = West(column, h, scale);
            const float x1 = x0 + scale;
            const float y0 = North(row, h, scaleY);
            const float y1 = -(scaleY - y0);
            const float z = v * scale;
            vertices << VertexLine(x0, y0, z, rounding) + VertexLine(x1, y0, z, rounding) +
                            VertexLine(x1, y1, z, rounding) + VertexLine(x0, y1, z, rounding);
            ++counts.quads;
            counts.vertices += 4;
        }
    }
    for (++row; row <= region.yMax; ++row) counts.missing += Promised(h, region, row, 1);
}

struct Corners {
    bool valid = false;
    int64_t topLeft = 1, topRight = 1, bottomRight = 1, bottomLeft = 1;
};

// Interpolated, with one record of four corner numbers per cell handed out
// as each vertex is written. A cell the file does not supply is a hole exactly
// like a no-data cell, counted as missing instead.
void InterpolatedMesh(std::istream& in, const GridHeader& h, const RegionWindow& region, float scale,
                      float scaleY, ReferenceRounding rounding, std::ostream& out,
                      const std::string& outputName, Counts& counts) {
    const int64_t cols = int64_t{region.xMax} - region.xMin + 1;
    const int64_t rows = int64_t{region.yMax} - region.yMin + 1;
    const int64_t cells = (cols > 0 && rows > 0) ? cols * rows : 0;
    std::vector<float> heights(cells);
    std::vector<bool> hole(cells, true);
    std::vector<Corners> corners(cells);
    auto index = [&](int64_t r, int64_t c) { return (r - 1) * cols + (c - 1); };
    auto present = [&](int64_t r, int64_t c) { return r >= 1 && c >= 1 && !hole[index(r, c)]; };

    RowReader reader{in, {}};
    std::string line;
    for (int64_t L = 1; cells > 0 && L <= region.yMax; ++L) {
        const bool supplied = NextRow(reader, line);
        if (L < region.yMin) continue;
        const std::vector<float> values = supplied ? RowValues(line) : std::vector<float>{};
        const int64_t r = L - region.yMin + 1;
        for (int64_t j = region.xMin; j <= region.xMax; ++j) {
            const int64_t c = j - region.xMin + 1;
            const bool missing = j > static_cast<int64_t>(values.size());
            const float v = missing ? 0.0f : values[j - 1];
            if (missing && j <= h.ncols && L <= h.nrows) ++counts.missing;
            heights[index(r, c)] = v;
            int k = 0;
            const float A = present(r - 1, c) ? heights[index(r - 1, c)] : (++k, 0.0f);
            const float AL = present(r - 1, c - 1) ? heights[index(r - 1, c - 1)] : (++k, 0.0f);
            const float Lh = present(r, c - 1) ? heights[index(r, c - 1)] : (++k, 0.0f);
            const bool nodata = missing || IsInterpolatedNodata(v, h);
            if (nodata && !missing) ++counts.nodata;
            hole[index(r, c)] = nodata;
            if (nodata && k == 3) continue;

            const float xWest = West(j, h, scale), xEast = xWest + scale;
            const float yNorth = North(L, h, scaleY), ySouth = -(scaleY - yNorth);
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

JobCounts ReferenceConvert(std::istream& data, const GridHeader& header, MeshMethod method,
                                 const RegionWindow& region, float unitMeters,
                                 const std::string& outputName, ReferenceRounding rounding,
                                 std::ostream& out) {
    const float scale = header.cellsize / unitMeters;
    const float scaleY = CellSizeY(header) / unitMeters;
    Counts counts;
    if (method == FloatingPlanes) {
        FloatingPlanesMesh(data, header, region, scale, scaleY, rounding, out, counts);
        WriteCountAndNames(out, counts.vertices, outputName);
        for (int64_t k = 1; k <= counts.quads; ++k) out << FaceLine(4 * k, 4 * k - 1, 4 * k - 2, 4 * k - 3);
    } else {
        InterpolatedMesh(data, header, region, scale, scaleY, rounding, out, outputName, counts);
    }
    out << "# " << counts.quads << " quads";
    return counts;
}
