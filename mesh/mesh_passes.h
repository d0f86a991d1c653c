// What the two mesh methods share inside a job: the counters, the progress
// ticks, the cancel poll and the cell geometry.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "grid/grid_reader.h"
#include "mesh/conversion_job.h"
#include "mesh/job_pipeline.h"
#include "mesh/obj_writer.h"

struct MeshPass {
    GridStream& input;
    ObjOutput& out;
    const JobRequest& request;
    const JobHooks& hooks;
    float scale = 0.0f;   // x positions and heights: cellsize (dx) / unitMeters
    float scaleY = 0.0f;  // y positions: the cell height (dy) / unitMeters
    int64_t vertexCount = 0;
    int64_t quadCount = 0;
    int64_t nodataCount = 0;
    int64_t missingCount = 0;  // region cells inside the grid the file did not supply
    int64_t failedRow = 0;     // the row at which reading failed, 0 when it did not
    // The progress bar runs once from 0 to 100 over the job: the vertex pass
    // fills the first half row by row from Y min to Y max, the face pass the
    // second half. It only moves forward.
    int progressBase = 0;          // position at the start of this pass (0 or 50)
    int progressPosition = 0;      // last position sent
    int64_t progressTotal = 0;     // units of work in this pass
    int64_t progressNext = 0;      // units done at which the position next moves
    ChunkPool chunks{};            // the pipeline's output chunks, for all passes
};

inline bool CancelRequested(const MeshPass& pass) {
    return pass.hooks.cancelRequested != nullptr &&
           pass.hooks.cancelRequested->load(std::memory_order_relaxed);
}

inline void SendProgress(const JobHooks& hooks, unsigned message, uint64_t wParam, int64_t lParam) {
    if (hooks.progress != nullptr) hooks.progress(hooks.context, message, wParam, lParam);
}

constexpr int kProgressHalf = 50;

// Sends the position for `done` of the pass's units when it has moved on:
// at most 50 messages a pass.
inline void UpdateProgress(MeshPass& pass, int64_t done) {
    const int64_t total = pass.progressTotal;
    const int64_t clamped = std::min(std::max(done, int64_t{0}), total);
    const int position = pass.progressBase +
                         (total > 0 ? static_cast<int>(clamped * kProgressHalf / total) : kProgressHalf);
    if (position > pass.progressPosition) {
        pass.progressPosition = position;
        SendProgress(pass.hooks, kPbmSetPos, static_cast<uint64_t>(position), 0);
    }
    // The first count of units that gives the next position.
    const int64_t step = position + 1 - pass.progressBase;
    pass.progressNext = total > 0 ? (step * total + kProgressHalf - 1) / kProgressHalf : 0;
}

inline void StartProgressPass(MeshPass& pass, int base, int64_t total) {
    pass.progressBase = base;
    pass.progressTotal = std::max(total, int64_t{0});
    pass.progressNext = 0;
    UpdateProgress(pass, 0);
}

inline void AdvanceProgress(MeshPass& pass, int64_t done) {
    if (done >= pass.progressNext) UpdateProgress(pass, done);
}

// The vertex pass has worked through grid row `row` of the region.
inline void ShowRowProgress(MeshPass& pass, int64_t row) {
    AdvanceProgress(pass, row - pass.request.region.yMin + 1);
}

// True when `done` of a pass's `total` units moves the bar. Workers end their
// segments there, so a cancel seen at that step stops the pass right there.
inline bool ProgressStepsAt(int64_t done, int64_t total) {
    return done >= 1 && done <= total && done * kProgressHalf / total != (done - 1) * kProgressHalf / total;
}

// West edge of grid column j: (j + xllcorner) in single precision, the rest
// in double precision, rounded to float.
inline float WestEdge(int64_t column, const GridHeader& header, float scale) {
    const float sum = static_cast<float>(column) + header.xllcorner;
    return static_cast<float>((static_cast<double>(sum) - 1.0) * static_cast<double>(scale));
}

// North edge of grid row L: (1 - L + nrows + yllcorner) left to right in
// double precision from single-precision terms, rounded to float. `scale` is
// the y scale: yllcorner counts in cell heights like the rows.
inline float NorthEdge(int64_t row, const GridHeader& header, float scale) {
    const double sum = (1.0 - static_cast<double>(static_cast<float>(row))) +
                       static_cast<double>(static_cast<float>(header.nrows)) +
                       static_cast<double>(header.yllcorner);
    return static_cast<float>(sum * static_cast<double>(scale));
}

// The lower edge is the negated difference, so an upper edge equal to scale
// gives negative zero (written -0.00).
inline float SouthEdge(float northEdge, float scale) { return -(scale - northEdge); }

inline bool RegionIsEmpty(const RegionWindow& region) {
    return region.xMin > region.xMax || region.yMin > region.yMax;
}

// Cells of rows [firstRow, lastRow] from column firstColumn on that lie in
// both the region and the header's grid: what the file owed there.
inline int64_t PromisedCells(const JobRequest& request, int64_t firstRow, int64_t lastRow, int64_t firstColumn) {
    const RegionWindow& region = request.region;
    const int64_t top = std::max({firstRow, int64_t{region.yMin}, int64_t{1}});
    const int64_t bottom = std::min({lastRow, int64_t{region.yMax}, int64_t{request.header.nrows}});
    const int64_t west = std::max({firstColumn, int64_t{region.xMin}, int64_t{1}});
    const int64_t east = std::min(int64_t{region.xMax}, int64_t{request.header.ncols});
    if (top > bottom || west > east) return 0;
    return (bottom - top + 1) * (east - west + 1);
}

// The rows after the last one read: a read failure (an I/O error or an
// over-long line) before the region's last row fails the job at the next
// row; a file that simply ends leaves the remaining region cells missing.
inline void EndOfData(MeshPass& pass, int64_t rowsRead) {
    const int64_t yMax = pass.request.region.yMax;
    if (rowsRead >= yMax) return;
    if (pass.input.failed) {
        pass.failedRow = rowsRead + 1;
        return;
    }
    pass.missingCount += PromisedCells(pass.request, rowsRead + 1, yMax, 1);
    ShowRowProgress(pass, yMax);
}

// The data section in blocks of whole lines for the vertex pass's workers.
struct RowBlockReader {
    GridStream* input = nullptr;
    int64_t rowsRead = 0;      // rows (non-blank lines) handed out so far
    int64_t lastRow = 0;       // the pass reads rows up to this one
    bool keepContext = false;  // each block starts with the row before it
    std::vector<char> lastLine;
    bool done = false;
};
// Under the reader lock: the next block, its first row number and row count.
bool ReadRowBlock(RowBlockReader& reader, WorkItem& item);

// Numbers formatted once per job ("%.2f" with the text around them), copied
// into lines. Every text is followed by padding, so CopyText may copy a fixed
// 32 bytes.
struct NumberTexts {
    std::vector<char> bytes;
    std::vector<std::size_t> ends;
};
constexpr std::size_t kCopySlack = 32;
// Appends `before`, the value, `after`.
void AddNumberText(NumberTexts& texts, const char* before, float value, const char* after);
// Appends a vertex number and a space.
void AddIndexText(NumberTexts& texts, int64_t index);

// Vertex numbers counted up one at a time as decimal text: a row's numbers
// cost a digit or two each instead of a conversion.
struct VertexCounter {
    int64_t value = 0;
    // The value's digits end at kCounterDigitsEnd; the bytes after them let
    // the text be copied with one fixed-size copy.
    char digits[48];
    int size = 0;
};
constexpr int kCounterDigitsEnd = 24;
void StartVertexCounter(VertexCounter& counter, int64_t value);
void CountVertex(VertexCounter& counter);
// Appends the counter's number and a space.
void AddCounterText(NumberTexts& texts, const VertexCounter& counter);
// Columns whose x texts a job keeps; wider rows format the rest as they come.
constexpr int64_t kMaxCachedColumns = 65536;

// Copies n bytes; the source has kCopySlack readable bytes and the target
// room for them.
inline char* CopyText(char* p, const char* text, std::size_t n) {
    if (n <= kCopySlack) std::memcpy(p, text, kCopySlack);
    else std::memcpy(p, text, n);
    return p + n;
}
inline char* CopyText(char* p, std::string_view text) { return CopyText(p, text.data(), text.size()); }
// Text i of a table.
inline std::string_view NumberTextAt(const NumberTexts& texts, std::size_t i) {
    const std::size_t begin = i == 0 ? 0 : texts.ends[i - 1];
    return {texts.bytes.data() + begin, texts.ends[i] - begin};
}
inline char* CopyNumberText(char* p, const NumberTexts& texts, std::size_t i) {
    return CopyText(p, NumberTextAt(texts, i));
}
// The bytes of a job's table of texts, for the accounting of its buffers.
inline int64_t NumberTextsBytes(const NumberTexts& texts) {
    return static_cast<int64_t>(texts.bytes.capacity() + sizeof(std::size_t) * texts.ends.capacity());
}

// A text formatted on the spot, padded like NumberTexts.
struct LocalText {
    char bytes[kMaxFixed2Chars + 8 + kCopySlack];
    std::size_t size;
};
// Sets the text to `before`, the value, `after`. Inline, so that the fixed
// texts around the value become fixed copies: it runs once per height.
inline void SetLocalText(LocalText& text, const char* before, float value, const char* after) {
    const std::size_t beforeSize = std::strlen(before);
    const std::size_t afterSize = std::strlen(after);
    std::memcpy(text.bytes, before, beforeSize);
    char* p = FormatFixed2(text.bytes + beforeSize, value);
    std::memcpy(p, after, afterSize);
    text.size = static_cast<std::size_t>(p + afterSize - text.bytes);
}
// "v x " of a column whose text is not in a table.
inline std::string_view VertexXText(LocalText& text, float x) {
    SetLocalText(text, "v ", x, " ");
    return {text.bytes, text.size};
}

// Runs a vertex pass's work on the workers with the rows the reader hands
// out and their progress; the end of the data is counted when it completes.
PipelineEnd RunRowPass(MeshPass& pass, PipelineWork work, const RowBlockReader& reader, int64_t textBytes);
// Runs a face pass's work on the workers; the bar reaches the end of the
// pass's `total` units when it completes.
PipelineEnd RunFacePass(MeshPass& pass, PipelineWork work, int64_t total);

// Floating planes: vertex and face passes (no memory beyond one line).
void RunFloatingPlanesVertexPass(MeshPass& pass);
void RunFloatingPlanesFacePass(MeshPass& pass);

// Interpolated. Memory follows neither the grid nor the region: the workers
// keep two rows of heights each, and the cell bytes of the rows read (which
// vertices each cell wrote, whether it is valid) go to a scratch file beside
// the output, which the face pass reads back and which never outlives the job.
// Region rows and columns before the grid's first ones can never hold data
// and are not stored (their cells are holes).
struct InterpolatedMemory {
    int64_t top = 0, west = 0;    // grid row and column of stored row 1, column 1
    int64_t cols = 0, rows = 0;   // region size from (top, west) on
    std::FILE* scratch = nullptr; // the stored rows' cell bytes
    bool outOfMemory = false;     // a row did not fit in memory: the job fails
};
void PrepareInterpolatedMemory(const RegionWindow& region, InterpolatedMemory& memory);
void FreeInterpolatedMemory(InterpolatedMemory& memory);
void RunInterpolatedVertexPass(MeshPass& pass, InterpolatedMemory& memory);
void RunInterpolatedFacePass(MeshPass& pass, InterpolatedMemory& memory);
