// The converter's command line: its options, their checks and its help.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "grid/grid_types.h"
#include "mesh/conversion_job.h"

// An argument as the system hands it over: wide text on Windows, the bytes of
// the name on Linux (never re-encoded, so any file name keeps its bytes).
using ArgText = std::filesystem::path::string_type;

// The most files converted at a time: each holds its own buffers and threads.
constexpr int kMaxFilesAtOnce = 1024;

struct Options {
    std::vector<ArgText> grids;  // file names and patterns, as given
    std::vector<ArgText> lists;  // --from: files naming grids one per line; "-" standard input
    MeshMethod method = Interpolated;
    double maxError = kDefaultMaxError;  // simplified: in the grid's height unit
    MeshGeometryKind geometry = ClassicGeometry;
    bool geometryGiven = false;  // --geometry was given (a binary format takes true scale unless so)
    MeshFormatKind format = MeshFormatKind::Obj;
    bool normals = false;  // --normals
    UpAxis up = ZUp;
    bool wholeGrid = true;
    RegionWindow region;
    float unitMeters = 1.0f;
    bool unitsGiven = false;       // --units was given
    double exaggerate = 1.0;       // --exaggerate
    double fitMillimetres = 0.0;   // --fit-mm; 0: not fitted
    bool solid = false;            // --solid BASE
    double solidBase = 0.0;
    std::string timestamp;  // checked: "YYYY-MM-DD, HH:MM", or empty
    std::filesystem::path outdir;
    bool mesh = true;           // false with --heightmap-only
    bool heightBitmap = false;  // --heightmap or --heightmap-only
    bool skipExisting = false;  // a file whose outputs stand complete is not converted again
    int32_t slice = 1;          // --slice K/N: K
    int32_t slices = 1;         //              N
    std::filesystem::path log;  // --log: one line per file appended; empty: none
    unsigned jobs = 0;  // 0: one file per core
    bool progress = false;
    int32_t workers = 0;  // threads formatting each file's job; 0: the cores shared among the jobs
    bool help = false;    // --help, -h or /?: nothing else is looked at
    std::filesystem::path preview;  // --preview: the one grid's terrain preview goes here, nothing else
    int32_t previewWidth = kPreviewWidth, previewHeight = kPreviewHeight;
    TextureChoice texture = TextureChoice::None;  // --texture
    std::filesystem::path texturePath;
    int32_t textureWidth = 0, textureHeight = 0;  // --texture-size; 0: one pixel a cell
    bool tileSet = false;          // --tile-set: the run's grids are one set of tiles
    bool originGiven = false;      // --origin X Y: True scale measures from there
    double originX = 0.0, originY = 0.0;
    bool heightRangeGiven = false;  // --height-range LO HI: the height bitmap's mapping
    double heightLow = 0.0, heightHigh = 0.0;
};

// Reads the arguments; false with `problem` (one line) when they are wrong.
bool ParseOptions(const std::vector<ArgText>& args, Options& options, std::string& problem);

// The usage line, and the full help: the usage, one line per option, the
// exit statuses.
std::string UsageText();
std::string HelpText();

// True for "YYYY-MM-DD, HH:MM" naming a real day and time of day.
bool IsValidTimestamp(const std::string& text);

// Why a region does not fit a grid with this header ("X max 300 is beyond
// the grid's 120 columns"); empty when it fits.
std::string RegionProblem(const RegionWindow& region, const GridHeader& header);

// An option's text as plain characters (anything beyond ASCII becomes '?').
std::string Ascii(const ArgText& arg);
