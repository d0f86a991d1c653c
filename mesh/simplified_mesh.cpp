// Simplified: the Interpolated surface (its vertices on the cell corners, each
// the mean of the valid cells that meet there, the same hole rules) with as
// few triangles as keep every one of its vertices within the maximum error E
// of the mesh, vertically. Greedy insertion into a Delaunay triangulation:
// start from a block's boundary, insert the point of largest error, and stop
// when every point is within E; only the triangles an insertion touches are
// searched again, and a heap orders the triangles by their largest error.
//
// The region is cut into blocks of kBlockCells, simplified on all workers
// (the output is the same for any number of them). A block's edges keep the
// points a one-dimensional greedy insertion needs for E, and both blocks
// beside an edge use the same points, so the mesh has no cracks.
//
// Holes cost only their outline. Every corner where a valid cell meets a
// hole is a vertex, on a block's edge as inside it, inserted before the
// greedy insertion starts. A side of a cell between a valid cell and a hole
// then joins two vertices with nothing else within half a cell of its
// middle, so every Delaunay triangulation has it as an edge: the outline is
// made of edges, each triangle lies wholly on valid cells or wholly on a
// hole, and those on a hole are left out. Everything else simplifies as if
// the hole were not there.
//
// The region is worked through in bands of kBlockCells rows (see the passes
// below): memory follows its width, not its height; a region too wide for
// the machine's memory is refused before it starts.
//
// A tile of a set takes the ring of cells its neighbours hold around it into
// its edge corners' means and kinds (a no-data cell beyond the edge makes an
// outline corner), as the neighbour beside the edge does: both sides then
// keep the same points on the shared edge, chosen by the same one-dimensional
// insertion from the same heights, where the tiles of the set stand in rows
// and columns (their blocks and pieces start at the same rows and columns).
#include <algorithm>
#include <atomic>
#include <memory>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "mesh/mesh_passes.h"
#include "job/worker_threads.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

constexpr int64_t kBlockCells = 512;
// A block's side is simplified in pieces of this many cells, each keeping its
// ends: measured on spectral terrain, fewer triangles in all than whole sides.
constexpr int64_t kSidePiece = 64;

// A corner as the simplification sees it: on holes only (no height), on
// valid cells only, or where the two meet (on the outline: always a vertex).
constexpr uint8_t kHoleCorner = 0, kValidCorner = 1, kOutlineCorner = 2;

// The corner field of one band of the region's rows: corner (x, y), x from 0
// (west) to cols, y from 0 (the band's north edge) to rows; cell (x, y) has
// corner (x, y) as its north-west one. The band holds its cells and one row
// of cells on either side (y = -1 and y = rows), which its edge corners
// touch.
struct CornerField {
    int64_t cols = 0, rows = 0;   // cells of the band
    int64_t west = 1, top = 1;    // grid column and row of cell (0, 0)
    bool aboveInRegion = false, belowInRegion = false;  // rows -1 and `rows` lie in the region
    std::vector<float> cellHeight;  // rows -1 to `rows`
    std::vector<uint8_t> cellValid;
    std::vector<float> height;    // corners: the mean of the valid cells around
    std::vector<uint8_t> kind;    // corners: kHoleCorner, kValidCorner or kOutlineCorner
    std::vector<int32_t> vertex;  // corners: the vertex number from 1, 0 when not written

    // A tile's: the cells around it, the band's first row (from 0) and the
    // region's rows.
    const TileRing* ring = nullptr;
    int64_t bandStart = 0, regionRows = 0;

    std::size_t Cell(int64_t x, int64_t y) const { return static_cast<std::size_t>((y + 1) * cols + x); }
    std::size_t Corner(int64_t x, int64_t y) const { return static_cast<std::size_t>(y * (cols + 1) + x); }
    // A tile's ring cell at (x, y) (y from -1 to rows); null for any other.
    const RingCell* RingAt(int64_t x, int64_t y) const {
        if (ring == nullptr) return nullptr;
        const int64_t row = bandStart + y + 1;  // from 1; 0 and regionRows + 1 are the ring's rows
        if (row == 0 || row == regionRows + 1 || x == -1 || x == cols) return &ring->At(x + 1, row);
        return nullptr;
    }
    bool Valid(int64_t x, int64_t y) const {
        if (const RingCell* cell = RingAt(x, y)) return cell->state == kRingValid;
        return x >= 0 && y >= -1 && x < cols && y <= rows && cellValid[Cell(x, y)] != 0;
    }
    float HeightOf(int64_t x, int64_t y) const {
        const RingCell* cell = RingAt(x, y);
        return cell != nullptr ? cell->height : cellHeight[Cell(x, y)];
    }
    // A cell of the region or of the set (one beyond both is neither valid
    // nor a hole).
    bool InRegion(int64_t x, int64_t y) const {
        if (const RingCell* cell = RingAt(x, y)) return cell->state != kRingOutside;
        return x >= 0 && x < cols && (y >= 0 || aboveInRegion) && (y < rows || belowInRegion) && y >= -1 && y <= rows;
    }
};

// ---- One-dimensional greedy insertion along a segment ----

// Marks the points of corners [from, to] (`step` apart in the field) that keep
// the segment's heights within `maxError` of their polyline; returns the
// largest error left along it. Its ends and its outline corners are always
// kept; a stretch between them that runs over a hole has nothing to keep.
double SimplifySegment(const CornerField& f, std::size_t from, std::size_t step, int64_t count, double maxError,
                       std::vector<uint8_t>& keep) {
    double reached = 0.0;
    // keep[i] for i in 0..count.
    const auto kindAt = [&](int64_t i) { return f.kind[from + static_cast<std::size_t>(i) * step]; };
    std::vector<std::pair<int64_t, int64_t>> pending;
    keep[0] = 1;
    for (int64_t i = 1, start = 0; i <= count; ++i) {
        if (i < count && kindAt(i) != kOutlineCorner) continue;
        keep[static_cast<std::size_t>(i)] = 1;
        pending.push_back({start, i});
        start = i;
    }
    while (!pending.empty()) {
        const auto [a, b] = pending.back();
        pending.pop_back();
        // Between two kept points the corners are all on valid cells or all
        // on a hole (a hole and a valid cell meet only at the outline).
        if (b - a < 2 || kindAt(a + 1) == kHoleCorner) continue;
        const double ha = f.height[from + static_cast<std::size_t>(a) * step];
        const double hb = f.height[from + static_cast<std::size_t>(b) * step];
        double worst = maxError, largest = 0.0;
        int64_t at = -1;
        for (int64_t i = a + 1; i < b; ++i) {
            const double t = static_cast<double>(i - a) / static_cast<double>(b - a);
            const double e = std::fabs(f.height[from + static_cast<std::size_t>(i) * step] - (ha + t * (hb - ha)));
            largest = std::max(largest, e);
            if (e > worst) {
                worst = e;
                at = i;
            }
        }
        if (at < 0) {
            reached = std::max(reached, largest);  // the piece stays as it is
            continue;
        }
        keep[static_cast<std::size_t>(at)] = 1;
        pending.push_back({a, at});
        pending.push_back({at, b});
    }
    return reached;
}

// ---- Greedy insertion Delaunay in one block ----

// A block's triangulation, in local integer coordinates: x east from the
// block's west edge, y north from its south edge. Exact integer predicates.
struct Delaunay {
    const CornerField* f = nullptr;
    int64_t x0 = 0, ySouth = 0;  // field corner of local (0, 0): (x0, ySouth)
    int64_t width = 0, height = 0;
    double maxError = 0.0;
    std::vector<int32_t> px, py;       // points
    std::vector<int32_t> tri;          // 3 points a triangle, counter-clockwise
    std::vector<int32_t> halfedge;     // the opposite half-edge, -1 on the hull
    std::vector<int32_t> candidateX, candidateY;  // per triangle: its worst point
    std::vector<double> error;                    // per triangle: that point's error
    std::vector<int32_t> heap, heapAt;            // triangles by error; heapAt -1: not in the heap
    std::vector<int32_t> pending;                 // triangles whose candidates are due
    double reached = 0.0;                         // the largest error left

    double Height(int64_t x, int64_t y) const {
        return f->height[f->Corner(x0 + x, ySouth - y)];
    }
    int32_t AddPoint(int32_t x, int32_t y) {
        px.push_back(x);
        py.push_back(y);
        return static_cast<int32_t>(px.size() - 1);
    }
};

int64_t Orient(const Delaunay& d, int32_t a, int32_t b, int64_t x, int64_t y) {
    return (int64_t{d.px[b]} - d.px[a]) * (y - d.py[a]) - (int64_t{d.py[b]} - d.py[a]) * (x - d.px[a]);
}

// Whether point p lies inside the circle through a, b, c (counter-clockwise).
bool InCircle(const Delaunay& d, int32_t a, int32_t b, int32_t c, int32_t p) {
    const int64_t ax = d.px[a] - d.px[p], ay = d.py[a] - d.py[p];
    const int64_t bx = d.px[b] - d.px[p], by = d.py[b] - d.py[p];
    const int64_t cx = d.px[c] - d.px[p], cy = d.py[c] - d.py[p];
    const int64_t a2 = ax * ax + ay * ay, b2 = bx * bx + by * by, c2 = cx * cx + cy * cy;
    return ax * (by * c2 - b2 * cy) - ay * (bx * c2 - b2 * cx) + a2 * (bx * cy - by * cx) > 0;
}

void HeapSwap(Delaunay& d, std::size_t i, std::size_t j) {
    std::swap(d.heap[i], d.heap[j]);
    d.heapAt[static_cast<std::size_t>(d.heap[i])] = static_cast<int32_t>(i);
    d.heapAt[static_cast<std::size_t>(d.heap[j])] = static_cast<int32_t>(j);
}
bool HeapLess(const Delaunay& d, std::size_t i, std::size_t j) {  // i above j
    const double ei = d.error[static_cast<std::size_t>(d.heap[i])], ej = d.error[static_cast<std::size_t>(d.heap[j])];
    return ei > ej || (ei == ej && d.heap[i] < d.heap[j]);
}
void HeapUp(Delaunay& d, std::size_t i) {
    while (i > 0) {
        const std::size_t parent = (i - 1) / 2;
        if (!HeapLess(d, i, parent)) break;
        HeapSwap(d, i, parent);
        i = parent;
    }
}
void HeapDown(Delaunay& d, std::size_t i) {
    for (;;) {
        const std::size_t l = 2 * i + 1, r = l + 1;
        std::size_t top = i;
        if (l < d.heap.size() && HeapLess(d, l, top)) top = l;
        if (r < d.heap.size() && HeapLess(d, r, top)) top = r;
        if (top == i) return;
        HeapSwap(d, i, top);
        i = top;
    }
}
void HeapRemove(Delaunay& d, int32_t t) {
    const int32_t at = d.heapAt[static_cast<std::size_t>(t)];
    if (at < 0) return;
    const std::size_t i = static_cast<std::size_t>(at), last = d.heap.size() - 1;
    if (i != last) HeapSwap(d, i, last);
    d.heap.pop_back();
    d.heapAt[static_cast<std::size_t>(t)] = -1;
    if (i < d.heap.size()) {
        HeapUp(d, i);
        HeapDown(d, i);
    }
}

// Sets triangle t (a new one when t is -1) to a, b, c with the given opposite
// half-edges; returns it.
int32_t SetTriangle(Delaunay& d, int32_t t, int32_t a, int32_t b, int32_t c, int32_t ab, int32_t bc, int32_t ca) {
    if (t < 0) {
        t = static_cast<int32_t>(d.tri.size() / 3);
        d.tri.resize(d.tri.size() + 3);
        d.halfedge.resize(d.halfedge.size() + 3);
        d.candidateX.push_back(0);
        d.candidateY.push_back(0);
        d.error.push_back(0.0);
        d.heapAt.push_back(-1);
    } else {
        HeapRemove(d, t);
    }
    const int32_t e = 3 * t;
    d.tri[static_cast<std::size_t>(e)] = a;
    d.tri[static_cast<std::size_t>(e + 1)] = b;
    d.tri[static_cast<std::size_t>(e + 2)] = c;
    const int32_t opposite[3] = {ab, bc, ca};
    for (int i = 0; i < 3; ++i) {
        d.halfedge[static_cast<std::size_t>(e + i)] = opposite[i];
        if (opposite[i] >= 0) d.halfedge[static_cast<std::size_t>(opposite[i])] = e + i;
    }
    d.pending.push_back(t);
    return t;
}

void Link(Delaunay& d, int32_t a, int32_t b) {
    d.halfedge[static_cast<std::size_t>(a)] = b;
    if (b >= 0) d.halfedge[static_cast<std::size_t>(b)] = a;
}

// Flips half-edge a with its twin while the point across it lies in the
// circumcircle.
void Legalize(Delaunay& d, int32_t a) {
    const int32_t b = d.halfedge[static_cast<std::size_t>(a)];
    if (b < 0) return;
    const int32_t a0 = a - a % 3, b0 = b - b % 3;
    const int32_t al = a0 + (a + 1) % 3, ar = a0 + (a + 2) % 3;
    const int32_t bl = b0 + (b + 2) % 3, br = b0 + (b + 1) % 3;
    const int32_t p0 = d.tri[static_cast<std::size_t>(ar)], pr = d.tri[static_cast<std::size_t>(a)];
    const int32_t pl = d.tri[static_cast<std::size_t>(al)], p1 = d.tri[static_cast<std::size_t>(bl)];
    if (!InCircle(d, p0, pr, pl, p1)) return;
    d.tri[static_cast<std::size_t>(a)] = p1;
    d.tri[static_cast<std::size_t>(b)] = p0;
    const int32_t hbl = d.halfedge[static_cast<std::size_t>(bl)], har = d.halfedge[static_cast<std::size_t>(ar)];
    Link(d, a, hbl);
    Link(d, b, har);
    Link(d, ar, bl);
    for (const int32_t t : {a0 / 3, b0 / 3}) {
        HeapRemove(d, t);
        d.pending.push_back(t);
    }
    Legalize(d, a);
    Legalize(d, br);
}

// Inserts point p into triangle t: on one of its edges (the edge is split,
// with the triangle across it), or inside (three triangles).
void Insert(Delaunay& d, int32_t t, int32_t p) {
    const int32_t e = 3 * t;
    int32_t v[3], h[3];
    for (int i = 0; i < 3; ++i) {
        v[i] = d.tri[static_cast<std::size_t>(e + i)];
        h[i] = d.halfedge[static_cast<std::size_t>(e + i)];
    }
    int onEdge = -1;
    for (int i = 0; i < 3; ++i)
        if (Orient(d, v[i], v[(i + 1) % 3], d.px[p], d.py[p]) == 0) onEdge = i;
    if (onEdge < 0) {
        // (a, b, c) -> (a, b, p), (b, c, p), (c, a, p)
        const int32_t t1 = SetTriangle(d, t, v[0], v[1], p, h[0], -1, -1);
        const int32_t t2 = SetTriangle(d, -1, v[1], v[2], p, h[1], -1, 3 * t1 + 1);
        const int32_t t3 = SetTriangle(d, -1, v[2], v[0], p, h[2], 3 * t1 + 2, 3 * t2 + 1);
        (void)t3;
        Legalize(d, 3 * t1);
        Legalize(d, 3 * t2);
        Legalize(d, 3 * t3);
        return;
    }
    // p on edge (a, b) of (a, b, c); across it (b, a, q) when not on the hull.
    const int32_t a = v[onEdge], b = v[(onEdge + 1) % 3], c = v[(onEdge + 2) % 3];
    const int32_t hbc = h[(onEdge + 1) % 3], hca = h[(onEdge + 2) % 3];
    const int32_t twin = h[onEdge];
    // (a, p, c) and (p, b, c)
    const int32_t t1 = SetTriangle(d, t, a, p, c, -1, -1, hca);
    const int32_t t2 = SetTriangle(d, -1, p, b, c, -1, hbc, 3 * t1 + 1);
    if (twin < 0) {
        Legalize(d, 3 * t1 + 2);
        Legalize(d, 3 * t2 + 1);
        return;
    }
    const int32_t u = twin / 3, ue = 3 * u, k = twin % 3;
    // twin triangle (b, a, q): its edge k runs b -> a.
    const int32_t q = d.tri[static_cast<std::size_t>(ue + (k + 2) % 3)];
    const int32_t haq = d.halfedge[static_cast<std::size_t>(ue + (k + 1) % 3)];
    const int32_t hqb = d.halfedge[static_cast<std::size_t>(ue + (k + 2) % 3)];
    // (b, p, q) and (p, a, q)
    const int32_t t3 = SetTriangle(d, u, b, p, q, 3 * t2, -1, hqb);
    const int32_t t4 = SetTriangle(d, -1, p, a, q, 3 * t1, haq, 3 * t3 + 1);
    Legalize(d, 3 * t1 + 2);
    Legalize(d, 3 * t2 + 1);
    Legalize(d, 3 * t3 + 2);
    Legalize(d, 3 * t4 + 1);
}

// Whether triangle t lies on a hole (once every outline corner is a vertex,
// a triangle lies wholly on valid cells or wholly on a hole): the cell
// beside its centroid, up and to the east, is one.
bool OnHole(const Delaunay& d, int32_t t) {
    const std::size_t e = 3 * static_cast<std::size_t>(t);
    int64_t sx = 0, sy = 0;
    for (std::size_t k = 0; k < 3; ++k) {
        sx += d.px[static_cast<std::size_t>(d.tri[e + k])];
        sy += d.py[static_cast<std::size_t>(d.tri[e + k])];
    }
    // Local y runs north from the block's south edge; the field's rows south.
    return !d.f->Valid(d.x0 + sx / 3, d.ySouth - 1 - sy / 3);
}

// The triangle that holds (x, y), walked to from triangle t: across any edge
// the point lies beyond. A Delaunay triangulation never walks in circles;
// -1 when the point is outside.
int32_t Locate(const Delaunay& d, int32_t t, int64_t x, int64_t y) {
    for (;;) {
        const int32_t e = 3 * t;
        int32_t across = -2;
        for (int i = 0; i < 3 && across == -2; ++i) {
            const int32_t a = d.tri[static_cast<std::size_t>(e + i)], b = d.tri[static_cast<std::size_t>(e + (i + 1) % 3)];
            if (Orient(d, a, b, x, y) < 0) across = d.halfedge[static_cast<std::size_t>(e + i)];
        }
        if (across == -2) return t;
        if (across < 0) return -1;
        t = across / 3;
    }
}

// Floor and ceiling of n / d for d > 0.
inline int64_t FloorDiv(int64_t n, int64_t d) { return n >= 0 ? n / d : -((-n + d - 1) / d); }
inline int64_t CeilDiv(int64_t n, int64_t d) { return n >= 0 ? (n + d - 1) / d : -((-n) / d); }

// Narrows [lo, hi] to the x where p * x + q >= 0.
inline void KeepInside(int64_t p, int64_t q, int64_t& lo, int64_t& hi) {
    if (p > 0) lo = std::max(lo, CeilDiv(-q, p));
    else if (p < 0) hi = std::min(hi, FloorDiv(q, -p));
    else if (q < 0) hi = lo - 1;
}

// The largest |z0 + zx x - height[x]| for x in [lo, hi]: two points at a
// time where the processor has SSE2, each the same arithmetic as one at a
// time (no fused multiply-add), so the point found again has this error.
double LargestRowError(const float* heights, int64_t lo, int64_t hi, double z0, double zx) {
    double largest = 0.0;
    int64_t x = lo;
#if defined(__SSE2__)
    const __m128d base = _mm_set1_pd(z0), slope = _mm_set1_pd(zx), sign = _mm_set1_pd(-0.0);
    const __m128d two = _mm_set1_pd(2.0);
    __m128d most = _mm_setzero_pd();
    // Whole numbers: adding 2 to them is exact, the same as converting x.
    __m128d xs = _mm_set_pd(static_cast<double>(x + 1), static_cast<double>(x));
    for (; x + 1 <= hi; x += 2, xs = _mm_add_pd(xs, two)) {
        double pair;  // two floats
        std::memcpy(&pair, heights + x, sizeof pair);
        const __m128d h = _mm_cvtps_pd(_mm_castpd_ps(_mm_set_sd(pair)));
        const __m128d z = _mm_add_pd(base, _mm_mul_pd(slope, xs));
        most = _mm_max_pd(most, _mm_andnot_pd(sign, _mm_sub_pd(z, h)));
    }
    double lanes[2];
    _mm_storeu_pd(lanes, most);
    largest = std::max(lanes[0], lanes[1]);
#endif
    for (; x <= hi; ++x)
        largest = std::max(largest, std::fabs(z0 + zx * static_cast<double>(x) - static_cast<double>(heights[x])));
    return largest;
}

// The point of largest error inside triangle t (block boundary points are
// the segments' own), and that error. Row by row over the triangle's own
// span (its three edges bound each row exactly), the mesh's height along a
// row a plane's: the largest error of a row is found first, in a loop the
// compiler runs several points at a time, and its point only where it beats
// the rows before (the first such point in row order, as a scan would find).
void FindCandidate(Delaunay& d, int32_t t) {
    const int32_t e = 3 * t;
    const int32_t a = d.tri[static_cast<std::size_t>(e)], b = d.tri[static_cast<std::size_t>(e + 1)],
                  c = d.tri[static_cast<std::size_t>(e + 2)];
    const int64_t ax = d.px[a], ay = d.py[a], bx = d.px[b], by = d.py[b], cx = d.px[c], cy = d.py[c];
    if (OnHole(d, t)) return;  // left out: nothing to find
    const double ha = d.Height(ax, ay), hb = d.Height(bx, by), hc = d.Height(cx, cy);
    const double area = static_cast<double>((bx - ax) * (cy - ay) - (by - ay) * (cx - ax));
    // The plane through the three corners: z = ha + zx (x - ax) + zy (y - ay).
    const double zx = (static_cast<double>(by - cy) * ha + static_cast<double>(cy - ay) * hb +
                       static_cast<double>(ay - by) * hc) / area;
    const double zy = (static_cast<double>(cx - bx) * ha + static_cast<double>(ax - cx) * hb +
                       static_cast<double>(bx - ax) * hc) / area;
    double worst = -1.0;
    int64_t wx = 0, wy = 0;
    const int64_t minX = std::max<int64_t>(1, std::min({ax, bx, cx})), maxX = std::min(d.width - 1, std::max({ax, bx, cx}));
    const int64_t minY = std::max<int64_t>(1, std::min({ay, by, cy})), maxY = std::min(d.height - 1, std::max({ay, by, cy}));
    const std::size_t rowStep = static_cast<std::size_t>(d.f->cols + 1);
    const float* heights = &d.f->height[d.f->Corner(d.x0, d.ySouth - minY)];
    for (int64_t y = minY; y <= maxY; ++y, heights -= rowStep) {
        // The edges as p x + q >= 0 on this row.
        int64_t lo = minX, hi = maxX;
        KeepInside(by - cy, (cx - bx) * (y - by) + (cy - by) * bx, lo, hi);
        KeepInside(cy - ay, (ax - cx) * (y - cy) + (ay - cy) * cx, lo, hi);
        KeepInside(ay - by, (bx - ax) * (y - ay) + (by - ay) * ax, lo, hi);
        // The triangle's own corners end their rows' spans: never candidates
        // (the plane through them meets them only to a rounding, which at
        // E = 0 would insert a corner again).
        for (const auto& [vx, vy] : {std::pair<int64_t, int64_t>{ax, ay}, {bx, by}, {cx, cy}}) {
            if (vy != y) continue;
            if (vx == lo) ++lo;
            else if (vx == hi) --hi;
        }
        if (lo > hi) continue;
        const double z0 = ha + zx * static_cast<double>(-ax) + zy * static_cast<double>(y - ay);
        const double largest = LargestRowError(heights, lo, hi, z0, zx);
        if (largest <= worst) continue;
        if (worst < 0.0 && largest == 0.0) {
            // No error yet: the row's first point stands for it.
            worst = 0.0;
            wx = lo;
            wy = y;
            continue;
        }
        for (int64_t x = lo; x <= hi; ++x) {
            if (std::fabs(z0 + zx * static_cast<double>(x) - static_cast<double>(heights[x])) == largest) {
                worst = largest;
                wx = x;
                wy = y;
                break;
            }
        }
    }
    d.candidateX[static_cast<std::size_t>(t)] = static_cast<int32_t>(wx);
    d.candidateY[static_cast<std::size_t>(t)] = static_cast<int32_t>(wy);
    d.error[static_cast<std::size_t>(t)] = worst;
    if (worst < 0) return;  // no point inside
    d.heap.push_back(t);
    d.heapAt[static_cast<std::size_t>(t)] = static_cast<int32_t>(d.heap.size() - 1);
    HeapUp(d, d.heap.size() - 1);
}

void FlushPending(Delaunay& d) {
    for (const int32_t t : d.pending)
        if (d.heapAt[static_cast<std::size_t>(t)] < 0) FindCandidate(d, t);
    d.pending.clear();
}

// The block (x0..x0+width, yNorth..yNorth+height in the field) from its
// boundary points (counter-clockwise from the south-west corner) to within
// maxError. Appends its triangles as field corners, counter-clockwise seen
// from above; returns the largest error left.
double SimplifyBlock(const CornerField& f, int64_t x0, int64_t yNorth, int64_t width, int64_t height,
                     const std::vector<std::pair<int32_t, int32_t>>& boundary, double maxError,
                     std::vector<int64_t>& triangles, JobMemory& memory) {
    Delaunay d;
    d.f = &f;
    d.x0 = x0;
    d.ySouth = yNorth + height;
    d.width = width;
    d.height = height;
    // Two triangles over the four corners, then the other boundary points,
    // each on a hull edge.
    const int32_t sw = d.AddPoint(0, 0), se = d.AddPoint(static_cast<int32_t>(width), 0);
    const int32_t ne = d.AddPoint(static_cast<int32_t>(width), static_cast<int32_t>(height));
    const int32_t nw = d.AddPoint(0, static_cast<int32_t>(height));
    const int32_t t0 = SetTriangle(d, -1, sw, se, ne, -1, -1, -1);
    SetTriangle(d, -1, sw, ne, nw, 3 * t0 + 2, -1, -1);
    d.pending.clear();
    for (const auto& [x, y] : boundary) {
        if ((x == 0 || x == width) && (y == 0 || y == height)) continue;
        const int32_t p = d.AddPoint(x, y);
        // The hull triangle whose edge holds it.
        for (int32_t t = 0; t < static_cast<int32_t>(d.tri.size() / 3); ++t) {
            bool found = false;
            for (int i = 0; i < 3 && !found; ++i) {
                const int32_t ea = 3 * t + i;
                if (d.halfedge[static_cast<std::size_t>(ea)] >= 0) continue;
                const int32_t a = d.tri[static_cast<std::size_t>(ea)], b = d.tri[static_cast<std::size_t>(3 * t + (i + 1) % 3)];
                if (Orient(d, a, b, x, y) != 0) continue;
                if (std::min(d.px[a], d.px[b]) <= x && x <= std::max(d.px[a], d.px[b]) &&
                    std::min(d.py[a], d.py[b]) <= y && y <= std::max(d.py[a], d.py[b]))
                    found = true;
            }
            if (found) {
                Insert(d, t, p);
                break;
            }
        }
    }
    // Every outline corner inside the block, row by row, each found from the
    // last one's triangle.
    int32_t last = 0;
    for (int64_t y = 1; y < height; ++y) {
        for (int64_t x = 1; x < width; ++x) {
            if (f.kind[f.Corner(x0 + x, d.ySouth - y)] != kOutlineCorner) continue;
            const int32_t t = Locate(d, last, x, y);
            if (t < 0) continue;
            Insert(d, t, d.AddPoint(static_cast<int32_t>(x), static_cast<int32_t>(y)));
            last = t;
        }
    }
    d.pending.clear();
    for (int32_t t = 0; t < static_cast<int32_t>(d.tri.size() / 3); ++t) d.pending.push_back(t);
    FlushPending(d);
    while (!d.heap.empty()) {
        const int32_t t = d.heap.front();
        if (d.error[static_cast<std::size_t>(t)] <= maxError) break;
        const int32_t p = d.AddPoint(d.candidateX[static_cast<std::size_t>(t)], d.candidateY[static_cast<std::size_t>(t)]);
        Insert(d, t, p);
        FlushPending(d);
    }
    const double reached = d.heap.empty() ? 0.0 : std::max(0.0, d.error[static_cast<std::size_t>(d.heap.front())]);
    // The triangulation's memory at its largest, while it is held.
    const int64_t held = static_cast<int64_t>(
        (d.px.capacity() + d.py.capacity() + d.tri.capacity() + d.halfedge.capacity() + d.candidateX.capacity() +
         d.candidateY.capacity() + d.heap.capacity() + d.heapAt.capacity() + d.pending.capacity()) * sizeof(int32_t) +
        d.error.capacity() * sizeof(double));
    memory.Note(held);
    memory.Note(-held);
    for (int32_t t = 0; t < static_cast<int32_t>(d.tri.size() / 3); ++t) {
        if (OnHole(d, t)) continue;
        for (std::size_t i = 3 * static_cast<std::size_t>(t); i < 3 * static_cast<std::size_t>(t) + 3; ++i)
            triangles.push_back(static_cast<int64_t>(f.Corner(x0 + d.px[static_cast<std::size_t>(d.tri[i])],
                                                             d.ySouth - d.py[static_cast<std::size_t>(d.tri[i])])));
    }
    return reached;
}

}  // namespace

namespace {

// ---- The region: blocks, segments and leaves ----

struct Leaf {
    int64_t x0, y0, width, height;  // cells, y from the north
};

// What the vertex pass leaves for the face pass, besides the triangles it
// stored in the job's scratch store (three vertex numbers from 0, int32, each).
struct SimplifiedState {
    int64_t triangles = 0;
    double maxError = 0.0;
    int64_t corners = 0;  // corners a valid cell touches: the Interpolated vertices
};

std::vector<Leaf> MakeLeaves(const CornerField& f) {
    std::vector<Leaf> leaves;
    for (int64_t by = 0; by < f.rows; by += kBlockCells)
        for (int64_t bx = 0; bx < f.cols; bx += kBlockCells)
            leaves.push_back({bx, by, std::min(kBlockCells, f.cols - bx), std::min(kBlockCells, f.rows - by)});
    return leaves;
}

// The points a leaf keeps on its boundary, in local coordinates (x east from
// its west edge, y north from its south edge): what each side's pieces'
// heights need, and its outline corners. `reached`: the largest error left along them.
std::vector<std::pair<int32_t, int32_t>> BoundaryPoints(const CornerField& f, const Leaf& leaf, double maxError,
                                                        double& reached) {
    std::vector<std::pair<int32_t, int32_t>> points;
    std::vector<uint8_t> keep;
    // A horizontal side at field row `line`, or a vertical one at field column `line`.
    const auto piece = [&](bool horizontal, int64_t line, int64_t from, int64_t to) {
        keep.assign(static_cast<std::size_t>(to - from + 1), 0);
        const std::size_t start = horizontal ? f.Corner(from, line) : f.Corner(line, from);
        const std::size_t step = horizontal ? 1 : static_cast<std::size_t>(f.cols + 1);
        reached = std::max(reached, SimplifySegment(f, start, step, to - from, maxError, keep));
        for (int64_t i = 0; i <= to - from; ++i) {
            if (!keep[static_cast<std::size_t>(i)]) continue;
            const int64_t x = horizontal ? from + i : line, y = horizontal ? line : from + i;
            points.push_back({static_cast<int32_t>(x - leaf.x0), static_cast<int32_t>(leaf.y0 + leaf.height - y)});
        }
    };
    const auto side = [&](bool horizontal, int64_t line, int64_t from, int64_t to) {
        for (int64_t a = from; a < to; a += kSidePiece) piece(horizontal, line, a, std::min(to, a + kSidePiece));
    };
    side(true, leaf.y0, leaf.x0, leaf.x0 + leaf.width);
    side(true, leaf.y0 + leaf.height, leaf.x0, leaf.x0 + leaf.width);
    side(false, leaf.x0, leaf.y0, leaf.y0 + leaf.height);
    side(false, leaf.x0 + leaf.width, leaf.y0, leaf.y0 + leaf.height);
    std::sort(points.begin(), points.end());
    points.erase(std::unique(points.begin(), points.end()), points.end());
    return points;
}

// Corner heights: the mean of the valid cells that meet there, in the order
// and precision the Interpolated method uses, so E = 0 gives its surface.
// The band's corner rows are shared out among the workers.
void MakeCornerHeights(CornerField& f, int workers) {
    std::atomic<int64_t> nextRow{0};
    RunOnWorkers(workers, [&](int) {
        for (int64_t y = nextRow++; y <= f.rows; y = nextRow++) {
            for (int64_t x = 0; x <= f.cols; ++x) {
                float sum = 0.0f;
                int present = 0, holes = 0;
                for (const auto& [cx, cy] : {std::pair<int64_t, int64_t>{x - 1, y - 1}, {x, y - 1}, {x - 1, y}, {x, y}}) {
                    const bool valid = f.Valid(cx, cy);
                    sum += valid ? f.HeightOf(cx, cy) : 0.0f;
                    present += valid;
                    // Cells beyond the region are not holes: the region's edge is simplified.
                    holes += !valid && f.InRegion(cx, cy);
                }
                const std::size_t corner = f.Corner(x, y);
                f.height[corner] = present > 0 ? sum / static_cast<float>(present) : 0.0f;
                f.kind[corner] = present == 0 ? kHoleCorner : holes > 0 ? kOutlineCorner : kValidCorner;
            }
        }
    });
}

// ---- The passes ----
//
// The vertex pass works through the region in bands of kBlockCells rows: it
// reads a band's rows, simplifies its blocks on all workers, numbers the
// corners its triangles use first, hands its vertices on and stores its
// triangles; then the band's memory holds the next one. A band's vertices
// wait for the band after it, whose triangles add to the normals of those on
// their shared edge. The face pass reads the triangles back. Memory follows
// the region's width, not its height.

struct ReadWork {
    MeshPass* pass = nullptr;
    CornerField* field = nullptr;
    RowBlockReader reader;
    int64_t bandStart = 0;  // region row of the band's row 0
};

bool ReadSimplifiedRowBlock(void* context, WorkItem& item) {
    return ReadRowBlock(static_cast<ReadWork*>(context)->reader, item);
}

// The region's values of a block of rows into the band: rows are disjoint,
// so the workers write them side by side.
void StoreRows(void* context, const WorkItem& item, PipelineSink& sink) {
    ReadWork& w = *static_cast<ReadWork*>(context);
    CornerField& f = *w.field;
    const MeshPass& pass = *w.pass;
    ConvertBlockRows(pass, item, item.text.data(), sink, [&](int64_t fileRow, std::string_view line) {
        const int64_t y = fileRow - f.top - w.bandStart;
        const int64_t supplied = ForEachRowValue(line, f.west, f.west + f.cols - 1, [&](int64_t column, float value) {
            const std::size_t cell = f.Cell(column - f.west, y);
            f.cellHeight[cell] = value;
            if (IsInterpolatedNodata(value, pass.header)) sink.counts.nodata += 1;
            else f.cellValid[cell] = 1;
            return true;
        });
        sink.counts.missing += PromisedCells(pass.header, pass.region, fileRow, fileRow, supplied + 1);
        return true;
    });
}

// The bytes a band of `cols` columns takes: its cells (two rows more), its
// corners and their numbers, the numbers its south edge hands on.
int64_t BandBytes(int64_t cols) {
    return (kBlockCells + 2) * cols * int64_t{5} + (kBlockCells + 1) * (cols + 1) * int64_t{9} + (cols + 1) * 4;
}

// The band from region row `start`: the two rows it shares with the band
// before (that one's last row and the row below it) move up, the rest are
// read, up to the row below the band where the region goes on. False when
// the job stops.
bool ReadBand(MeshPass& pass, ReadWork& w, CornerField& f, int64_t start, int64_t regionRows) {
    const std::size_t row = static_cast<std::size_t>(f.cols);
    int64_t firstRead = 0;
    if (start > 0) {
        std::copy_n(f.cellHeight.begin() + f.Cell(0, kBlockCells - 1), 2 * row, f.cellHeight.begin());
        std::copy_n(f.cellValid.begin() + f.Cell(0, kBlockCells - 1), 2 * row, f.cellValid.begin());
        firstRead = 1;
    } else {
        std::fill_n(f.cellValid.begin(), row, uint8_t{0});
    }
    std::fill(f.cellValid.begin() + f.Cell(0, firstRead), f.cellValid.end(), uint8_t{0});
    f.aboveInRegion = start > 0;
    f.belowInRegion = start + f.rows < regionRows;
    const int64_t lastRead = f.belowInRegion ? f.rows : f.rows - 1;
    if (lastRead < firstRead) return !CancelRequested(pass);
    w.bandStart = start;
    w.reader.lastRow = f.top + start + lastRead;
    if (RunRowPass(pass, {&w, ReadSimplifiedRowBlock, StoreRows}, w.reader, 0) != PipelineEnd::Completed ||
        pass.failedRow != 0)
        return false;
    // Rows the data did not reach were counted missing: the next band reads on from here.
    w.reader.rowsRead = std::max(w.reader.rowsRead, w.reader.lastRow);
    return !CancelRequested(pass);
}

// Simplifies the band's blocks on all workers: their triangles as band
// corners, and the largest error left.
double SimplifyBand(MeshPass& pass, const CornerField& f, std::vector<std::vector<int64_t>>& leafTriangles) {
    const std::vector<Leaf> leaves = MakeLeaves(f);
    leafTriangles.assign(leaves.size(), {});
    std::vector<double> leafError(leaves.size(), 0.0);
    std::atomic<std::size_t> next{0};
    const double maxError = pass.request.maxError;
    RunOnWorkers(JobWorkerCount(pass.request.workers), [&](int) {
        for (std::size_t i = next++; i < leaves.size() && !CancelRequested(pass); i = next++) {
            double edgeError = 0.0;
            const auto boundary = BoundaryPoints(f, leaves[i], maxError, edgeError);
            const double inside = SimplifyBlock(f, leaves[i].x0, leaves[i].y0, leaves[i].width, leaves[i].height,
                                                boundary, maxError, leafTriangles[i], pass.memory);
            leafError[i] = std::max(inside, edgeError);
        }
    });
    return leafError.empty() ? 0.0 : *std::max_element(leafError.begin(), leafError.end());
}

// A band's vertices on their way out, numbered from `first`; with normals,
// the sums of their triangles' normals.
struct BandVertices {
    int64_t first = 0;
    std::vector<MeshVertex> vertices;
    std::vector<double> normalSums;  // three a vertex
};

// Numbers the band's corners in the order its triangles first use them (its
// north edge's keep the numbers the band before gave them, in `carried`,
// which then takes its south edge's) and lists the new ones. The triangles
// become vertex numbers from 0. False when the numbers run out.
bool NumberBand(const MeshPass& pass, CornerField& f, int64_t start, int64_t regionRows,
                const std::vector<std::vector<int64_t>>& leafTriangles, std::vector<int32_t>& carried,
                int64_t& count, BandVertices& band, std::vector<int32_t>& numbers) {
    std::fill(f.vertex.begin(), f.vertex.end(), 0);
    std::copy(carried.begin(), carried.end(), f.vertex.begin());
    band.first = count;
    band.vertices.clear();
    numbers.clear();
    const float scale = pass.geometry.heightScale;
    for (const std::vector<int64_t>& triangles : leafTriangles) {
        for (const int64_t corner : triangles) {
            int32_t& number = f.vertex[static_cast<std::size_t>(corner)];
            if (number == 0) {
                if (count >= INT32_MAX) return false;
                number = static_cast<int32_t>(++count);
                const int64_t cx = corner % (f.cols + 1), cy = start + corner / (f.cols + 1);
                const uint8_t edges = (cx == f.cols ? kEastEdge : 0) | (cy == regionRows ? kSouthEdge : 0);
                band.vertices.push_back({f.west + std::min(cx, f.cols - 1), f.top + std::min(cy, regionRows - 1),
                                         f.height[static_cast<std::size_t>(corner)] * scale, edges, {0.0f, 0.0f, 1.0f}});
            }
            numbers.push_back(number - 1);
        }
    }
    std::copy_n(f.vertex.begin() + f.Corner(0, f.rows), carried.size(), carried.begin());
    return true;
}

// Adds each triangle's normal (its cross product: twice its area, facing
// up) to its corners' sums, in this band's list or the band's before.
void AddTriangleNormals(const MeshPass& pass, const std::vector<int32_t>& numbers, BandVertices& band,
                        BandVertices& before) {
    const MeshGeometry& g = pass.geometry;
    band.normalSums.assign(3 * band.vertices.size(), 0.0);
    const auto vertexOf = [&](int32_t n) -> std::pair<const MeshVertex*, double*> {
        BandVertices& b = n >= band.first ? band : before;
        const std::size_t i = static_cast<std::size_t>(n - b.first);
        return {&b.vertices[i], &b.normalSums[3 * i]};
    };
    for (std::size_t t = 0; t < numbers.size(); t += 3) {
        double p[3][3];
        double* sums[3];
        for (std::size_t k = 0; k < 3; ++k) {
            const auto [v, sum] = vertexOf(numbers[t + k]);
            p[k][0] = ColumnX(g, v->column, (v->edges & kEastEdge) != 0);
            p[k][1] = RowY(g, v->row, (v->edges & kSouthEdge) != 0);
            p[k][2] = v->z;
            sums[k] = sum;
        }
        const double u[3] = {p[1][0] - p[0][0], p[1][1] - p[0][1], p[1][2] - p[0][2]};
        const double w[3] = {p[2][0] - p[0][0], p[2][1] - p[0][1], p[2][2] - p[0][2]};
        const double n[3] = {u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2], u[0] * w[1] - u[1] * w[0]};
        for (double* sum : sums)
            for (int k = 0; k < 3; ++k) sum[k] += n[k];
    }
}

constexpr int64_t kVerticesPerItem = 16384;
constexpr int64_t kTrianglesPerItem = 16384;

// The output passes' work: runs of a band's vertices, then runs of the
// stored triangles.
struct OutputWork {
    MeshPass* pass = nullptr;
    const BandVertices* band = nullptr;
    int64_t next = 0;   // the next vertex (of the band) or triangle to hand out
    int64_t total = 0;  // triangles
};

bool TakeVertices(void* context, WorkItem& item) {
    OutputWork& w = *static_cast<OutputWork*>(context);
    return TakeRun(w.next, static_cast<int64_t>(w.band->vertices.size()), kVerticesPerItem, item);
}

void WriteVertexRun(void* context, const WorkItem& item, PipelineSink& sink) {
    const OutputWork& w = *static_cast<OutputWork*>(context);
    WriteKeptVertices(*w.pass->writer, w.band->vertices.data(), item, sink);
}

// A tile's own cells two deep along its edges, kept as the bands are read
// for the normals on its shared edges: by row for the two columns at either
// side, by column for the two rows at either end ([d]: d cells in from the
// edge). Cell (x, y) in the tile's numbering, from 1.
struct EdgeCells {
    int64_t cols = 0, rows = 0;
    std::vector<RingCell> west[2], east[2], north[2], south[2];

    void Start(int64_t tileCols, int64_t tileRows) {
        cols = tileCols;
        rows = tileRows;
        for (int d = 0; d < 2; ++d) {
            west[d].assign(static_cast<std::size_t>(rows), RingCell{});
            east[d].assign(static_cast<std::size_t>(rows), RingCell{});
            north[d].assign(static_cast<std::size_t>(cols), RingCell{});
            south[d].assign(static_cast<std::size_t>(cols), RingCell{});
        }
    }
    // The band's own rows, from the band's field.
    void Take(const CornerField& f) {
        const auto cellOf = [&](int64_t x, int64_t y) {
            const std::size_t i = f.Cell(x, y);
            return f.cellValid[i] != 0 ? RingCell{f.cellHeight[i], kRingValid} : RingCell{0.0f, kRingHole};
        };
        for (int64_t y = 0; y < f.rows; ++y) {
            const int64_t row = f.bandStart + y + 1;
            for (int64_t d = 0; d < 2 && d < cols; ++d) {
                west[d][static_cast<std::size_t>(row - 1)] = cellOf(d, y);
                east[d][static_cast<std::size_t>(row - 1)] = cellOf(cols - 1 - d, y);
            }
            for (int64_t d = 0; d < 2; ++d) {
                if (row == d + 1)
                    for (int64_t x = 0; x < cols; ++x) north[d][static_cast<std::size_t>(x)] = cellOf(x, y);
                if (row == rows - d)
                    for (int64_t x = 0; x < cols; ++x) south[d][static_cast<std::size_t>(x)] = cellOf(x, y);
            }
        }
    }
    // One of them; a hole for any other cell of the tile.
    RingCell At(int64_t x, int64_t y) const {
        if (x <= 2) return west[x - 1][static_cast<std::size_t>(y - 1)];
        if (x >= cols - 1) return east[cols - x][static_cast<std::size_t>(y - 1)];
        if (y <= 2) return north[y - 1][static_cast<std::size_t>(x - 1)];
        if (y >= rows - 1) return south[rows - y][static_cast<std::size_t>(x - 1)];
        return RingCell{0.0f, kRingHole};
    }
};

// A tile's vertices on an edge it shares with the set: their triangles'
// normals would differ on the two sides (each tile has its own triangles
// there), so both take the normal of the full surface at that corner
// (CornerNormal), from the cells two deep on either side that both hold
// alike: the same normal in both tiles, the one Interpolated gives it.
void SetSeamNormals(const MeshPass& pass, const CornerField& f, const EdgeCells& own, BandVertices& band) {
    const TileRing& ring = *f.ring;
    const int64_t cols = f.cols, rows = f.regionRows;
    const auto isOwn = [&](int64_t x, int64_t y) { return x >= 1 && x <= cols && y >= 1 && y <= rows; };
    const auto cell = [&](int64_t x, int64_t y) { return isOwn(x, y) ? own.At(x, y) : ring.At(x, y); };
    const float scale = pass.geometry.heightScale;
    // As MakeCornerHeights has it, then scaled as NumberBand does.
    const auto height = [&](int64_t x, int64_t j) {
        float sum = 0.0f;
        int present = 0;
        for (int i = 0; i < 4; ++i) {
            const RingCell c = cell(x - 1 + (i & 1), j - 1 + (i >> 1));
            sum += c.state == kRingValid ? c.height : 0.0f;
            present += c.state == kRingValid;
        }
        return present > 0 ? sum / static_cast<float>(present) * scale : 0.0f;
    };
    for (MeshVertex& v : band.vertices) {
        const int64_t x = v.column - f.west + 1 + ((v.edges & kEastEdge) != 0);
        const int64_t j = v.row - f.top + 1 + ((v.edges & kSouthEdge) != 0);
        if (x != 1 && x != cols + 1 && j != 1 && j != rows + 1) continue;
        bool valid[4], shared = false;
        for (int i = 0; i < 4; ++i) {
            const int64_t cx = x - 1 + (i & 1), cy = j - 1 + (i >> 1);
            valid[i] = cell(cx, cy).state == kRingValid;
            shared = shared || (!isOwn(cx, cy) && ring.At(cx, cy).state != kRingOutside);
        }
        if (!shared) continue;
        float z[3][3];
        for (int b = 0; b < 3; ++b)
            for (int a = 0; a < 3; ++a) z[b][a] = height(x - 1 + a, j - 1 + b);
        CornerNormal(z, valid, ColumnStep(pass.geometry), RowStep(pass.geometry), v.normal);
    }
}

// Hands a band's vertices on, their normals made from the sums (a tile's on
// its shared edges from `seams`).
void HandOverVertices(MeshPass& pass, BandVertices& band, const CornerField& f, const EdgeCells* seams) {
    if (pass.geometry.normals)
        for (std::size_t i = 0; i < band.vertices.size(); ++i) SetUnitNormal(&band.normalSums[3 * i], band.vertices[i].normal);
    if (pass.geometry.normals && seams != nullptr) SetSeamNormals(pass, f, *seams, band);
    OutputWork output;
    output.pass = &pass;
    output.band = &band;
    RunQuietPass(pass, {&output, TakeVertices, WriteVertexRun});
}

bool TakeTriangles(void* context, WorkItem& item) {
    OutputWork& w = *static_cast<OutputWork*>(context);
    if (!TakeRun(w.next, w.total, kTrianglesPerItem, item)) return false;
    const std::size_t capacityBefore = item.text.capacity();
    item.text.resize(static_cast<std::size_t>(item.count) * 3 * sizeof(int32_t));
    NoteCapacity(w.pass->memory, item.text, capacityBefore);
    return ReadScratch(w.pass->scratch, item.text.data(), item.text.size());
}

void WriteTriangles(void* context, const WorkItem& item, PipelineSink& sink) {
    const OutputWork& w = *static_cast<OutputWork*>(context);
    FaceBatch batch(*w.pass->writer, sink, 3);
    const char* p = item.text.data();
    for (int64_t t = 0; t < item.count; ++t, p += 3 * sizeof(int32_t)) {
        int32_t n[3];
        std::memcpy(n, p, sizeof n);
        if (!AddTriangle(batch, n[0], n[1], n[2])) return;
    }
    if (!FlushFaces(batch)) return;
    sink.counts.triangles += item.count;
    sink.progress = item.firstNumber + item.count;
}

void RunSimplifiedVertexPass(MeshPass& pass) {
    auto state = std::make_shared<SimplifiedState>();
    pass.methodState = state;
    CornerField f;
    const RegionWindow& region = pass.region;
    f.top = std::max<int64_t>(region.yMin, 1);
    f.west = std::max<int64_t>(region.xMin, 1);
    const int64_t regionRows = std::max<int64_t>(int64_t{region.yMax} - f.top + 1, 0);
    f.cols = std::max<int64_t>(int64_t{region.xMax} - f.west + 1, 0);
    if (regionRows == 0 || f.cols == 0) return;
    // Refused before reading a row when a band would take more than half the
    // machine's memory.
    const int64_t room = PhysicalMemoryBytes() / 2;
    if (f.cols > INT32_MAX / 2 || BandBytes(f.cols) > room) {
        pass.outOfMemory = true;
        const int64_t columns = room / BandBytes(1);
        pass.largestRegionCells = columns * columns;
        return;
    }
    const int64_t bandBytes = BandBytes(f.cols);
    pass.memory.Note(bandBytes);
    f.cellHeight.assign(static_cast<std::size_t>((kBlockCells + 2) * f.cols), 0.0f);
    f.cellValid.assign(f.cellHeight.size(), 0);
    const std::size_t corners = static_cast<std::size_t>((kBlockCells + 1) * (f.cols + 1));
    f.height.assign(corners, 0.0f);
    f.kind.assign(corners, kHoleCorner);
    f.vertex.assign(corners, 0);
    std::vector<int32_t> carried(static_cast<std::size_t>(f.cols + 1), 0);
    f.regionRows = regionRows;
    if (UsesTileRing(pass.request)) f.ring = pass.request.tileRing.get();
    EdgeCells edgeCells;
    const EdgeCells* seams = f.ring != nullptr && pass.geometry.normals ? &edgeCells : nullptr;
    if (seams != nullptr) edgeCells.Start(f.cols, regionRows);
    ReadWork w;
    w.pass = &pass;
    w.field = &f;
    w.reader = RegionRowReader(pass, f.top);
    std::vector<std::vector<int64_t>> leafTriangles;
    std::vector<int32_t> numbers;
    BandVertices bands[2];
    BandVertices* before = &bands[0];
    BandVertices* band = &bands[1];
    int64_t count = 0, kept = 0;  // vertices numbered; bytes noted for the band's lists
    const auto noteLists = [&]() {
        int64_t bytes = static_cast<int64_t>(numbers.capacity() * sizeof(int32_t));
        for (const auto& t : leafTriangles) bytes += static_cast<int64_t>(t.capacity() * sizeof(int64_t));
        for (const BandVertices& b : bands)
            bytes += static_cast<int64_t>(b.vertices.capacity() * sizeof(MeshVertex) + b.normalSums.capacity() * sizeof(double));
        pass.memory.Note(bytes - kept);
        kept = bytes;
    };
    bool go = true;
    for (int64_t start = 0; go && start < regionRows; start += kBlockCells) {
        f.rows = std::min(kBlockCells, regionRows - start);
        f.bandStart = start;
        if (!ReadBand(pass, w, f, start, regionRows)) return;
        if (seams != nullptr) edgeCells.Take(f);
        MakeCornerHeights(f, JobWorkerCount(pass.request.workers));
        for (int64_t y = start > 0 ? 1 : 0; y <= f.rows; ++y)
            for (int64_t x = 0; x <= f.cols; ++x) state->corners += f.kind[f.Corner(x, y)] != kHoleCorner;
        state->maxError = std::max(state->maxError, SimplifyBand(pass, f, leafTriangles));
        if (CancelRequested(pass)) return;
        if (!NumberBand(pass, f, start, regionRows, leafTriangles, carried, count, *band, numbers)) {
            pass.outOfMemory = true;
            return;
        }
        if (pass.geometry.normals) AddTriangleNormals(pass, numbers, *band, *before);
        noteLists();
        HandOverVertices(pass, *before, f, seams);
        go = AppendScratch(pass.scratch, reinterpret_cast<const char*>(numbers.data()), numbers.size() * sizeof(int32_t)) &&
             !pass.out->failed && !CancelRequested(pass);
        state->triangles += static_cast<int64_t>(numbers.size() / 3);
        std::swap(before, band);
    }
    if (go) HandOverVertices(pass, *before, f, seams);
    leafTriangles.clear();
    numbers.clear();
}

void RunSimplifiedFacePass(MeshPass& pass) {
    auto* s = static_cast<SimplifiedState*>(pass.methodState.get());
    if (s == nullptr || !RewindScratch(pass.scratch)) {
        StartProgressPass(pass.progress, kProgressHalf, 0);
        return;
    }
    OutputWork w;
    w.pass = &pass;
    w.total = s->triangles;
    if (RunFacePass(pass, {&w, TakeTriangles, WriteTriangles}, s->triangles) != PipelineEnd::Completed) return;
    pass.maxErrorReached = s->maxError;
    pass.interpolatedVertices = s->corners;
}

}  // namespace

int64_t PhysicalMemoryBytes() {
#ifdef _WIN32
    MEMORYSTATUSEX status;
    status.dwLength = sizeof status;
    return GlobalMemoryStatusEx(&status) ? static_cast<int64_t>(status.ullTotalPhys) : int64_t{1} << 32;
#else
    const long pages = sysconf(_SC_PHYS_PAGES), size = sysconf(_SC_PAGE_SIZE);
    return pages > 0 && size > 0 ? static_cast<int64_t>(pages) * size : int64_t{1} << 32;
#endif
}

const MeshMethodPasses kSimplifiedPasses = {L"__simplified", FaceKind::Triangles, RunSimplifiedVertexPass,
                                            RunSimplifiedFacePass};
