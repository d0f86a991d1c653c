#include "mesh/flat_fill.h"

#include <algorithm>
#include <cstddef>

// Ear clipping, with each hole joined to its outer loop by a bridge to a
// point it sees, and points kept in a z-order list so that an ear is tested
// only against the points near it. All tests are exact: the points are
// integers and every product is taken in 128 bits. No point is ever left
// out, not even one that comes to lie straight between its neighbours as
// ears are cut (it is no ear then, until a neighbour goes): the walls meet
// the bottom at every point.

namespace {

using Wide = __int128;

struct Node {
    int64_t x, y;
    int32_t id;  // the point's number; a bridge's two ends are two nodes each
    int32_t prev = -1, next = -1;
    int32_t prevZ = -1, nextZ = -1;
    uint32_t z = 0;
};

struct Fill {
    std::vector<Node> nodes;
    std::vector<int32_t>* triangles = nullptr;
    bool hashed = false;
    int64_t minX = 0, minY = 0;
    long double zScale = 0.0L;
};

// Twice the signed area of a, b, c: above 0 when they turn left.
Wide Cross(const Node& a, const Node& b, const Node& c) {
    return Wide{b.x - a.x} * (c.y - a.y) - Wide{b.y - a.y} * (c.x - a.x);
}
bool SamePlace(const Node& a, const Node& b) { return a.x == b.x && a.y == b.y; }

// Whether p lies inside triangle a, b, c (counter-clockwise) or on its edges.
bool InOrOnTriangle(const Node& a, const Node& b, const Node& c, const Node& p) {
    return Cross(a, b, p) >= 0 && Cross(b, c, p) >= 0 && Cross(c, a, p) >= 0;
}

// Whether the diagonal from a to b starts into the polygon's inside at a.
bool LocallyInside(const Fill& f, const Node& a, const Node& b) {
    const Node& before = f.nodes[static_cast<std::size_t>(a.prev)];
    const Node& after = f.nodes[static_cast<std::size_t>(a.next)];
    if (Cross(before, a, after) > 0) return Cross(a, b, after) <= 0 && Cross(a, before, b) <= 0;
    return Cross(a, b, before) > 0 || Cross(a, after, b) > 0;
}

// Whether segments p1-q1 and p2-q2 meet, touching included.
int Sign(Wide v) { return v > 0 ? 1 : v < 0 ? -1 : 0; }
bool OnSegment(const Node& p, const Node& q, const Node& r) {
    return std::min(p.x, r.x) <= q.x && q.x <= std::max(p.x, r.x) && std::min(p.y, r.y) <= q.y &&
           q.y <= std::max(p.y, r.y);
}
bool Meet(const Node& p1, const Node& q1, const Node& p2, const Node& q2) {
    const int o1 = Sign(Cross(p1, q1, p2)), o2 = Sign(Cross(p1, q1, q2));
    const int o3 = Sign(Cross(p2, q2, p1)), o4 = Sign(Cross(p2, q2, q1));
    if (o1 != o2 && o3 != o4) return true;
    return (o1 == 0 && OnSegment(p1, p2, q1)) || (o2 == 0 && OnSegment(p1, q2, q1)) ||
           (o3 == 0 && OnSegment(p2, p1, q2)) || (o4 == 0 && OnSegment(p2, q1, q2));
}

// Whether the middle of a-b lies inside the polygon (doubled coordinates,
// so it stays an integer).
bool MiddleInside(const Fill& f, int32_t a, int32_t b) {
    const Node& na = f.nodes[static_cast<std::size_t>(a)];
    const Node& nb = f.nodes[static_cast<std::size_t>(b)];
    const Wide px = Wide{na.x} + nb.x, py = Wide{na.y} + nb.y;
    bool inside = false;
    int32_t p = a;
    do {
        const Node& s = f.nodes[static_cast<std::size_t>(p)];
        const Node& t = f.nodes[static_cast<std::size_t>(s.next)];
        const Wide sy = 2 * Wide{s.y}, ty = 2 * Wide{t.y};
        if ((sy > py) != (ty > py)) {
            // px < s.x + (py - s.y) (t.x - s.x) / (t.y - s.y), all doubled
            const Wide left = (px - 2 * Wide{s.x}) * (ty - sy), right = (py - sy) * (2 * (Wide{t.x} - s.x));
            if (ty > sy ? left < right : left > right) inside = !inside;
        }
        p = s.next;
    } while (p != a);
    return inside;
}

bool DiagonalMeetsAnEdge(const Fill& f, int32_t a, int32_t b) {
    const Node& na = f.nodes[static_cast<std::size_t>(a)];
    const Node& nb = f.nodes[static_cast<std::size_t>(b)];
    int32_t p = a;
    do {
        const Node& s = f.nodes[static_cast<std::size_t>(p)];
        const Node& t = f.nodes[static_cast<std::size_t>(s.next)];
        if (s.id != na.id && t.id != na.id && s.id != nb.id && t.id != nb.id && Meet(s, t, na, nb)) return true;
        p = s.next;
    } while (p != a);
    return false;
}

bool ValidDiagonal(const Fill& f, int32_t a, int32_t b) {
    const Node& na = f.nodes[static_cast<std::size_t>(a)];
    const Node& nb = f.nodes[static_cast<std::size_t>(b)];
    return !SamePlace(na, nb) && f.nodes[static_cast<std::size_t>(na.next)].id != nb.id &&
           f.nodes[static_cast<std::size_t>(na.prev)].id != nb.id && !DiagonalMeetsAnEdge(f, a, b) &&
           LocallyInside(f, na, nb) && LocallyInside(f, nb, na) && MiddleInside(f, a, b);
}

// ---- The z-order list ----

uint32_t ZOrder(const Fill& f, int64_t x, int64_t y) {
    uint32_t zx = static_cast<uint32_t>(static_cast<long double>(x - f.minX) * f.zScale);
    uint32_t zy = static_cast<uint32_t>(static_cast<long double>(y - f.minY) * f.zScale);
    const auto spread = [](uint32_t v) {
        v = (v | (v << 8)) & 0x00FF00FF;
        v = (v | (v << 4)) & 0x0F0F0F0F;
        v = (v | (v << 2)) & 0x33333333;
        return (v | (v << 1)) & 0x55555555;
    };
    return spread(zx) | (spread(zy) << 1);
}

void IndexByZOrder(Fill& f, int32_t start) {
    std::vector<int32_t> order;
    int32_t p = start;
    do {
        Node& n = f.nodes[static_cast<std::size_t>(p)];
        n.z = ZOrder(f, n.x, n.y);
        order.push_back(p);
        p = n.next;
    } while (p != start);
    std::sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
        return f.nodes[static_cast<std::size_t>(a)].z < f.nodes[static_cast<std::size_t>(b)].z;
    });
    for (std::size_t i = 0; i < order.size(); ++i) {
        Node& n = f.nodes[static_cast<std::size_t>(order[i])];
        n.prevZ = i > 0 ? order[i - 1] : -1;
        n.nextZ = i + 1 < order.size() ? order[i + 1] : -1;
    }
}

void Unlink(Fill& f, int32_t p) {
    Node& n = f.nodes[static_cast<std::size_t>(p)];
    f.nodes[static_cast<std::size_t>(n.prev)].next = n.next;
    f.nodes[static_cast<std::size_t>(n.next)].prev = n.prev;
    if (n.prevZ >= 0) f.nodes[static_cast<std::size_t>(n.prevZ)].nextZ = n.nextZ;
    if (n.nextZ >= 0) f.nodes[static_cast<std::size_t>(n.nextZ)].prevZ = n.prevZ;
}

// ---- Ears ----

// Whether p keeps the ear a, b, c from being cut: inside it or on it, and
// not one of its corners (nor a bridge's other end at a corner's place).
bool Blocks(const Node& a, const Node& b, const Node& c, const Node& p) {
    if (SamePlace(p, a) || SamePlace(p, b) || SamePlace(p, c)) return false;
    return InOrOnTriangle(a, b, c, p);
}

bool IsEar(const Fill& f, int32_t ear) {
    const Node& b = f.nodes[static_cast<std::size_t>(ear)];
    const Node& a = f.nodes[static_cast<std::size_t>(b.prev)];
    const Node& c = f.nodes[static_cast<std::size_t>(b.next)];
    if (Cross(a, b, c) <= 0) return false;
    if (!LocallyInside(f, a, c) || !LocallyInside(f, c, a)) return false;
    if (!f.hashed) {
        for (int32_t p = c.next; p != b.prev; p = f.nodes[static_cast<std::size_t>(p)].next)
            if (Blocks(a, b, c, f.nodes[static_cast<std::size_t>(p)])) return false;
        return true;
    }
    const int64_t x0 = std::min({a.x, b.x, c.x}), x1 = std::max({a.x, b.x, c.x});
    const int64_t y0 = std::min({a.y, b.y, c.y}), y1 = std::max({a.y, b.y, c.y});
    const uint32_t lowZ = ZOrder(f, x0, y0), highZ = ZOrder(f, x1, y1);
    const auto check = [&](int32_t p) {
        const Node& n = f.nodes[static_cast<std::size_t>(p)];
        return p != b.prev && p != b.next && p != ear && n.x >= x0 && n.x <= x1 && n.y >= y0 && n.y <= y1 &&
               Blocks(a, b, c, n);
    };
    for (int32_t p = b.prevZ; p >= 0 && f.nodes[static_cast<std::size_t>(p)].z >= lowZ;
         p = f.nodes[static_cast<std::size_t>(p)].prevZ)
        if (check(p)) return false;
    for (int32_t p = b.nextZ; p >= 0 && f.nodes[static_cast<std::size_t>(p)].z <= highZ;
         p = f.nodes[static_cast<std::size_t>(p)].nextZ)
        if (check(p)) return false;
    return true;
}

// A copy of a's and b's nodes joined so that the ring splits in two along
// a-b; returns the second ring's node at b.
int32_t SplitRing(Fill& f, int32_t a, int32_t b) {
    const int32_t a2 = static_cast<int32_t>(f.nodes.size());
    f.nodes.push_back(f.nodes[static_cast<std::size_t>(a)]);
    const int32_t b2 = static_cast<int32_t>(f.nodes.size());
    f.nodes.push_back(f.nodes[static_cast<std::size_t>(b)]);
    const int32_t an = f.nodes[static_cast<std::size_t>(a)].next, bp = f.nodes[static_cast<std::size_t>(b)].prev;
    f.nodes[static_cast<std::size_t>(a)].next = b;
    f.nodes[static_cast<std::size_t>(b)].prev = a;
    f.nodes[static_cast<std::size_t>(a2)].next = an;
    f.nodes[static_cast<std::size_t>(an)].prev = a2;
    f.nodes[static_cast<std::size_t>(b2)].next = a2;
    f.nodes[static_cast<std::size_t>(a2)].prev = b2;
    f.nodes[static_cast<std::size_t>(bp)].next = b2;
    f.nodes[static_cast<std::size_t>(b2)].prev = bp;
    for (const int32_t copy : {a2, b2}) f.nodes[static_cast<std::size_t>(copy)].prevZ = f.nodes[static_cast<std::size_t>(copy)].nextZ = -1;
    return b2;
}

void Emit(Fill& f, int32_t a, int32_t b, int32_t c) {
    for (const int32_t n : {a, b, c}) f.triangles->push_back(f.nodes[static_cast<std::size_t>(n)].id);
}

bool ClipEars(Fill& f, int32_t ear, int depth);

// Where no ear is left (a ring that only bridges hold together), the ring
// is cut in two along a diagonal that lies inside it.
bool SplitAndClip(Fill& f, int32_t start, int depth) {
    int32_t a = start;
    do {
        const Node& na = f.nodes[static_cast<std::size_t>(a)];
        for (int32_t b = f.nodes[static_cast<std::size_t>(na.next)].next; b != na.prev;
             b = f.nodes[static_cast<std::size_t>(b)].next) {
            if (!ValidDiagonal(f, a, b)) continue;
            const int32_t other = SplitRing(f, a, b);
            return ClipEars(f, a, depth + 1) && ClipEars(f, other, depth + 1);
        }
        a = na.next;
    } while (a != start);
    return false;
}

bool ClipEars(Fill& f, int32_t ear, int depth) {
    if (depth > 64) return false;
    int32_t stop = ear;
    while (f.nodes[static_cast<std::size_t>(ear)].prev != f.nodes[static_cast<std::size_t>(ear)].next) {
        const int32_t prev = f.nodes[static_cast<std::size_t>(ear)].prev;
        const int32_t next = f.nodes[static_cast<std::size_t>(ear)].next;
        if (IsEar(f, ear)) {
            Emit(f, prev, ear, next);
            Unlink(f, ear);
            // Moving on past the next point cuts fewer slivers.
            ear = stop = f.nodes[static_cast<std::size_t>(next)].next;
            continue;
        }
        ear = next;
        if (ear == stop) {
            f.hashed = false;  // the split's rings are not in the z-order list
            return SplitAndClip(f, ear, depth);
        }
    }
    return true;
}

// ---- Loops and holes ----

int32_t AddRing(Fill& f, const std::vector<LatticePoint>& loop, int32_t firstId) {
    const int32_t first = static_cast<int32_t>(f.nodes.size());
    const int32_t n = static_cast<int32_t>(loop.size());
    for (int32_t i = 0; i < n; ++i) {
        Node node;
        node.x = loop[static_cast<std::size_t>(i)].x;
        node.y = loop[static_cast<std::size_t>(i)].y;
        node.id = firstId + i;
        node.prev = first + (i + n - 1) % n;
        node.next = first + (i + 1) % n;
        f.nodes.push_back(node);
    }
    return first;
}

// The ring's edges and points by rows of y, so that joining a hole looks
// only at what lies in its rows. An edge is noted by its first node, in
// every row it spans; a node whose next one changes is noted again.
struct RowIndex {
    int64_t minY = 0, rowHeight = 1;
    std::vector<std::vector<int32_t>> edges, points;
    std::vector<char> inRing;  // by node: on the ring the holes are joined to (holes not yet joined are not)

    std::size_t RowOf(int64_t y) const {
        const int64_t row = (y - minY) / rowHeight;
        return static_cast<std::size_t>(std::clamp<int64_t>(row, 0, static_cast<int64_t>(edges.size()) - 1));
    }
    void AddEdge(const Fill& f, int32_t p) {
        const Node& s = f.nodes[static_cast<std::size_t>(p)];
        const Node& t = f.nodes[static_cast<std::size_t>(s.next)];
        for (std::size_t r = RowOf(std::min(s.y, t.y)); r <= RowOf(std::max(s.y, t.y)); ++r) edges[r].push_back(p);
    }
    void AddNode(const Fill& f, int32_t p) {
        if (static_cast<std::size_t>(p) >= inRing.size()) inRing.resize(f.nodes.size(), 0);
        inRing[static_cast<std::size_t>(p)] = 1;
        points[RowOf(f.nodes[static_cast<std::size_t>(p)].y)].push_back(p);
        AddEdge(f, p);
    }
    void AddRing(const Fill& f, int32_t start) {
        int32_t p = start;
        do {
            AddNode(f, p);
            p = f.nodes[static_cast<std::size_t>(p)].next;
        } while (p != start);
    }
};

// The node of the ring a hole's westmost node h is joined to: the nearest
// one it sees westward (the end of the edge its westward ray meets first,
// or a point in the triangle between that sees it at a smaller angle). -1
// when the ray meets nothing.
int32_t BridgeFor(const Fill& f, const RowIndex& index, int32_t h) {
    const Node& hole = f.nodes[static_cast<std::size_t>(h)];
    const long double hx = static_cast<long double>(hole.x), hy = static_cast<long double>(hole.y);
    long double qx = -1e30L;
    int32_t m = -1;
    for (const int32_t p : index.edges[index.RowOf(hole.y)]) {
        if (!index.inRing[static_cast<std::size_t>(p)]) continue;
        const Node& s = f.nodes[static_cast<std::size_t>(p)];
        const Node& t = f.nodes[static_cast<std::size_t>(s.next)];
        // An edge going south has the inside to its east.
        if (hole.y <= s.y && hole.y >= t.y && t.y != s.y) {
            const long double x = static_cast<long double>(s.x) +
                                  (hy - s.y) * static_cast<long double>(t.x - s.x) / static_cast<long double>(t.y - s.y);
            // Of edges met at one x (a bridge's two ways), the first noted.
            if (x <= hx && (x > qx || (x == qx && p < m))) {
                qx = x;
                m = s.x < t.x ? p : s.next;
            }
        }
    }
    if (m < 0) return -1;
    // Points inside the triangle hole, (qx, hy), m may hide m: the one seen
    // at the smallest angle from the ray is seen.
    const Node& first = f.nodes[static_cast<std::size_t>(m)];
    const long double mx = static_cast<long double>(first.x), my = static_cast<long double>(first.y);
    long double tanMin = 1e30L;
    for (std::size_t r = index.RowOf(std::min(hole.y, first.y)); r <= index.RowOf(std::max(hole.y, first.y)); ++r) {
        for (const int32_t p : index.points[r]) {
            if (!index.inRing[static_cast<std::size_t>(p)]) continue;
            const Node& n = f.nodes[static_cast<std::size_t>(p)];
            const long double px = static_cast<long double>(n.x), py = static_cast<long double>(n.y);
            const long double ax = hy < my ? hx : qx, cx = hy < my ? qx : hx;
            const bool inTriangle = (cx - px) * (hy - py) >= (ax - px) * (hy - py) &&
                                    (ax - px) * (my - py) >= (mx - px) * (hy - py) &&
                                    (mx - px) * (hy - py) >= (cx - px) * (my - py);
            if (!(hx >= px && px >= mx && hx != px && inTriangle)) continue;
            const long double tan = (hy > py ? hy - py : py - hy) / (hx - px);
            const Node& best = f.nodes[static_cast<std::size_t>(m)];
            // Of two seen alike, the one further east, or at one place the
            // one whose corner holds the other's.
            const bool holds =
                n.x == best.x &&
                Cross(f.nodes[static_cast<std::size_t>(best.prev)], best, f.nodes[static_cast<std::size_t>(n.prev)]) > 0 &&
                Cross(f.nodes[static_cast<std::size_t>(n.next)], best, f.nodes[static_cast<std::size_t>(best.next)]) > 0;
            if (LocallyInside(f, n, hole) && (tan < tanMin || (tan == tanMin && (n.x > best.x || holds)))) {
                m = p;
                tanMin = tan;
            }
        }
    }
    return m;
}

Wide DoubledArea(const std::vector<LatticePoint>& loop) {
    Wide area = 0;
    for (std::size_t i = 0; i < loop.size(); ++i) {
        const LatticePoint& a = loop[i];
        const LatticePoint& b = loop[(i + 1) % loop.size()];
        area += Wide{a.x} * b.y - Wide{a.y} * b.x;
    }
    return area;
}

// Whether p lies strictly inside the loop (p on none of its edges).
bool Inside(const std::vector<LatticePoint>& loop, const LatticePoint& p) {
    bool inside = false;
    for (std::size_t i = 0; i < loop.size(); ++i) {
        const LatticePoint& s = loop[i];
        const LatticePoint& t = loop[(i + 1) % loop.size()];
        if ((s.y > p.y) == (t.y > p.y)) continue;
        const Wide left = Wide{p.x - s.x} * (t.y - s.y), right = Wide{p.y - s.y} * (t.x - s.x);
        if (t.y > s.y ? left < right : left > right) inside = !inside;
    }
    return inside;
}

// Fills one outer loop with its holes.
bool FillPart(const std::vector<std::vector<LatticePoint>>& loops, const std::vector<int32_t>& firstIds, std::size_t outer,
              std::vector<std::size_t> holes, std::vector<int32_t>& triangles) {
    Fill f;
    f.triangles = &triangles;
    std::size_t points = loops[outer].size();
    for (const std::size_t h : holes) points += loops[h].size();
    f.nodes.reserve(points + 4 * holes.size() + 64);
    const int32_t start = AddRing(f, loops[outer], firstIds[outer]);
    // Holes from west to east, each joined to the ring the ones before made.
    std::vector<std::pair<int32_t, std::size_t>> westmost;
    for (const std::size_t h : holes) {
        const int32_t first = AddRing(f, loops[h], firstIds[h]);
        int32_t west = first;
        for (int32_t i = first; i < first + static_cast<int32_t>(loops[h].size()); ++i) {
            const Node& n = f.nodes[static_cast<std::size_t>(i)];
            const Node& w = f.nodes[static_cast<std::size_t>(west)];
            if (n.x < w.x || (n.x == w.x && n.y < w.y)) west = i;
        }
        westmost.emplace_back(west, h);
    }
    std::sort(westmost.begin(), westmost.end(), [&](const auto& a, const auto& b) {
        const Node& na = f.nodes[static_cast<std::size_t>(a.first)];
        const Node& nb = f.nodes[static_cast<std::size_t>(b.first)];
        return na.x != nb.x ? na.x < nb.x : na.y < nb.y;
    });
    RowIndex index;
    int64_t minY = f.nodes[0].y, maxY = minY;
    for (const Node& n : f.nodes) minY = std::min(minY, n.y), maxY = std::max(maxY, n.y);
    const int64_t rows = std::clamp<int64_t>(static_cast<int64_t>(f.nodes.size() / 8), 1, int64_t{1} << 16);
    index.minY = minY;
    index.rowHeight = std::max<int64_t>(1, (maxY - minY) / rows + 1);
    index.edges.resize(static_cast<std::size_t>((maxY - minY) / index.rowHeight + 1));
    index.points.resize(index.edges.size());
    index.inRing.assign(f.nodes.size(), 0);
    if (!holes.empty()) index.AddRing(f, start);
    for (const auto& [west, h] : westmost) {
        const int32_t bridge = BridgeFor(f, index, west);
        if (bridge < 0) return false;
        index.AddRing(f, west);
        const int32_t copy = SplitRing(f, bridge, west);  // the hole's node's copy; the bridge's node's is the one after
        index.AddEdge(f, bridge);
        index.AddNode(f, copy);
        index.AddNode(f, f.nodes[static_cast<std::size_t>(copy)].next);
    }
    if (points > 80) {
        int64_t maxX = f.nodes[0].x, maxY = f.nodes[0].y;
        f.minX = maxX;
        f.minY = maxY;
        for (const Node& n : f.nodes) {
            f.minX = std::min(f.minX, n.x);
            f.minY = std::min(f.minY, n.y);
            maxX = std::max(maxX, n.x);
            maxY = std::max(maxY, n.y);
        }
        const int64_t size = std::max<int64_t>({maxX - f.minX, maxY - f.minY, 1});
        f.zScale = 32767.0L / static_cast<long double>(size);
        f.hashed = true;
        IndexByZOrder(f, start);
    }
    return ClipEars(f, start, 0);
}

}  // namespace

bool FillFlatPolygons(const std::vector<std::vector<LatticePoint>>& loops, std::vector<int32_t>& triangles) {
    const std::size_t before = triangles.size();
    std::vector<int32_t> firstIds;
    std::vector<std::size_t> outers, holeLoops;
    std::vector<Wide> areas;
    int64_t id = 0;
    for (std::size_t i = 0; i < loops.size(); ++i) {
        firstIds.push_back(static_cast<int32_t>(id));
        id += static_cast<int64_t>(loops[i].size());
        if (loops[i].size() < 3 || id > INT32_MAX) return false;
        areas.push_back(DoubledArea(loops[i]));
        if (areas.back() == 0) return false;
        (areas.back() > 0 ? outers : holeLoops).push_back(i);
    }
    // Each hole's outer loop: the smallest around its first point.
    std::vector<std::vector<std::size_t>> holesOf(loops.size());
    for (const std::size_t h : holeLoops) {
        std::size_t owner = loops.size();
        for (const std::size_t o : outers)
            if ((owner == loops.size() || areas[o] < areas[owner]) && Inside(loops[o], loops[h][0])) owner = o;
        if (owner == loops.size()) return false;
        holesOf[owner].push_back(h);
    }
    for (const std::size_t o : outers) {
        if (!FillPart(loops, firstIds, o, holesOf[o], triangles)) {
            triangles.resize(before);
            return false;
        }
    }
    return true;
}
