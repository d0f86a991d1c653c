// Batches spread over runs and machines: grid paths read from a list, the
// outputs a run left that a later one may skip, and the run log the failed
// files of a run are taken from for the next.
#pragma once

#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "grid/tile_set.h"
#include "job/job_counts.h"
#include "tools/convert_options.h"

// The paths `source` names, one per line ("-": standard input): blank lines
// skipped, a line's spaces kept, the CR of a CR LF and a UTF-8 byte order
// mark dropped. The list is UTF-8 on Windows, bytes elsewhere. False with
// `problem` when it cannot be read, or a line holds a NUL byte (no path
// does) or, on Windows, is not UTF-8.
bool ReadGridList(const ArgText& source, std::vector<ArgText>& paths, std::string& problem);

// The grids of a run taken as one tile set (--tile-set): every grid's header
// (none for a grid whose header cannot be read: it is no tile's neighbour),
// each one's neighbours, and the set's south-west corner and middle latitude
// in the grids' coordinates.
struct TileSetRun {
    std::vector<std::filesystem::path> grids;
    std::vector<GridHeader> headers;
    std::vector<bool> readable;
    std::vector<std::vector<std::size_t>> neighbours;
    double west = 0.0, south = 0.0, middle = 0.0;
    // The valid heights' range over every grid of the set (FindSetHeights).
    bool heightsAny = false;
    float lowest = 0.0f, highest = 0.0f;
    // The neighbours of grid `index` as its conversion reads them.
    std::vector<TileNeighbour> NeighboursOf(std::size_t index) const;
};
// Reads the headers alone of `grids`, all of them, and finds each one's
// neighbours.
TileSetRun FindTileSet(const std::vector<std::filesystem::path>& grids);
// Reads every grid of the set for its heights' range, `workers` grids at a
// time: the height bitmaps' one mapping.
void FindSetHeights(TileSetRun& set, int workers);

// One file's line in the run log.
struct LogEntry {
    std::string path;     // as given; tabs and line ends become '?'
    std::string outcome;  // converted, holes, skipped, failed, interrupted
    bool counted = false; // the counts are the file's (converted, holes)
    bool mesh = true;     // vertices, triangles and quads apply
    JobCounts counts;
    double seconds = 0.0;
    std::string detail;   // why it failed, a warning, or what was skipped
};

// The run log: one tab-separated line per file, appended and flushed as the
// file ends, under a header line written when the log is new. A log that
// cannot be written fails the run: Open and Close say why.
class RunLog {
public:
    RunLog() = default;
    RunLog(const RunLog&) = delete;
    RunLog& operator=(const RunLog&) = delete;
    ~RunLog();
    // False with `problem` when the log cannot be opened or its header written.
    bool Open(const std::filesystem::path& path, std::string& problem);
    bool IsOpen() const { return file_ != nullptr; }
    // From any thread. After a line fails to be written no more are tried.
    void Append(const LogEntry& entry);
    // After the last Append: false with `problem` when a line could not be
    // written or the log could not be closed.
    bool Close(std::string& problem);

private:
    std::FILE* file_ = nullptr;
    std::string name_;      // the log's path, as printed
    std::mutex lock_;       // guards the writes and the two fields below
    int writeError_ = 0;    // errno of the first line that could not be written
    std::size_t lost_ = 0;  // lines not written, that one included
};
