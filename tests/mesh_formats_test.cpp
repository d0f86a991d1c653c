// The binary formats and vertex normals: every format holds the same mesh
// (PLY's positions and faces are the reference), and normals change nothing
// but add themselves, whatever the workers and block sizes.
#include <cmath>
#include <cstring>
#include <map>
#include <set>

#include "job/test_hooks.h"
#include "job_harness.h"

namespace {

struct BinaryMesh {
    std::vector<std::array<float, 3>> positions, normals;
    std::vector<std::vector<int64_t>> faces;  // vertex numbers from 0
};

using Float3 = std::array<float, 3>;

template <typename T>
T At(const std::string& bytes, std::size_t offset) {
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

int64_t HeaderCount(const std::string& header, const std::string& key) {
    const std::size_t at = header.find(key);
    return at == std::string::npos ? -1 : std::atoll(header.c_str() + at + key.size());
}

BinaryMesh ReadPly(const std::string& file) {
    BinaryMesh m;
    const std::size_t body = file.find("end_header\n") + 11;
    const std::string header = file.substr(0, body);
    const bool normals = header.find("property float nx") != std::string::npos;
    const std::size_t stride = 12 + (normals ? 12 : 0) + (header.find("texture_u") != std::string::npos ? 8 : 0);
    std::size_t p = body;
    for (int64_t i = HeaderCount(header, "element vertex "); i > 0; --i, p += stride) {
        m.positions.push_back(At<Float3>(file, p));
        if (normals) m.normals.push_back(At<Float3>(file, p + 12));
    }
    for (int64_t i = HeaderCount(header, "element face "); i > 0; --i) {
        auto& face = m.faces.emplace_back(static_cast<unsigned char>(file[p++]));
        for (auto& n : face) n = At<int32_t>(file, p), p += 4;
    }
    return m;
}

// A quad as two triangles, split along its first and third corners.
std::vector<std::array<int64_t, 3>> Triangles(const BinaryMesh& m) {
    std::vector<std::array<int64_t, 3>> t;
    for (const auto& f : m.faces) {
        t.push_back({f[0], f[1], f[2]});
        if (f.size() == 4) t.push_back({f[0], f[2], f[3]});
    }
    return t;
}

// The normal each vertex should have: the sum of its faces' normals (a
// quad's is the cross product of its diagonals), unit length.
std::vector<std::array<double, 3>> FaceNormals(const BinaryMesh& m) {
    std::vector<std::array<double, 3>> sums(m.positions.size(), {0.0, 0.0, 0.0});
    const auto d = [&](int64_t a, int64_t b, int k) { return double{m.positions[b][k]} - m.positions[a][k]; };
    for (const auto& f : m.faces) {
        const int64_t a = f[0], b = f[1], c = f[2], e = f.size() == 4 ? f[3] : f[0];
        // A quad: (e->b) x (a->c), its diagonals; a triangle: (a->b) x (a->c).
        const int64_t from = f.size() == 4 ? e : a;
        const double q[3] = {d(from, b, 0), d(from, b, 1), d(from, b, 2)}, p[3] = {d(a, c, 0), d(a, c, 1), d(a, c, 2)};
        const double n[3] = {q[1] * p[2] - q[2] * p[1], q[2] * p[0] - q[0] * p[2], q[0] * p[1] - q[1] * p[0]};
        for (const int64_t corner : f)
            for (int k = 0; k < 3; ++k) sums[corner][k] += n[k];
    }
    for (auto& s : sums) {
        const double length = std::sqrt(s[0] * s[0] + s[1] * s[1] + s[2] * s[2]);
        for (double& c : s) c /= length;
    }
    return sums;
}

// Terrain with holes inside and on every edge, and a short row.
std::string HoleGrid(int rows_supplied = 17, int cols = 23, int rows = 17) {
    std::string text = "ncols " + std::to_string(cols) + "\nnrows " + std::to_string(rows) +
                       "\nxllcorner 500\nyllcorner 700\ncellsize 2\nNODATA_value -9999\n";
    for (int r = 0; r < rows_supplied; ++r) {
        const int columns = r == 9 ? 15 : cols;
        for (int c = 0; c < columns; ++c) {
            const bool hole = (r == 4 && c > 3 && c < 7) || (r == 0 && c == 11) || (c == 22 && r == 13) ||
                              (r == 16 && c < 2) || (r + c) % 29 == 5;
            text += hole ? "-9999" : std::to_string(40 + 6 * std::sin(c * 0.3) * std::cos(r * 0.2) + 0.05 * r);
            text += c + 1 < columns ? " " : "\n";
        }
    }
    return text;
}

JobRecord& RunFormat(JobHarness& harness, const std::filesystem::path& grid, MeshMethod method, MeshFormatKind format,
                     bool normals, UpAxis up = ZUp, RegionWindow region = {}, double maxError = kDefaultMaxError) {
    harness.beforeRun = [=](JobRequest& request, GridStream&) {
        request.maxError = maxError;
        request.format = format;
        request.normals = normals;
        request.geometry = TrueScaleGeometry;
        request.up = up;
    };
    return harness.Run(grid, method, region);
}

}  // namespace

TEST(VertexNormals, AddThemselvesToTheSameMeshAndAreTheNormalsOfItsFaces) {
    JobHarness harness("normals");
    const auto holes = harness.WriteGrid("holes.asc", HoleGrid());
    const auto ended = harness.WriteGrid("ended.asc", HoleGrid(11));  // rows missing at the end
    const auto tall = harness.WriteGrid("tall.asc", HoleGrid(1100, 9, 1100));  // bands of rows
    for (const auto& grid : {holes, ended, tall}) {
        for (const RegionWindow region : {RegionWindow{}, RegionWindow{3, 2, 30, 20}}) {
            for (MeshMethod method : {Interpolated, FloatingPlanes, Simplified}) {
                const BinaryMesh plain = ReadPly(RunFormat(harness, grid, method, MeshFormatKind::Ply, false, ZUp, region).file);
                for (int workers : {1, 3}) {
                    harness.workers = workers;
                    SetTestHooks(workers == 1 ? TestHooks{} : TestHooks{0, 16, 2048});
                    const BinaryMesh m = ReadPly(RunFormat(harness, grid, method, MeshFormatKind::Ply, true, ZUp, region).file);
                    const std::string where = grid.filename().string() + " method " + std::to_string(method) +
                                              " workers " + std::to_string(workers) + " x " + std::to_string(region.xMin);
                    ASSERT_EQ(m.positions, plain.positions) << where;
                    ASSERT_EQ(m.faces, plain.faces) << where;
                    ASSERT_EQ(m.normals.size(), m.positions.size()) << where;
                    const auto expected = FaceNormals(m);
                    for (std::size_t i = 0; i < m.normals.size(); ++i) {
                        const auto& n = m.normals[i];
                        // Floating planes: straight up, each cell by itself.
                        const std::array<double, 3> e =
                            method == FloatingPlanes ? std::array<double, 3>{0, 0, 1} : expected[i];
                        ASSERT_NEAR(n[0], e[0], 1e-5) << where << " vertex " << i;
                        ASSERT_NEAR(n[1], e[1], 1e-5) << where << " vertex " << i;
                        ASSERT_NEAR(n[2], e[2], 1e-5) << where << " vertex " << i;
                    }
                }
                SetTestHooks({});
                harness.workers = 0;
            }
        }
    }
}

TEST(VertexNormals, FollowASmoothSurfaceWithinThreeDegrees) {
    JobHarness harness("normals-smooth");
    std::string text = "ncols 80\nnrows 60\nxllcorner 0\nyllcorner 0\ncellsize 1\n";
    const auto height = [](double x, double y) { return 6 * std::sin(x / 7) * std::cos(y / 9); };
    for (int r = 0; r < 60; ++r)
        for (int c = 0; c < 80; ++c) text += std::to_string(height(c + 0.5, 59.5 - r)) + (c < 79 ? " " : "\n");
    const auto grid = harness.WriteGrid("smooth.asc", text);
    // Interpolated's surface; a simplified one is only within its error of it
    // (its normals are its own faces', as the test above shows).
    for (MeshMethod method : {Interpolated}) {
        const BinaryMesh m = ReadPly(RunFormat(harness, grid, method, MeshFormatKind::Ply, true).file);
        double worst = 0.0;
        for (std::size_t i = 0; i < m.positions.size(); ++i) {
            // On the region's edge a corner's height is its cells' mean, half a
            // cell inside: the mesh itself leans there, and the normals of the
            // edge's corners and of their neighbours follow it.
            const double x = m.positions[i][0], y = m.positions[i][1], h = 1e-4;
            if (x < 1.5 || x > 78.5 || y < 1.5 || y > 58.5) continue;
            double t[3] = {-(height(x + h, y) - height(x - h, y)) / (2 * h), -(height(x, y + h) - height(x, y - h)) / (2 * h), 1};
            const double length = std::sqrt(t[0] * t[0] + t[1] * t[1] + 1);
            const double dot = (t[0] * m.normals[i][0] + t[1] * m.normals[i][1] + t[2] * m.normals[i][2]) / length;
            const double degrees = std::acos(std::min(1.0, dot)) * 180 / std::acos(-1.0);
            worst = std::max(worst, degrees);
        }
        EXPECT_LT(worst, 3.0) << "method " << method;
    }
}

namespace {

// The numbers after the first `key` in a GLB's JSON from `from` on.
std::vector<double> JsonNumbers(const std::string& json, const std::string& key, std::size_t from = 0) {
    std::vector<double> numbers;
    const char* p = json.c_str() + json.find(key, from) + key.size();
    if (*p == '[') ++p;
    for (char* end = nullptr;; p = end + 1) {
        numbers.push_back(std::strtod(p, &end));
        if (*end != ',') break;
    }
    return numbers;
}

}  // namespace

TEST(MeshFormats, HoldTheSameMeshCounterClockwiseFromAbove) {
    JobHarness harness("formats");
    std::string unequal = HoleGrid();
    unequal.replace(unequal.find("cellsize 2"), 10, "dx 2\ndy 3");
    const auto grids = {harness.WriteGrid("holes.asc", HoleGrid()), harness.WriteGrid("dxdy.asc", unequal)};
    for (const auto& grid : grids) {
        for (MeshMethod method : {Interpolated, FloatingPlanes, Simplified}) {
            const std::string where = grid.filename().string() + " method " + std::to_string(method);
            const BinaryMesh ply = ReadPly(RunFormat(harness, grid, method, MeshFormatKind::Ply, false).file);
            const auto triangles = Triangles(ply);
            // Counter-clockwise seen from above, and together the valid cells.
            double area = 0.0;
            for (const auto& t : triangles) {
                const auto &a = ply.positions[t[0]], &b = ply.positions[t[1]], &c = ply.positions[t[2]];
                const double twice = (double{b[0]} - a[0]) * (double{c[1]} - a[1]) - (double{b[1]} - a[1]) * (double{c[0]} - a[0]);
                ASSERT_GT(twice, 0.0) << where;
                area += twice / 2;
            }
            const JobCounts& counts = harness.record.summary.counts;
            const double cell = grid == *grids.begin() ? 4.0 : 6.0;
            EXPECT_NEAR(area, cell * static_cast<double>(counts.quads != 0 ? counts.quads : 23 * 17 - counts.nodata - counts.missing), 1e-3) << where;

            // GLB: y up, z south; the same vertices, each quad as two triangles.
            const std::string glb = RunFormat(harness, grid, method, MeshFormatKind::Glb, false).file;
            ASSERT_EQ(At<uint32_t>(glb, 8), glb.size()) << where;
            const std::string json = glb.substr(20, At<uint32_t>(glb, 12));
            const std::size_t bin = 20 + json.size() + 8;
            ASSERT_EQ(JsonNumbers(json, "\"count\":")[0], ply.positions.size()) << where;
            std::array<float, 3> low{1e30f, 1e30f, 1e30f}, high{-1e30f, -1e30f, -1e30f};
            for (std::size_t i = 0; i < ply.positions.size(); ++i) {
                const auto& p = ply.positions[i];
                const auto position = At<Float3>(glb, bin + 24 * i);
                ASSERT_EQ(position, (Float3{p[0], p[2], -p[1]})) << where << " vertex " << i;
                const auto n = At<Float3>(glb, bin + 24 * i + 12);
                ASSERT_NEAR(n[0] * n[0] + n[1] * n[1] + n[2] * n[2], 1.0, 1e-5) << where;
                for (int k = 0; k < 3; ++k) low[k] = std::min(low[k], position[k]), high[k] = std::max(high[k], position[k]);
            }
            EXPECT_EQ(JsonNumbers(json, "\"min\":"), std::vector<double>(low.begin(), low.end())) << where;
            EXPECT_EQ(JsonNumbers(json, "\"max\":"), std::vector<double>(high.begin(), high.end())) << where;
            const bool shortIndices = JsonNumbers(json, "\"componentType\":", json.find("\"bufferView\":1"))[0] == 5123;
            EXPECT_EQ(shortIndices, ply.positions.size() < 65535) << where;
            const std::size_t indices = bin + 24 * ply.positions.size();
            for (std::size_t t = 0; t < triangles.size(); ++t)
                for (std::size_t k = 0; k < 3; ++k)
                    ASSERT_EQ(shortIndices ? At<uint16_t>(glb, indices + 2 * (3 * t + k)) : At<uint32_t>(glb, indices + 4 * (3 * t + k)),
                              triangles[t][k]) << where;

            // STL: every triangle's corners in place, its normal up.
            const std::string stl = RunFormat(harness, grid, method, MeshFormatKind::Stl, false).file;
            ASSERT_EQ(At<uint32_t>(stl, 80), triangles.size()) << where;
            ASSERT_EQ(stl.size(), 84 + 50 * triangles.size()) << where;
            for (std::size_t t = 0; t < triangles.size(); ++t) {
                EXPECT_GT(At<Float3>(stl, 84 + 50 * t)[2], 0.0f) << where;
                for (std::size_t k = 0; k < 3; ++k)
                    ASSERT_EQ(At<Float3>(stl, 84 + 50 * t + 12 * (k + 1)), ply.positions[triangles[t][k]]) << where;
            }
            // PLY with y up: x, z, -y.
            const BinaryMesh up = ReadPly(RunFormat(harness, grid, method, MeshFormatKind::Ply, false, YUp).file);
            ASSERT_EQ(up.faces, ply.faces) << where;
            for (std::size_t i = 0; i < ply.positions.size(); ++i)
                ASSERT_EQ(up.positions[i], (Float3{ply.positions[i][0], ply.positions[i][2], -ply.positions[i][1]}));
        }
    }
}

namespace {

// A PNG of `width` x `height` as far as its header goes (its size is all a
// conversion reads of it), and a world file beside it.
std::filesystem::path WriteImage(JobHarness& harness, const std::string& name, int width, int height,
                                 const std::string& world) {
    std::string png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
    for (const int side : {width, height})
        for (int shift = 24; shift >= 0; shift -= 8) png += static_cast<char>(side >> shift);
    png += std::string("\x08\x02\0\0\0", 5);
    const auto image = harness.WriteGrid(name, png);
    if (!world.empty()) harness.WriteGrid(std::filesystem::path(name).replace_extension(".pgw").string(), world);
    return image;
}

}  // namespace

// Every vertex lands where its ground position lies on the image: the world
// file gives the upper-left pixel's centre, the image's edges lie half a
// pixel beyond. OBJ counts v up from the bottom, glTF down from the top.
TEST(Textures, PlaceEveryVertexOnTheImageByItsWorldFile) {
    JobHarness harness("texture");
    const auto grid = harness.WriteGrid("holes.asc", HoleGrid());  // x 500 to 546, y 700 to 734, cells of 2
    // 13 x 9 pixels of 4.1 x 4.3 ground units, an odd size and offset.
    const double a = 4.1, e = -4.3, c = 495.3, f = 735.1;
    std::filesystem::create_directories(harness.folder / "images");
    const auto image = WriteImage(harness, "images/photo.png", 13, 9, "4.1\n0\n0\n-4.3\n495.3\n735.1\n");
    for (MeshMethod method : {Interpolated, FloatingPlanes, Simplified}) {
        // The classic geometry's positions are the grid's own, less its corner's (500, 700) twice.
        for (const bool classic : {false, true}) {
        for (MeshFormatKind format : {MeshFormatKind::Obj, MeshFormatKind::Glb, MeshFormatKind::Ply}) {
            if (classic && format != MeshFormatKind::Obj) continue;
            harness.beforeRun = [&](JobRequest& request, GridStream&) {
                request.format = format;
                request.geometry = classic ? ClassicGeometry : TrueScaleGeometry;
                request.texture = TextureChoice::Image;
                request.texturePath = image;
            };
            const JobRecord& r = harness.Run(grid, method);
            ASSERT_EQ(r.summary.outcome, JobOutcome::Finished) << MeshFormatName(format) << r.summary.refusal;
            EXPECT_NEAR(r.summary.textureCoverage, 1.0, 1e-12);
            std::vector<std::array<double, 4>> vertices;  // x, y (grid coordinates), u, v from the top
            if (format == MeshFormatKind::Obj) {
                std::istringstream lines(r.file);
                for (std::string line; std::getline(lines, line);) {
                    std::istringstream fields(line.substr(std::min<std::size_t>(3, line.size())));
                    if (line.rfind("v ", 0) == 0) fields.str(line.substr(2)), fields >> vertices.emplace_back()[0] >> vertices.back()[1];
                    if (line.rfind("vt ", 0) == 0) fields >> vertices.back()[2] >> vertices.back()[3], vertices.back()[3] = 1 - vertices.back()[3];
                }
                EXPECT_NE(r.file.find("mtllib grid__"), std::string::npos);
                std::filesystem::path library = r.summary.outputPath;
                EXPECT_NE(JobHarness::ReadFile(library.replace_extension(".mtl")).find("map_Kd images/photo.png\r\n"),
                          std::string::npos);
            } else if (format == MeshFormatKind::Ply) {
                const BinaryMesh m = ReadPly(r.file);
                EXPECT_NE(r.file.find("comment TextureFile images/photo.png\n"), std::string::npos);
                const std::size_t body = r.file.find("end_header\n") + 11;
                for (std::size_t i = 0; i < m.positions.size(); ++i) {
                    const auto uv = At<std::array<float, 2>>(r.file, body + 20 * i + 12);
                    vertices.push_back({m.positions[i][0], m.positions[i][1], uv[0], 1.0 - uv[1]});
                }
            } else {
                const std::string json = r.file.substr(20, At<uint32_t>(r.file, 12));
                EXPECT_NE(json.find("\"mimeType\":\"image/png\""), std::string::npos);
                const std::size_t bin = 20 + json.size() + 8;
                const std::size_t count = static_cast<std::size_t>(JsonNumbers(json, "\"count\":")[0]);
                for (std::size_t i = 0; i < count; ++i) {
                    const auto p = At<Float3>(r.file, bin + 32 * i);
                    const auto uv = At<std::array<float, 2>>(r.file, bin + 32 * i + 24);
                    vertices.push_back({p[0], -p[2], uv[0], uv[1]});
                }
            }
            ASSERT_FALSE(vertices.empty());
            for (const auto& v : vertices) {
                const double x = classic ? v[0] - 500 : 500 + v[0], y = classic ? v[1] - 700 : 700 + v[1];
                EXPECT_NEAR(v[2] * 13, (x - (c - a / 2)) / a, 0.05) << MeshFormatName(format) << " at " << x << ", " << y;
                EXPECT_NEAR(v[3] * 9, (y - (f - e / 2)) / e, 0.05) << MeshFormatName(format) << " at " << x << ", " << y;
            }
        }
        }
    }
    // A JPEG (its size from its frame header) over the region's western half.
    std::string jpeg("\xFF\xD8\xFF\xE0\0\x04..\xFF\xC0\0\x11\x08\0\x09\0\x0D", 18);
    harness.WriteGrid("half.jpg", jpeg);
    harness.WriteGrid("half.jgw", "2\n0\n0\n-4\n501\n734\n");  // x 500 to 526 of 500 to 546
    harness.beforeRun = [&](JobRequest& request, GridStream&) {
        request.format = MeshFormatKind::Glb;
        request.texture = TextureChoice::Image;
        request.texturePath = harness.folder / "half.jpg";
    };
    const JobRecord& half = harness.Run(grid, Interpolated);
    EXPECT_NEAR(half.summary.textureCoverage, 26.0 / 46.0, 1e-9);
    EXPECT_TRUE(TextureWarns(half.summary));
    EXPECT_NE(half.file.find("\"mimeType\":\"image/jpeg\""), std::string::npos);
    // No world file: refused before anything is written, naming what was looked for.
    const auto bare = WriteImage(harness, "bare.png", 4, 4, "");
    harness.beforeRun = [&](JobRequest& request, GridStream&) {
        request.texture = TextureChoice::Image;
        request.texturePath = bare;
    };
    const JobRecord& refused = harness.Run(grid, Interpolated, {}, 1.0f, L"refused");
    EXPECT_EQ(refused.summary.outcome, JobOutcome::Refused);
    EXPECT_NE(refused.summary.refusal.find("bare.pgw bare.pngw bare.wld"), std::string::npos) << refused.summary.refusal;
    EXPECT_FALSE(refused.fileExists);
}

// Fitted for a printer, the region's longer side is the size asked for and
// the heights follow the same scale, exaggerated on top.
TEST(MeshFormats, FitTheLongerSideAndExaggerateTheHeights) {
    JobHarness harness("fit");
    const auto grid = harness.WriteGrid("holes.asc", HoleGrid());  // 46 x 34 ground units
    harness.beforeRun = [](JobRequest& request, GridStream&) {
        request.format = MeshFormatKind::Ply;
        request.geometry = TrueScaleGeometry;
        request.fitMillimetres = 120;
        request.exaggerate = 3;
    };
    const BinaryMesh m = ReadPly(harness.Run(grid, Interpolated).file);
    float most[3] = {0, 0, 0};
    for (const auto& p : m.positions)
        for (int k = 0; k < 3; ++k) most[k] = std::max(most[k], p[k]);
    EXPECT_FLOAT_EQ(most[0], 120.0f);
    EXPECT_NEAR(most[1], 120.0 * 34 / 46, 1e-4);
    // The highest corner is a cell's own value (a corner of one cell).
    EXPECT_GT(most[2], 3 * 120.0 / 46 * 40);
}

// A solid of a surface with holes on its edges and inside, rows missing and
// bands of rows: closed (each directed edge once, and once back), of positive
// volume, and the same bytes for any workers and block sizes.
TEST(Solids, CloseEverySurfaceTheSameWhateverTheWorkers) {
    JobHarness harness("solids");
    const auto holes = harness.WriteGrid("holes.asc", HoleGrid());
    const auto ended = harness.WriteGrid("ended.asc", HoleGrid(11));
    const auto tall = harness.WriteGrid("tall.asc", HoleGrid(1100, 9, 1100));
    std::vector<std::filesystem::path> grids = {holes, ended, tall};
    // Random no-data, fixed seeds: islands, lakes, corners that touch.
    uint32_t seed = 12345;
    const auto next = [&]() { return seed = seed * 1664525u + 1013904223u; };
    for (int g = 0; g < 24; ++g) {
        std::string text = "ncols 12\nnrows 12\nxllcorner 0\nyllcorner 0\ncellsize 1.5\nNODATA_value -9999\n";
        const uint32_t holesIn100 = 25 + 3 * static_cast<uint32_t>(g);
        for (int cell = 0; cell < 144; ++cell)
            text += (next() >> 8) % 100 < holesIn100 ? "-9999" : std::to_string(10 + (next() >> 8) % 1000 / 100.0),
                text += cell % 12 == 11 ? "\n" : " ";
        grids.push_back(harness.WriteGrid("random" + std::to_string(g) + ".asc", text));
    }
    for (const auto& grid : grids) {
        for (MeshMethod method : {Interpolated, Simplified}) {
            std::string first;
            for (int workers : {1, 3}) {
                harness.workers = workers;
                SetTestHooks(workers == 1 ? TestHooks{} : TestHooks{0, 16, 2048});
                harness.beforeRun = [](JobRequest& request, GridStream&) {
                    request.format = MeshFormatKind::Ply;
                    request.geometry = TrueScaleGeometry;
                    request.solid = true;
                    request.solidBase = 3.0;
                };
                const JobRecord& run = harness.Run(grid, method);
                const std::string where = grid.filename().string() + " method " + std::to_string(method);
                ASSERT_EQ(run.summary.outcome, JobOutcome::Finished) << where;
                if (workers == 1) first = run.file;
                ASSERT_EQ(run.file, first) << where << " workers " << workers;
            }
            const BinaryMesh m = ReadPly(first);
            std::map<std::pair<int64_t, int64_t>, int> edges;
            double volume = 0.0;
            for (const auto& t : Triangles(m)) {
                for (int k = 0; k < 3; ++k) ++edges[{t[k], t[(k + 1) % 3]}];
                const Float3 &a = m.positions[t[0]], &b = m.positions[t[1]], &c = m.positions[t[2]];
                volume += (double{a[0]} * (double{b[1]} * c[2] - double{b[2]} * c[1]) -
                           double{a[1]} * (double{b[0]} * c[2] - double{b[2]} * c[0]) +
                           double{a[2]} * (double{b[0]} * c[1] - double{b[1]} * c[0])) / 6;
            }
            for (const auto& [edge, count] : edges)
                ASSERT_TRUE(count == 1 && edges.count({edge.second, edge.first}) == 1 &&
                            edges.at({edge.second, edge.first}) == 1)
                    << grid.filename() << " method " << method << ": edge " << edge.first << " -> " << edge.second;
            EXPECT_GT(volume, 0.0);
            // The bottom: as few triangles as its outline needs, n + 2h - 2
            // a part of n points and h holes.
            float low = 0.0f;
            for (const auto& p : m.positions) low = std::min(low == 0.0f ? p[2] : low, p[2]);
            std::set<std::pair<int64_t, int64_t>> inside;
            std::set<int64_t> points;
            int64_t bottom = 0;
            for (const auto& t : Triangles(m)) {
                if (m.positions[t[0]][2] != low || m.positions[t[1]][2] != low || m.positions[t[2]][2] != low) continue;
                ++bottom;
                for (int k = 0; k < 3; ++k) points.insert(t[k]), inside.insert({t[k], t[(k + 1) % 3]});
            }
            std::map<int64_t, int64_t> outline;  // the bottom's edges not taken back within it
            for (const auto& [a, b] : inside)
                if (!inside.count({b, a})) outline[a] = b;
            int64_t parts = 0, holes = 0;
            std::set<int64_t> seen;
            for (const auto& [start, unused] : outline) {
                if (seen.count(start)) continue;
                double area = 0.0;
                for (int64_t v = start; seen.insert(v).second && outline.count(v); v = outline[v]) {
                    const auto &a = m.positions[v], &b = m.positions[outline[v]];
                    area += double{a[0]} * b[1] - double{a[1]} * b[0];
                }
                (area < 0 ? parts : holes) += 1;  // facing down: an outer loop runs clockwise from above
            }
            EXPECT_EQ(bottom, static_cast<int64_t>(points.size()) + 2 * holes - 2 * parts) << grid.filename() << " method " << method;
        }
        SetTestHooks({});
        harness.workers = 0;
    }
}
