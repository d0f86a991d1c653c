// Batches spread over runs and machines: grid paths read from a list, the
// outputs a run left that a later one may skip, and the run log the failed
// files of a run are taken from for the next.
#pragma once

#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "job/job_counts.h"
#include "tools/convert_options.h"

// The paths `source` names, one per line ("-": standard input): blank lines
// skipped, a line's spaces kept, the CR of a CR LF and a UTF-8 byte order
// mark dropped. The list is UTF-8 on Windows, bytes elsewhere. False with
// `problem` when it cannot be read.
bool ReadGridList(const ArgText& source, std::vector<ArgText>& paths, std::string& problem);

// Whether `path` holds an output a finished job left: an OBJ that begins
// with the converter's header and ends with the face count the job writes
// last ("# N quads", no line end after it), a PNG with its signature and its closing
// IEND chunk, a world file that is not empty (it is put in place whole).
// A cut or foreign file is not; a temporary file never has an output's name.
bool OutputStandsComplete(const std::filesystem::path& path);

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
// file ends, under a header line written when the log is new.
class RunLog {
public:
    RunLog() = default;
    RunLog(const RunLog&) = delete;
    RunLog& operator=(const RunLog&) = delete;
    ~RunLog();
    bool Open(const std::filesystem::path& path, std::string& problem);
    bool IsOpen() const { return file_ != nullptr; }
    void Append(const LogEntry& entry);  // from any thread

private:
    std::FILE* file_ = nullptr;
    std::mutex lock_;
};
