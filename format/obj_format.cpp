#include "format/obj_format.h"

#include "dunmoor_version.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <string_view>

#include "format/number_texts.h"
#include "job/number_format.h"

namespace {

// Longest vertex line: "v " + three coordinates with separators + CR LF.
constexpr std::size_t kMaxVertexLineBytes = 2 + 3 * (kMaxFixed2Chars + 1) + 2;
// Room a vertex line takes in a sink: the line and CopyText's fixed copies.
constexpr std::size_t kVertexRoom = kMaxVertexLineBytes + kCopySlack;
// A normal's line, "vn x y z" with four decimals, follows its vertex's line
// when the file has normals; the faces are then "f a//a b//b ...".
constexpr int kNormalDecimals = 4;
constexpr std::size_t kNormalLineBytes = 3 + 3 * 8 + 2;
// With a texture, "vt u v" follows the vertex's line (before its normal's),
// v counted up from the image's bottom edge as OBJ has it; seven decimals
// keep a vertex within 0.05 pixel of an image of a million pixels a side.
// The faces are then "f a/a ..." or, with normals, "f a/a/a ...".
constexpr int kTextureDecimals = 7;
constexpr std::size_t kTextureLineBytes = 3 + 2 * (kMaxFixedChars + 1) + 2;
// The material the faces use, the texture's, in the ".mtl" file.
constexpr char kMaterialName[] = "terrain";

// ---- Coordinates as text ----

char* PutCoordinate(char* p, const MeshGeometry& g, double value) {
    return g.trueScale ? FormatFixed(p, value, g.positionDecimals) : FormatFixed2(p, static_cast<float>(value));
}

// "v x " of the west (or east) edge of grid column `column`, in `text`.
std::string_view ColumnText(LocalText& text, const MeshGeometry& g, int64_t column, bool eastEdge) {
    char* p = PutText(text.bytes, "v ");
    p = PutCoordinate(p, g, ColumnX(g, column, eastEdge));
    *p++ = ' ';
    text.size = static_cast<std::size_t>(p - text.bytes);
    return {text.bytes, text.size};
}

// The north (or south) edge's coordinate of grid row `row` with what follows
// it in a vertex line: "y " with z up; "z\r\n" (z = -y) with y up.
void SetRowText(LocalText& text, const MeshGeometry& g, int64_t row, bool southEdge) {
    const double y = RowY(g, row, southEdge);
    char* p = PutCoordinate(text.bytes, g, g.yUp ? -y : y);
    if (g.yUp) {
        *p++ = '\r';
        *p++ = '\n';
    } else {
        *p++ = ' ';
    }
    text.size = static_cast<std::size_t>(p - text.bytes);
}

// A height's text, kept for the vertices after it: a plane's four corners
// share one, and so do the corners of flat ground.
struct HeightText {
    LocalText text;
    uint32_t bits = 0;
    bool set = false;
};

template <bool Classic>
char* PutHeight(char* p, const MeshGeometry& g, float z, HeightText& last) {
    uint32_t bits;
    std::memcpy(&bits, &z, sizeof bits);
    if (!last.set || bits != last.bits) {
        char* end = Classic ? FormatFixed2(last.text.bytes, z)
                            : FormatFixed(last.text.bytes, static_cast<double>(z), g.heightDecimals);
        last.text.size = static_cast<std::size_t>(end - last.text.bytes);
        last.bits = bits;
        last.set = true;
    }
    return CopyText(p, last.text.bytes, last.text.size);
}

// What follows the height in a vertex line: CR LF with z up, a space with y up.
template <bool YUp>
char* PutHeightEnd(char* p) {
    if (YUp) {
        *p++ = ' ';
    } else {
        *p++ = '\r';
        *p++ = '\n';
    }
    return p;
}

// ---- Header and count lines ----

std::string LocalTimestampNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    char text[32] = {};
    std::strftime(text, sizeof text, "%Y-%m-%d, %H:%M", &local);
    return text;
}

// "# N" followed by `rest`: the count comments of the file.
void WriteCountComment(OutputFile& out, int64_t count, std::string_view rest) {
    char* p = ReserveOutputBytes(out, 2 + kMaxIntChars + rest.size());
    *p++ = '#';
    *p++ = ' ';
    p = FormatInt(p, count);
    p = PutText(p, rest);
    CommitOutputBytes(out, p);
}

// ---- The writer ----

// A number counted up from the one before: by a digit or two when it moved
// on by 1 to 9 (the faces of a row move on so), formatted anew otherwise.
inline void MoveCounterTo(VertexCounter& counter, int64_t value) {
    const int64_t step = value - counter.value;
    if (step == 0) return;
    if (step > 0 && step <= 9) AdvanceCounter(counter, static_cast<int>(step));
    else StartVertexCounter(counter, value);
}

// The same for a counter that may lag far behind: when `value` is a step or
// a few past `near` or `other`, it is that one's copy moved on.
inline void MoveCounterNear(VertexCounter& counter, int64_t value, const VertexCounter& near,
                            const VertexCounter& other) {
    const int64_t step = value - counter.value;
    if (step == 0) return;
    if (step > 0 && step <= 9) return AdvanceCounter(counter, static_cast<int>(step));
    for (const VertexCounter* from : {&near, &other}) {
        const int64_t ahead = value - from->value;
        if (ahead >= 0 && ahead <= 9) {
            counter = *from;
            if (ahead > 0) AdvanceCounter(counter, static_cast<int>(ahead));
            return;
        }
    }
    StartVertexCounter(counter, value);
}

class ObjWriter final : public MeshWriter {
public:
    ObjWriter(const MeshGeometry& geometry, const MeshFileInfo& info) : g_(geometry), info_(info) {
        // Columns beyond the grid's last never hold a value: no texts for them.
        const int64_t inGrid = g_.header != nullptr ? int64_t{g_.header->ncols} - info.westColumn + 1 : info.columns;
        cachedColumns_ = std::clamp<int64_t>(std::min(info.columns, inGrid), 0, kMaxCachedColumns);
        LocalText text;
        for (int64_t i = 0; i < cachedColumns_; ++i) {
            AddText(westTexts_, ColumnText(text, g_, info.westColumn + i, false));
            AddText(eastTexts_, ColumnText(text, g_, info.westColumn + i, true));
        }
    }

    void WriteStartPart(OutputFile& out) override {
        WriteOutputText(out,
                        "# " DUNMOOR_NAME "\r\n"
                        "# Terrain mesh converter, (c) 2018 Dunmoor, https://dunmoor.example\r\n"
                        "#\r\n");
        WriteOutputText(out, "# File conversion started at: ");
        WriteOutputText(out, info_.timestamp.empty() ? LocalTimestampNow() : info_.timestamp);
        WriteOutputText(out, "\r\n");
        for (const std::string& note : info_.notes) {
            WriteOutputText(out, "# ");
            WriteOutputText(out, note);
            WriteOutputText(out, "\r\n");
        }
        if (info_.texture.on) WriteOutputText(out, "mtllib " + info_.materialLibrary + "\r\n");
        WriteOutputText(out, "\r\n\r\n");
    }

    void WriteMiddlePart(OutputFile& out, const JobCounts& counts) override {
        WriteCountComment(out, counts.vertices, " vertices\r\n\r\n");
        WriteOutputText(out, "o ");
        WriteOutputText(out, info_.name);
        WriteOutputText(out, "\r\ng ");
        WriteOutputText(out, info_.name);
        WriteOutputText(out, "\r\n");
        if (info_.texture.on) WriteOutputText(out, std::string("usemtl ") + kMaterialName + "\r\n");
    }

    // "# N quads" (or "# N triangles"), the last bytes of the file (no line end).
    void WriteEndPart(OutputFile& out, const JobCounts& counts) override {
        if (info_.faces == FaceKind::Triangles) WriteCountComment(out, counts.triangles, " triangles");
        else WriteCountComment(out, counts.quads, " quads");
    }

    bool WriteVertices(PipelineSink& sink, const MeshVertex* vertices, std::size_t count) const override {
        // The classic geometry with z up, the default, has its lines put
        // together without asking the geometry for each.
        if (g_.normals || info_.texture.on) {
            if (!g_.trueScale) return PutVertices<true, false, true>(sink, vertices, count);
            return g_.yUp ? PutVertices<false, true, true>(sink, vertices, count)
                          : PutVertices<false, false, true>(sink, vertices, count);
        }
        if (!g_.trueScale) return PutVertices<true, false, false>(sink, vertices, count);
        return g_.yUp ? PutVertices<false, true, false>(sink, vertices, count)
                      : PutVertices<false, false, false>(sink, vertices, count);
    }

    bool WriteFaces(PipelineSink& sink, const int64_t* numbers, std::size_t count, int corners) const override {
        if (g_.normals || info_.texture.on) return PutFacesWithExtras(sink, numbers, count, corners);
        return corners == 4 ? PutFaces<4>(sink, numbers, count) : PutFaces<3>(sink, numbers, count);
    }

    int64_t TableBytes() const override { return NumberTextsBytes(westTexts_) + NumberTextsBytes(eastTexts_); }

private:
    // The "v x " of a column's west (or east) edge: from the tables, or
    // formatted into `local`.
    std::string_view XText(int64_t column, bool eastEdge, LocalText& local) const {
        const int64_t i = column - info_.westColumn;
        if (i >= 0 && i < cachedColumns_)
            return NumberTextAt(eastEdge ? eastTexts_ : westTexts_, static_cast<std::size_t>(i));
        return ColumnText(local, g_, column, eastEdge);
    }

    // "f a b c d" from counters that move on by a step or a few along a row.
    // Lines are reserved and committed a few at a time.
    template <int Corners>
    static bool PutFaces(PipelineSink& sink, const int64_t* numbers, std::size_t count) {
        constexpr std::size_t kLineBytes = 2 + Corners * kCounterTextBytes + 2;
        constexpr std::size_t kLinesAtOnce = kMaxReserveBytes / kLineBytes;
        VertexCounter counters[Corners];
        for (int k = 0; k < Corners; ++k) StartVertexCounter(counters[k], numbers[k] + 1);
        for (std::size_t i = 0; i < count;) {
            const std::size_t end = std::min(count, i + kLinesAtOnce);
            char* p = ReserveSinkBytes(sink, (end - i) * kLineBytes);
            if (p == nullptr) return false;
            for (; i < end; ++i, numbers += Corners) {
                *p++ = 'f';
                *p++ = ' ';
                // The first and the last corner are counted on; one between
                // them whose number differs from either in the last digit
                // only is that one's text with its own digit (a plane's
                // mostly are), any other is counted on by itself.
                const int64_t first = numbers[0] + 1, last = numbers[Corners - 1] + 1;
                MoveCounterTo(counters[0], first);
                MoveCounterTo(counters[Corners - 1], last);
                const int64_t firstTens = first - (counters[0].last - '0');
                const int64_t lastTens = last - (counters[Corners - 1].last - '0');
                p = PutCounter(p, counters[0]);
#pragma GCC unroll 2
                for (int k = 1; k < Corners - 1; ++k) {
                    const int64_t number = numbers[k] + 1;
                    if (static_cast<uint64_t>(number - firstTens) < 10) {
                        p = PutCounterWithLastDigit(p, counters[0], static_cast<char>('0' + (number - firstTens)));
                    } else if (static_cast<uint64_t>(number - lastTens) < 10) {
                        p = PutCounterWithLastDigit(p, counters[Corners - 1],
                                                    static_cast<char>('0' + (number - lastTens)));
                    } else {
                        MoveCounterNear(counters[k], number, counters[0], counters[Corners - 1]);
                        p = PutCounter(p, counters[k]);
                    }
                }
                p = PutCounter(p, counters[Corners - 1]);
                p[-1] = '\r';
                *p++ = '\n';
            }
            CommitSinkBytes(sink, p);
            if (SegmentIsFull(sink)) EndSinkSegment(sink);
        }
        return true;
    }

    // "f a/a/a b/b/b ...", "f a/a ..." or "f a//a ...": each corner's number
    // once more for its texture coordinates and its normal, formatted once.
    // Not the counters' fast path: these are asked for, not the default.
    bool PutFacesWithExtras(PipelineSink& sink, const int64_t* numbers, std::size_t count, int corners) const {
        const bool texture = info_.texture.on, normals = g_.normals;
        const std::size_t lineBytes = 2 + static_cast<std::size_t>(corners) * (3 * kMaxIntChars + 3) + 2;
        const std::size_t linesAtOnce = kMaxReserveBytes / lineBytes;
        for (std::size_t i = 0; i < count;) {
            const std::size_t end = std::min(count, i + linesAtOnce);
            char* p = ReserveSinkBytes(sink, (end - i) * lineBytes);
            if (p == nullptr) return false;
            for (; i < end; ++i, numbers += corners) {
                *p++ = 'f';
                for (int k = 0; k < corners; ++k) {
                    *p++ = ' ';
                    char* const number = p;
                    p = FormatInt(p, numbers[k] + 1);
                    const std::size_t digits = static_cast<std::size_t>(p - number);
                    *p++ = '/';
                    if (texture) {
                        std::memmove(p, number, digits);
                        p += digits;
                    }
                    if (normals) {
                        *p++ = '/';
                        std::memmove(p, number, digits);
                        p += digits;
                    }
                }
                *p++ = '\r';
                *p++ = '\n';
            }
            CommitSinkBytes(sink, p);
            if (SegmentIsFull(sink)) EndSinkSegment(sink);
        }
        return true;
    }

    // "vn x y z" of a vertex's normal, turned as its position is.
    char* PutNormalLine(char* p, const MeshVertex& v) const {
        float n[3];
        FloatNormal(v, g_.yUp, n);
        p = PutText(p, "vn");
        for (const float component : n) {
            *p++ = ' ';
            p = FormatFixed(p, static_cast<double>(component), kNormalDecimals);
        }
        *p++ = '\r';
        *p++ = '\n';
        return p;
    }

    // "vt u v" of a vertex's corner, v up from the image's bottom edge.
    char* PutTextureLine(char* p, const MeshVertex& v, bool eastEdge, bool southEdge) const {
        float uv[2];
        TextureCoordinates(info_.texture, v, eastEdge, southEdge, true, uv);
        p = PutText(p, "vt ");
        p = FormatFixed(p, static_cast<double>(uv[0]), kTextureDecimals);
        *p++ = ' ';
        p = FormatFixed(p, static_cast<double>(uv[1]), kTextureDecimals);
        *p++ = '\r';
        *p++ = '\n';
        return p;
    }

    // A solid's vertex moved off its corner (MeshVertex::nudge), rare: its
    // line formatted on its own, with what follows it.
    char* PutNudgedVertex(char* p, const MeshVertex& v) const {
        const bool east = (v.edges & kEastEdge) != 0, south = (v.edges & kSouthEdge) != 0;
        const double x = ColumnX(g_, v.column, east) + NudgeX(g_, v);
        const double y = RowY(g_, v.row, south) + NudgeY(g_, v);
        const auto height = [&](char* q) {
            return g_.trueScale ? FormatFixed(q, static_cast<double>(v.z), g_.heightDecimals) : FormatFixed2(q, v.z);
        };
        p = PutCoordinate(PutText(p, "v "), g_, x);
        *p++ = ' ';
        if (g_.yUp) {
            p = height(p);
            *p++ = ' ';
            p = PutCoordinate(p, g_, -y);
        } else {
            p = PutCoordinate(p, g_, y);
            *p++ = ' ';
            p = height(p);
        }
        *p++ = '\r';
        *p++ = '\n';
        if (info_.texture.on) p = PutTextureLine(p, v, east, south);
        if (g_.normals) p = PutNormalLine(p, v);
        return p;
    }

    // Lines are reserved and committed many at a time: as many records as
    // surely fit in the largest reservation. `Extras`: each vertex's line is
    // followed by its texture coordinates' and its normal's, as the file has
    // them.
    template <bool Classic, bool YUp, bool Extras>
    bool PutVertices(PipelineSink& sink, const MeshVertex* vertices, std::size_t count) const {
        static_assert(kMaxReserveBytes > 4 * (kVertexRoom + kNormalLineBytes + kTextureLineBytes),
                      "a reservation holds records of four vertices");
        LocalText north, south, westLocal, eastLocal;
        HeightText height;
        int64_t textRow = 0;
        bool haveRow = false;
        // A line from its x text and its row's text, at the record's height.
        const auto line = [&](char* p, std::string_view x, const LocalText& y, float z) {
            p = CopyText(p, x);
            if (YUp) return CopyText(PutHeightEnd<true>(PutHeight<Classic>(p, g_, z, height)), y.bytes, y.size);
            return PutHeightEnd<false>(PutHeight<Classic>(CopyText(p, y.bytes, y.size), g_, z, height));
        };
        // The classic geometry's single vertex, the default's hot line: its
        // height formatted in place (a neighbour's rarely matches).
        const auto classicLine = [&](char* p, std::string_view x, const LocalText& y, float z) {
            p = FormatFixed2(CopyText(CopyText(p, x), y.bytes, y.size), z);
            p[0] = '\r';
            p[1] = '\n';
            return p + 2;
        };
        for (std::size_t i = 0; i < count;) {
            char* p = ReserveSinkBytes(sink, kMaxReserveBytes);
            if (p == nullptr) return false;
            // Room for one more record.
            const char* const last =
                p + kMaxReserveBytes - 4 * (kVertexRoom + (Extras ? kNormalLineBytes + kTextureLineBytes : 0));
            for (; i < count && p <= last; ++i) {
                const MeshVertex& v = vertices[i];
                if (v.nudge != 0) {
                    p = PutNudgedVertex(p, v);
                    continue;
                }
                if (!haveRow || v.row != textRow) {
                    SetRowText(north, g_, v.row, false);
                    SetRowText(south, g_, v.row, true);
                    textRow = v.row;
                    haveRow = true;
                }
                if (Extras) {
                    ForEachVertexOf(v, [&](bool eastEdge, bool southEdge) {
                        p = line(p, XText(v.column, eastEdge, eastEdge ? eastLocal : westLocal),
                                 southEdge ? south : north, v.z);
                        if (info_.texture.on) p = PutTextureLine(p, v, eastEdge, southEdge);
                        if (g_.normals) p = PutNormalLine(p, v);
                    });
                } else if (v.edges & kCellCorners) {
                    const std::string_view west = XText(v.column, false, westLocal);
                    const std::string_view east = XText(v.column, true, eastLocal);
                    p = line(p, west, north, v.z);
                    p = line(p, east, north, v.z);
                    p = line(p, east, south, v.z);
                    p = line(p, west, south, v.z);
                } else if (Classic && !YUp) {
                    p = classicLine(p, XText(v.column, (v.edges & kEastEdge) != 0, westLocal),
                                    (v.edges & kSouthEdge) != 0 ? south : north, v.z);
                } else {
                    p = line(p, XText(v.column, (v.edges & kEastEdge) != 0, westLocal),
                             (v.edges & kSouthEdge) != 0 ? south : north, v.z);
                }
            }
            CommitSinkBytes(sink, p);
            if (SegmentIsFull(sink)) EndSinkSegment(sink);
        }
        return true;
    }

    const MeshGeometry g_;
    const MeshFileInfo info_;
    NumberTexts westTexts_, eastTexts_;  // "v x " of the cached columns' west and east edges
    int64_t cachedColumns_ = 0;
};

std::unique_ptr<MeshWriter> MakeObjWriter(const MeshGeometry& geometry, const MeshFileInfo& info, JobMemory&) {
    return std::make_unique<ObjWriter>(geometry, info);
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The header's first line, and "...\n# 1234 quads" (or "triangles", a
// simplified mesh's) at the very end: the count is the last thing written.
bool ObjStandsComplete(std::FILE* file, int64_t size) {
    const std::string head = ReadFileAt(file, 0, 16);
    const std::string tail = ReadFileAt(file, size > 32 ? size - 32 : 0, 32);
    if (head.compare(0, 10, "# Dunmoor ") != 0) return false;
    const std::string faces = EndsWith(tail, " quads") ? " quads" : " triangles";
    if (!EndsWith(tail, faces)) return false;
    std::size_t at = tail.size() - faces.size(), digits = 0;
    for (; at > 0 && tail[at - 1] >= '0' && tail[at - 1] <= '9'; --at) ++digits;
    return digits > 0 && at >= 3 && tail.compare(at - 3, 3, "\n# ") == 0;
}

// Text counts as far as it goes.
bool ObjHolds(int64_t, int64_t, int64_t) { return true; }

}  // namespace

std::string MaterialLibraryText(const MeshTexture& texture) {
    return std::string("# " DUNMOOR_NAME "\r\n\r\nnewmtl ") + kMaterialName +
           "\r\nKa 1.000 1.000 1.000\r\nKd 1.000 1.000 1.000\r\nKs 0.000 0.000 0.000\r\nillum 1\r\nmap_Kd " +
           texture.reference + "\r\n";
}

namespace {

}  // namespace

const MeshFormat kObjFormat = {L".obj", MakeObjWriter, ObjStandsComplete, ObjHolds, ""};
