// One conversion run: the outputs asked for (the mesh of the chosen method in
// the chosen format, the height bitmap), each written safely and all put in
// place together; counts, progress, cancellation, timing and the summary.
// Portable: the window layer turns the hooks into progress-bar messages,
// status texts and control states; tests and the headless converter count
// them.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "grid/ground_units.h"
#include "grid/grid_reader.h"
#include "grid/grid_types.h"
#include "grid/tile_set.h"
#include "format/mesh_format.h"
#include "job/job_counts.h"
#include "picture/height_bitmap.h"
#include "picture/terrain_preview.h"

constexpr wchar_t kStatusCalculatingVertices[] = L"Calculating vertices...";
constexpr wchar_t kStatusCalculatingQuads[] = L"Calculating quads...";
constexpr wchar_t kStatusReady[] = L"Ready...";
constexpr wchar_t kStatusWritingHeightBitmap[] = L"Writing the height bitmap...";

// Only a finished job puts a file in place; every other outcome leaves an
// earlier file of the output's name exactly as it was.
enum class JobOutcome {
    Finished,          // the file was written completely
    Cancelled,         // the user cancelled; the counts are those reached
    OutputNotWritten,  // the output file could not be created, written or moved into place
    NameTooLong,       // an output's file name is longer than a file system's names may be
    Refused,           // the grid cannot be placed as asked (refusal says why); nothing was read
    ScratchNotWritten, // the job's scratch file beside it could not be created or written
    RegionTooLarge,    // memory ran out: a work item (a row of some hundred million values) did
                       // not fit, or the job's buffers could not be had
    ReadFailed,        // the grid could not be read to the region's end (failedRow;
                       // 0 when the input was not open at the start)
};

// Where True scale measures from: the region's south-west corner, a tile
// set's south-west corner or a point given, in the grid's coordinates; a
// set's grid in degrees is turned into metres at the set's middle latitude.
struct TrueScaleOrigin {
    enum Kind : uint8_t { RegionCorner, TileSetCorner, Given } kind = RegionCorner;
    double x = 0.0, y = 0.0;
    bool latitudeGiven = false;
    double latitude = 0.0;
};

struct JobSummary {
    JobOutcome outcome = JobOutcome::Finished;
    MeshMethod method = Interpolated;
    MeshFormatKind format = MeshFormatKind::Obj;
    bool normals = false;  // the mesh file holds vertex normals
    TextureChoice texture = TextureChoice::None;
    std::filesystem::path texturePath;  // the image the mesh is draped with (the relief's when written)
    double textureCoverage = 1.0;       // the share of the region the image covers
    bool textureTooLarge = false;       // a JPEG beyond the sides 3D applications' textures reach
    bool mesh = true;  // a mesh was asked for (not only the height bitmap)
    float elapsedSeconds = 0.0f;
    // Missing: region cells the file did not supply (short rows, rows missing
    // at the end, tokens that are not numbers): holes, like no-data cells.
    JobCounts counts;
    int64_t failedRow = 0;  // ReadFailed: the data row at which reading failed
    int64_t peakBufferBytes = 0;  // the most the job's own buffers held at once
    // Simplified: the error asked for and the largest one left, and the
    // vertices of the full (Interpolated) surface.
    double maxError = 0.0;
    double maxErrorReached = 0.0;
    int64_t interpolatedVertices = 0;
    int64_t largestRegionCells = 0;  // RegionTooLarge for Simplified: the most cells that fit
    // A solid: its size along x, y and z (output units, which slicers read as
    // millimetres), its volume (cubic units) and its parts (pieces of the
    // valid area joined by cell edges).
    bool solid = false;
    double solidSize[3] = {0.0, 0.0, 0.0};
    double solidVolume = 0.0;
    int64_t solidParts = 0;
    int staleFilesRemoved = 0;    // temporary files of this output left by ended processes
    // True scale: what the grid's coordinates were taken to be, and where
    // degrees were turned into metres.
    bool trueScale = false;
    GroundUnits ground;
    double latitude = 0.0;
    TrueScaleOrigin::Kind origin = TrueScaleOrigin::RegionCorner;
    // Classic: some vertices land on one another or off their cells; True
    // scale would place them. Or the header gives the lower-left cell's
    // centre, which the classic geometry takes as the corner.
    bool classicMisplaced = false;
    bool classicCentre = false;
    // A ".prj" file stands beside the grid but says nothing understood.
    bool projectionUnreadable = false;
    std::string refusal;  // Refused: why
    // The height bitmap, when it was written: where, and its heights' range.
    bool heightBitmap = false;
    std::filesystem::path heightBitmapPath;
    HeightRange heightRange;
    // The terrain preview, when it was written.
    bool preview = false;
    std::filesystem::path previewPath;
    std::string outputName;              // narrow name, as in the object and group lines
    std::wstring outputFileName;         // full Unicode file name (no directory)
    std::filesystem::path outputPath;    // where the file is written (final name)
};

// Where a job stands: started (the bar at 0), working (`fraction` of the
// whole job done, 0 to 1, only ever forward), ended (the bar back at 0).
enum class JobPhase : uint8_t { Started, Working, Ended };

struct JobHooks {
    void* context = nullptr;
    // From the job's thread or from the worker writing in its turn, one at a
    // time.
    void (*progress)(void* context, JobPhase phase, double fraction) = nullptr;
    void (*setStatus)(void* context, const wchar_t* text) = nullptr;
    // Set by another thread (the window's); polled by the workers between
    // segments (whole cells, at most 64 KiB of output) and once more at the
    // end, where it decides against the file.
    const std::atomic<bool>* cancelRequested = nullptr;
    // Receives the result as the job's last step.
    void (*showSummary)(void* context, const JobSummary& summary) = nullptr;
};

// Simplified's maximum height error unless asked otherwise, and as the
// window's field shows it.
constexpr double kDefaultMaxError = 0.5;
constexpr wchar_t kDefaultMaxErrorText[] = L"0.5";

struct JobRequest {
    MeshMethod method = Interpolated;
    MeshFormatKind format = MeshFormatKind::Obj;
    bool normals = false;  // vertex normals in an OBJ or PLY file (a GLB always has them)
    // A texture draped over the mesh: none, a shaded relief of the region
    // written beside the mesh ("<stem>__texture.png", textureWidth x
    // textureHeight pixels, 0: one a cell), or an image with a world file in
    // the grid's coordinate system (texturePath).
    TextureChoice texture = TextureChoice::None;
    std::filesystem::path texturePath;
    int textureWidth = 0, textureHeight = 0;
    MeshGeometryKind geometry = ClassicGeometry;
    UpAxis up = ZUp;
    GridHeader header;
    RegionWindow region;
    float unitMeters = 1.0f;
    double exaggerate = 1.0;      // heights multiplied by it, in every geometry
    double fitMillimetres = 0.0;  // True scale: the region's longer side made this many units (0: not fitted)
    // A closed solid for 3D printing (Interpolated and Simplified): walls
    // along every edge of the valid area and a flat bottom `solidBase` output
    // units (more than 0) below the lowest vertex.
    bool solid = false;
    double solidBase = 0.0;
    double maxError = kDefaultMaxError;  // Simplified: in the grid's height unit, before the units
    // The coordinate system from a ".prj" file beside the grid, as its text
    // (ReadProjectionBeside); True scale reads its unit from it.
    bool hasProjection = false;
    std::string projection;
    // The outputs: the mesh, the height bitmap (with its world file), the
    // terrain preview of the whole grid (previewPath; empty: after the stem).
    bool writeMesh = true;
    bool writeHeightBitmap = false;
    bool writePreview = false;
    std::filesystem::path previewPath;
    int previewWidth = kPreviewWidth, previewHeight = kPreviewHeight;
    std::wstring inputStem;
    std::filesystem::path outputDir;  // empty: the current directory
    std::string timestamp;            // "YYYY-MM-DD, HH:MM"; empty: local time now
    int workers = 0;                  // threads that format; 0: one per core
    // A tile of a set: the cells its neighbours hold around it, which its
    // edge corners take into their means (null: none); True scale's origin.
    std::shared_ptr<const TileRing> tileRing;
    TrueScaleOrigin origin;
    // The height bitmap's mapping when not the region's own range (any: a
    // tile set's, or one given).
    HeightRange heightRange;
};

// The mesh file's names for a stem: the full Unicode name, and the narrow
// name whose bytes are the stem's characters up to the first one above
// U+00FF ("<stem>__<method>.<extension>").
std::wstring OutputFileName(const std::wstring& inputStem, MeshMethod method,
                            MeshFormatKind format = MeshFormatKind::Obj);
std::string NarrowOutputName(const std::wstring& inputStem, MeshMethod method,
                             MeshFormatKind format = MeshFormatKind::Obj);

// Whether the file at `path` is an output a job finished (a mesh of a
// format, a PNG; any other file that is not empty): what --skip-existing
// leaves.
bool OutputStandsComplete(const std::filesystem::path& path);

// Runs the whole job on the calling thread, reading the data section from
// `input` (which it closes; a closed or failed stream is refused), and hands
// the result to hooks.showSummary.
JobSummary RunConversionJob(const JobRequest& request, GridStream& input, const JobHooks& hooks);

struct SummaryMessage {
    std::wstring caption;
    std::wstring text;
    bool warning = false;  // shown with the warning icon
};
// The warning shown when the grid file supplied fewer values than its header
// promised: by the summary box and by the command-line converter alike.
std::wstring MissingCellsText(int64_t missingCount);

// What the summary says of the geometry: the unit True scale took the grid's
// coordinates in, or that the classic geometry misplaced vertices; empty when
// there is nothing to say. By the summary box and the converter alike.
std::wstring GeometryText(const JobSummary& summary);

// Whether what GeometryText says is a warning.
bool GeometryWarns(const JobSummary& summary);

// A format's name as the summary and the window show it ("OBJ", "GLB").
std::wstring FormatShownName(MeshFormatKind format);

// What the summary says of the texture: its file, and, as a warning, the
// share of the region it covers when not all, or a JPEG too large for 3D
// applications' textures; empty without a texture.
std::wstring TextureText(const JobSummary& summary);
bool TextureWarns(const JobSummary& summary);

// What the summary says of a solid: its size and volume; empty without one.
std::wstring SolidText(const JobSummary& summary);

// The relief texture's file name after the grid's stem.
constexpr wchar_t kReliefTextureSuffix[] = L"__texture.png";

// The line that says that temporary files of an interrupted conversion of
// the same output were removed: by the summary box and the converter alike.
std::wstring StaleFilesText(int count);

// The summary box's text and caption.
SummaryMessage FormatJobSummary(const JobSummary& summary);
