// reference-convert: the plain way of converting a grid (std::getline, an
// istringstream per row, snprintf per number, corner records per cell), for
// the benchmark's comparison. Writes OUT from GRID with the whole grid.
//   reference-convert GRID.asc OUT.obj interpolated|floating
#include <cstdio>
#include <fstream>
#include <string>

#include "reference_converter.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: reference-convert GRID.asc OUT.obj interpolated|floating\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    GridHeader header;
    if (!ReferenceReadHeader(in, header)) {
        std::fprintf(stderr, "reference-convert: header not read\n");
        return 1;
    }
    const MeshMethod method = std::string(argv[3]) == "floating" ? FloatingPlanes : Interpolated;
    std::ofstream out(argv[2], std::ios::binary);
    out << "# Dunmoor v0.2\r\n#\r\n#\r\n# File conversion started at: 2026-12-07, 14:03\r\n\r\n\r\n";
    const JobCounts r = ReferenceConvert(in, header, method, {1, 1, header.ncols, header.nrows}, 1.0f,
                                               "reference.obj", ReferenceRounding::Printf, out);
    std::printf("vertices: %lld\nquads: %lld\n", static_cast<long long>(r.vertices),
                static_cast<long long>(r.quads));
    return out ? 0 : 1;
}
