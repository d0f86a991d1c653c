#include "picture/height_bitmap.h"

#include "dunmoor_version.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <mutex>
#include <vector>

#include <zlib.h>

#include "grid/float_scan.h"
#include "job/number_format.h"
#include "picture/png_writer.h"

namespace {

// Deflate level: 1, the fastest, keeps the bitmap well inside half the time
// of an Interpolated mesh of the same grid; terrain rows after the Sub filter
// compress nearly as well with it as with the default.
constexpr int kDeflateLevel = 1;
constexpr uint8_t kSubFilter = 1;

struct ItemAdler {
    uint32_t adler = 1;
    uint64_t bytes = 0;
};

struct BitmapWork {
    GridPass* pass = nullptr;
    RowBlockReader reader;
    int64_t width = 0;  // region columns
    HeightRange range;  // first pass: merged under `lock` after each item
    std::mutex lock;
    // Second pass: a deflate stream per worker, and each item's Adler-32.
    std::vector<z_stream> streams;
    std::vector<uint8_t> streamReady;  // one byte each: the workers set their own side by side
    std::vector<ItemAdler> adlers;  // by item, under `lock`
};

// The region's valid heights of a row, in column order, handed to take(index,
// value) with index from 0; returns the columns the row supplied within the
// region (the rest are missing) and counts the no-data values.
template <typename Take>
int64_t ForEachRegionCell(const GridPass& pass, std::string_view line, int64_t& nodata, Take take) {
    const RegionWindow& region = pass.region;
    const int64_t supplied = ForEachRowValue(line, std::max(region.xMin, 1), region.xMax, [&](int64_t column, float value) {
        // The Interpolated rule: no-data compared exactly; not finite is a hole.
        if (IsInterpolatedNodata(value, pass.header)) nodata += 1;
        else take(column - region.xMin, value);
        return true;
    });
    return std::max<int64_t>(supplied, 0);
}

void FindRowRange(BitmapWork& w, PipelineSink& sink, int64_t row, std::string_view line, HeightRange& range) {
    const GridPass& pass = *w.pass;
    const int64_t supplied = ForEachRegionCell(pass, line, sink.counts.nodata, [&](int64_t, float value) {
        if (!range.any) {
            range = {true, value, value};
        } else {
            range.lowest = std::min(range.lowest, value);
            range.highest = std::max(range.highest, value);
        }
    });
    sink.counts.missing += PromisedCells(pass.header, pass.region, row, row, supplied + 1);
}

void FindItemRange(void* context, const WorkItem& item, PipelineSink& sink) {
    BitmapWork& w = *static_cast<BitmapWork*>(context);
    HeightRange range;
    const bool go = ConvertBlockRows(*w.pass, item, item.text.data(), sink, [&](int64_t row, std::string_view line) {
        FindRowRange(w, sink, row, line, range);
        return true;
    });
    if (!go || !range.any) return;
    std::lock_guard<std::mutex> guard(w.lock);
    if (!w.range.any) {
        w.range = range;
    } else {
        w.range.lowest = std::min(w.range.lowest, range.lowest);
        w.range.highest = std::max(w.range.highest, range.highest);
    }
}

bool ReadBitmapRowBlock(void* context, WorkItem& item) {
    return ReadRowBlock(static_cast<BitmapWork*>(context)->reader, item);
}

// A row's scanline: the Sub filter byte, then big-endian 16-bit samples, each
// minus the one before it (byte by byte, as PNG filters).
void MakeScanline(const BitmapWork& w, std::string_view line, std::vector<uint8_t>& scanline) {
    scanline.assign(static_cast<std::size_t>(1 + 2 * w.width), 0);
    scanline[0] = kSubFilter;
    int64_t ignored = 0;
    ForEachRegionCell(*w.pass, line, ignored, [&](int64_t i, float value) {
        const uint16_t pixel = HeightPixel(value, w.range);
        scanline[static_cast<std::size_t>(1 + 2 * i)] = static_cast<uint8_t>(pixel >> 8);
        scanline[static_cast<std::size_t>(2 + 2 * i)] = static_cast<uint8_t>(pixel);
    });
    for (std::size_t i = scanline.size() - 1; i >= 3; --i) scanline[i] = static_cast<uint8_t>(scanline[i] - scanline[i - 2]);
}

// Deflates `size` bytes (or, with Z_SYNC_FLUSH, what is pending) into the
// sink's chunks. False when the job stops.
bool DeflateInto(z_stream& stream, PipelineSink& sink, const uint8_t* data, std::size_t size, int flush) {
    stream.next_in = const_cast<Bytef*>(data);
    stream.avail_in = static_cast<uInt>(size);
    do {
        char* p = ReserveSinkBytes(sink, kMaxReserveBytes);
        if (p == nullptr) return false;
        stream.next_out = reinterpret_cast<Bytef*>(p);
        stream.avail_out = static_cast<uInt>(kMaxReserveBytes);
        deflate(&stream, flush);
        CommitSinkBytes(sink, reinterpret_cast<char*>(stream.next_out));
    } while (stream.avail_out == 0 || stream.avail_in > 0);
    return true;
}

z_stream& WorkerStream(BitmapWork& w, int worker) {
    z_stream& stream = w.streams[static_cast<std::size_t>(worker)];
    if (!w.streamReady[static_cast<std::size_t>(worker)]) {
        // Raw deflate: the PNG writer frames the items' blocks as one stream.
        if (deflateInit2(&stream, kDeflateLevel, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw std::bad_alloc();
        w.streamReady[static_cast<std::size_t>(worker)] = 1;
    } else {
        deflateReset(&stream);
    }
    return stream;
}

// An item's rows, filtered and deflated into blocks that end byte-aligned
// (a sync flush), so the items' blocks join into one deflate stream; its
// Adler-32 is kept for the stream's end.
void WriteItemRows(void* context, const WorkItem& item, PipelineSink& sink) {
    BitmapWork& w = *static_cast<BitmapWork*>(context);
    z_stream& stream = WorkerStream(w, sink.worker);
    std::vector<uint8_t> scanline;
    ItemAdler adler;
    const bool go = ConvertBlockRows(*w.pass, item, item.text.data(), sink, [&](int64_t, std::string_view line) {
        MakeScanline(w, line, scanline);
        adler.adler = static_cast<uint32_t>(adler32(adler.adler, scanline.data(), static_cast<uInt>(scanline.size())));
        adler.bytes += scanline.size();
        return DeflateInto(stream, sink, scanline.data(), scanline.size(), Z_NO_FLUSH);
    });
    if (!go || !DeflateInto(stream, sink, nullptr, 0, Z_SYNC_FLUSH)) return;
    std::lock_guard<std::mutex> guard(w.lock);
    if (w.adlers.size() <= static_cast<std::size_t>(item.sequence)) w.adlers.resize(static_cast<std::size_t>(item.sequence) + 1);
    w.adlers[static_cast<std::size_t>(item.sequence)] = adler;
}

// Rows the file does not supply (before the grid's first row, after the data
// ended): all holes, deflated on the job's thread straight into the PNG.
void AddHoleRows(GridPass& pass, PngImageData& data, int64_t width, int64_t rows) {
    if (rows <= 0 || pass.out->failed) return;
    std::vector<uint8_t> scanline(static_cast<std::size_t>(1 + 2 * width), 0);
    scanline[0] = kSubFilter;
    z_stream stream{};
    if (deflateInit2(&stream, kDeflateLevel, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw std::bad_alloc();
    std::vector<char> out(std::size_t{64} << 10);
    for (int64_t r = 0; r <= rows && !CancelRequested(pass); ++r) {
        const bool last = r == rows;
        stream.next_in = last ? nullptr : scanline.data();
        stream.avail_in = last ? 0 : static_cast<uInt>(scanline.size());
        if (!last) data.adler = static_cast<uint32_t>(adler32(data.adler, scanline.data(), static_cast<uInt>(scanline.size())));
        do {
            stream.next_out = reinterpret_cast<Bytef*>(out.data());
            stream.avail_out = static_cast<uInt>(out.size());
            deflate(&stream, last ? Z_SYNC_FLUSH : Z_NO_FLUSH);
            AddPngDeflate(*pass.out, data, out.data(), out.size() - stream.avail_out);
        } while (stream.avail_out == 0);
    }
    deflateEnd(&stream);
}

}  // namespace

uint16_t HeightPixel(float height, const HeightRange& range) {
    if (!(range.highest > range.lowest)) return 1;
    // Clamped: a file rewritten between the two passes may hold other heights.
    const double share = std::clamp((static_cast<double>(height) - range.lowest) /
                                        (static_cast<double>(range.highest) - range.lowest), 0.0, 1.0);
    return static_cast<uint16_t>(1 + static_cast<int>(share * 65534.0 + 0.5));  // rounds half up
}

void RunHeightBitmapPasses(GridPass& pass, int64_t dataStart, HeightRange& range) {
    const RegionWindow& region = pass.region;
    const int64_t width = int64_t{region.xMax} - region.xMin + 1;
    const int64_t height = int64_t{region.yMax} - region.yMin + 1;
    if (width < 1 || height < 1 || width > kMaxBitmapSide || height > kMaxBitmapSide) {
        pass.outOfMemory = true;  // no image of that size
        return;
    }
    BitmapWork w;
    w.pass = &pass;
    w.width = width;

    // First pass: the range, and the no-data and missing counts.
    StartProgressPass(pass.progress, 0, height);
    w.reader = RegionRowReader(pass, region.yMax);
    if (RunRowPass(pass, {&w, ReadBitmapRowBlock, FindItemRange}, w.reader, 0) != PipelineEnd::Completed) return;
    if (pass.failedRow != 0) return;
    range = w.range;
    const JobCounts counts = pass.counts;

    // Second pass: the rows, from the start of the data again.
    if (!SeekGridStream(pass.input, dataStart)) {
        pass.failedRow = std::max<int64_t>(region.yMin, 1);
        return;
    }
    WritePngStart(*pass.out, static_cast<uint32_t>(width), static_cast<uint32_t>(height),
                  {{"Software", DUNMOOR_NAME},
                   {"Description", "Heights " + ShortestText(range.lowest) + " to " + ShortestText(range.highest) +
                                       " of the grid's height unit map linearly to 1 to 65535; 0 is no data"},
                   {"HeightMin", ShortestText(range.lowest)},
                   {"HeightMax", ShortestText(range.highest)}});
    PngImageData data;
    AddHoleRows(pass, data, width, std::min<int64_t>(height, 1 - int64_t{region.yMin}));  // rows before row 1
    const int workers = JobWorkerCount(pass.workers);
    w.streams.resize(static_cast<std::size_t>(workers));
    w.streamReady.assign(static_cast<std::size_t>(workers), 0);
    StartProgressPass(pass.progress, kProgressHalf, height);
    w.reader = RegionRowReader(pass, region.yMax);
    pass.frameOutput = [](void* context, OutputFile& out, const char* bytes, std::size_t size) {
        AddPngDeflate(out, *static_cast<PngImageData*>(context), bytes, size);
    };
    pass.frameContext = &data;
    const PipelineEnd end = RunRowPass(pass, {&w, ReadBitmapRowBlock, WriteItemRows}, w.reader, 0);
    for (std::size_t i = 0; i < w.streams.size(); ++i)
        if (w.streamReady[i]) deflateEnd(&w.streams[i]);
    pass.frameOutput = nullptr;
    pass.counts = counts;  // the second pass counted the same cells again
    if (end != PipelineEnd::Completed || pass.failedRow != 0) return;
    for (const ItemAdler& item : w.adlers)
        data.adler = static_cast<uint32_t>(adler32_combine(data.adler, item.adler, static_cast<z_off_t>(item.bytes)));
    const int64_t rowsWritten = std::max<int64_t>(0, std::min<int64_t>(w.reader.rowsRead, region.yMax) -
                                                        std::max<int64_t>(region.yMin, 1) + 1);
    const int64_t before = std::min<int64_t>(height, std::max<int64_t>(0, 1 - int64_t{region.yMin}));
    AddHoleRows(pass, data, width, height - before - rowsWritten);  // rows after the data ended
    WritePngEnd(*pass.out, data);
}

std::string WorldFileText(const GridHeader& header, const RegionWindow& region) {
    const double dx = header.cellWidth, dy = header.cellHeight;
    const double centreX = header.cornerX + (static_cast<double>(region.xMin) - 0.5) * dx;
    const double centreY = header.cornerY + (static_cast<double>(header.nrows) - region.yMin + 0.5) * dy;
    return ShortestText(dx) + "\r\n0\r\n0\r\n" + ShortestText(-dy) + "\r\n" + ShortestText(centreX) + "\r\n" + ShortestText(centreY) + "\r\n";
}
