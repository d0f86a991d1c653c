#include "mesh/conversion_job.h"

#include <cctype>
#include <chrono>
#include <cwchar>
#include <memory>
#include <cmath>
#include <utility>
#include <vector>

#include "grid/ground_units.h"
#include "job/number_format.h"
#include "grid/path_parts.h"
#include "grid/region_estimates.h"
#include "format/obj_format.h"
#include "format/glb_format.h"
#include "format/ply_format.h"
#include "format/stl_format.h"
#include "mesh/mesh_passes.h"
#include "mesh/solid_mesh.h"
#include "picture/height_bitmap.h"
#include "picture/png_writer.h"
#include "picture/texture_image.h"

namespace {

// A text of ASCII characters (numbers, the reader's reasons) as wide text.
std::wstring WideText(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// The one place a method is chosen.
const MeshMethodPasses& PassesOf(MeshMethod method) {
    if (method == Simplified) return kSimplifiedPasses;
    return method == FloatingPlanes ? kFloatingPlanesPasses : kInterpolatedPasses;
}

// The formats, in the order of MeshFormatKind: the one place a format is
// chosen.
const MeshFormat* const kMeshFormats[] = {&kObjFormat, &kGlbFormat, &kPlyFormat, &kStlFormat};
static_assert(sizeof kMeshFormats / sizeof kMeshFormats[0] == sizeof kMeshFormatNames / sizeof kMeshFormatNames[0],
              "one format a name");
const MeshFormat& FormatOf(MeshFormatKind kind) { return *kMeshFormats[static_cast<std::size_t>(kind)]; }

void SetStatus(const JobHooks& hooks, const wchar_t* text) {
    if (hooks.setStatus != nullptr) hooks.setStatus(hooks.context, text);
}

void SendProgress(const JobHooks& hooks, JobPhase phase, double fraction) {
    if (hooks.progress != nullptr) hooks.progress(hooks.context, phase, fraction);
}

void SendPosition(void* context, int position) {
    SendProgress(*static_cast<const JobHooks*>(context), JobPhase::Working, position / 100.0);
}

JobSummary Finish(const JobHooks& hooks, JobSummary summary) {
    if (hooks.showSummary != nullptr) hooks.showSummary(hooks.context, summary);
    return summary;
}

// ---- The texture ----

// Sides beyond which 3D applications' textures do not reach.
constexpr int64_t kLargestTextureSide = 16384;

// Where the region's vertices land on an image whose world file gives its
// upper-left pixel's centre (c, f) and its pixel's size (a, e): the image's
// edges are half a pixel beyond the centres.
MeshTexture ImageTexture(const GridHeader& h, const WorldFile& w, const ImageInfo& image) {
    MeshTexture t;
    const double left = w.c - w.a / 2, top = w.f - w.e / 2;
    const double width = w.a * static_cast<double>(image.width), height = w.e * static_cast<double>(image.height);
    t.u0 = (h.cornerX - left) / width;
    t.du = h.cellWidth / width;
    t.v0 = (h.cornerY + static_cast<double>(h.nrows) * h.cellHeight - top) / height;
    t.dv = -h.cellHeight / height;
    return t;
}

// The relief covers the region exactly: its cell edges at the picture's.
MeshTexture ReliefTexture(const RegionWindow& r) {
    MeshTexture t;
    const double columns = static_cast<double>(int64_t{r.xMax} - r.xMin + 1);
    const double rows = static_cast<double>(int64_t{r.yMax} - r.yMin + 1);
    t.du = 1.0 / columns;
    t.u0 = -static_cast<double>(r.xMin - 1) * t.du;
    t.dv = 1.0 / rows;
    t.v0 = -static_cast<double>(r.yMin - 1) * t.dv;
    return t;
}

// The share of the region the image covers: its u and v spans within 0 to 1.
double TextureCoverage(const MeshTexture& t, const RegionWindow& r) {
    const auto within = [](double from, double to) {
        if (from > to) std::swap(from, to);
        return to > from ? std::max(0.0, std::min(to, 1.0) - std::max(from, 0.0)) / (to - from) : 0.0;
    };
    return within(t.u0 + t.du * (r.xMin - 1), t.u0 + t.du * r.xMax) *
           within(t.v0 + t.dv * (r.yMin - 1), t.v0 + t.dv * r.yMax);
}

// A path as UTF-8 text with forward slashes, as mesh files name files.
std::string Utf8Path(const std::filesystem::path& path) {
    const auto text = path.generic_u8string();
    return std::string(text.begin(), text.end());
}

// The image's path from the mesh's folder; empty where none reaches it
// (another drive).
std::string TextureReference(const std::filesystem::path& image, const std::filesystem::path& folder) {
    std::error_code error;
    const std::filesystem::path relative =
        std::filesystem::relative(image, folder.empty() ? std::filesystem::path(".") : folder, error);
    return error ? "" : Utf8Path(relative);
}

// The texture an image gives the request: its size, its world file, where
// the region lands on it; why not, when it cannot (nothing is written then).
bool ImageTextureOf(const JobRequest& request, MeshTexture& texture, ImageInfo& image, std::string& problem) {
    WorldFile world;
    std::filesystem::path found;
    const std::string name = Utf8Path(request.texturePath.filename());
    if (!ReadImageInfo(request.texturePath, image, problem) || !ReadWorldFileOf(request.texturePath, world, found, problem)) {
        problem = "the texture " + name + ": " + problem;
        return false;
    }
    texture = ImageTexture(request.header, world, image);
    texture.image = request.texturePath;
    texture.mimeType = ImageMimeType(image.kind);
    texture.imageBytes = image.bytes;
    return true;
}

// Why the chosen format cannot hold the mesh of the region, before anything
// is written: the most vertices and triangles the region's cells can make
// (holes only make fewer). Simplified is not judged ahead: it makes far fewer.
std::string FormatLimitProblem(const JobRequest& request, int64_t embeddedBytes) {
    const GridHeader& h = request.header;
    const RegionWindow& r = request.region;
    const int64_t columns = std::max<int64_t>(std::min<int64_t>(r.xMax, h.ncols) - std::max<int64_t>(r.xMin, 1) + 1, 0);
    const int64_t rows = std::max<int64_t>(std::min<int64_t>(r.yMax, h.nrows) - std::max<int64_t>(r.yMin, 1) + 1, 0);
    if (request.method == Simplified || columns == 0 || rows == 0) return "";
    const int64_t cells = columns * rows;
    const int64_t vertices = request.method == FloatingPlanes ? 4 * cells : (columns + 1) * (rows + 1);
    const MeshFormat& format = FormatOf(request.format);
    if (format.holds(vertices, 2 * cells, request.format == MeshFormatKind::Glb ? embeddedBytes : 0)) return "";
    return "its mesh would pass " + std::string(format.limitText) +
           ": choose Simplified, or a smaller region";
}

// The summary's names: the file's Unicode name, its narrow name and its
// path; and what the grid's georeference is taken to be.
JobSummary NamedSummary(const JobRequest& request) {
    JobSummary summary;
    summary.method = request.method;
    summary.format = request.format;
    summary.texture = request.writeMesh ? request.texture : TextureChoice::None;
    summary.normals = FormatWritesNormals(request.format, request.normals);
    summary.mesh = request.writeMesh;
    const GroundUnits ground = GroundUnitsOf(request.header, request.hasProjection, request.projection);
    summary.projectionUnreadable = ground.projectionUnreadable;
    if (request.writeMesh && request.geometry == TrueScaleGeometry) summary.refusal = LatitudeProblem(request.header, ground);
    summary.classicCentre = request.writeMesh && request.geometry == ClassicGeometry && request.header.cornerFromCentre;
    summary.outputFileName = OutputFileName(request.inputStem, request.method, request.format);
    summary.outputName = NarrowOutputName(request.inputStem, request.method, request.format);
    summary.outputPath = request.outputDir / WidePath(summary.outputFileName);
    return summary;
}

// What the format's writer is told of the file besides its vertices and faces.
MeshFileInfo FileInfoOf(const MeshPass& pass, const MeshMethodPasses& method, const std::string& outputName,
                        const MeshTexture& texture) {
    const RegionWindow& region = pass.request.region;
    MeshFileInfo info;
    info.timestamp = pass.request.timestamp;
    info.notes = GeometryNotes(pass.geometry, pass.request.unitMeters);
    info.name = outputName;
    if (pass.request.hasProjection) info.projection = pass.request.projection;
    info.faces = pass.request.solid ? FaceKind::Triangles : method.faces;  // a solid's walls and bottom are triangles
    info.westColumn = std::max<int64_t>(region.xMin, 1);
    info.columns = std::max<int64_t>(int64_t{region.xMax} - info.westColumn + 1, 0);
    info.texture = texture;
    std::filesystem::path library = WidePath(OutputFileName(pass.request.inputStem, pass.request.method, pass.request.format));
    info.materialLibrary = Utf8Path(library.replace_extension(".mtl"));
    return info;
}

// A writer that keeps the vertex pass's bytes gets them in order; memory that
// runs out there ends the job as too large (the faces are not written).
struct KeptVertices {
    MeshPass* pass;
    MeshWriter* writer;
};
void KeepVertexBytes(void* context, OutputFile&, const char* bytes, std::size_t size) {
    const KeptVertices& kept = *static_cast<KeptVertices*>(context);
    if (kept.pass->outOfMemory) return;
    try {
        kept.writer->KeepVertexBytes(bytes, size);
    } catch (const std::bad_alloc&) {
        kept.pass->outOfMemory = true;  // by the writer role; read by the job's thread after the pass
    }
}

// The file's start, the vertex pass, the part between, the face pass and the
// file's end. A grid that could not be read to the region's end, or a vertex
// pass that failed, gets no faces: the file is not a result.
void RunMeshPasses(MeshPass& pass, const MeshMethodPasses& method, MeshWriter& writer, const JobHooks& hooks) {
    pass.writer = &writer;
    SetStatus(hooks, kStatusCalculatingVertices);
    writer.WriteStartPart(*pass.out);
    const RegionWindow& region = pass.request.region;
    StartProgressPass(pass.progress, 0, int64_t{region.yMax} - region.yMin + 1);
    KeptVertices kept{&pass, &writer};
    if (writer.KeepsVertexBytes()) {
        pass.frameOutput = KeepVertexBytes;
        pass.frameContext = &kept;
    }
    method.vertexPass(pass);
    pass.frameOutput = nullptr;

    SetStatus(hooks, kStatusCalculatingQuads);
    writer.WriteMiddlePart(*pass.out, pass.counts);
    if (pass.failedRow == 0 && !pass.outOfMemory && !pass.scratch.failed) method.facePass(pass);
    SendProgress(hooks, JobPhase::Ended, 0.0);
    writer.WriteEndPart(*pass.out, pass.counts);
}

// A solid: the method's passes into memory, the surface closed there, then
// the format's parts around its vertices and triangles. A surface that cannot
// be closed (which a method's never is) writes no faces and fails the job.
void RunSolidPasses(MeshPass& pass, const MeshMethodPasses& method, MeshWriter& writer, const JobHooks& hooks,
                    SolidFacts& facts) {
    SurfaceMesh mesh;
    if (pass.request.method == Interpolated) {
        // Room for the full surface at once (pages are only taken as it fills),
        // not grown by copies.
        const RegionWindow& r = pass.request.region;
        const int64_t columns = std::min<int64_t>(r.xMax, pass.request.header.ncols) - std::max<int64_t>(r.xMin, 1) + 1;
        const int64_t rows = std::min<int64_t>(r.yMax, pass.request.header.nrows) - std::max<int64_t>(r.yMin, 1) + 1;
        if (columns > 0 && rows > 0 && (columns + 1) * (rows + 1) < (int64_t{1} << 28)) {
            mesh.vertices.reserve(static_cast<std::size_t>((columns + 1) * (rows + 1) + 4 * (columns + rows)));
            mesh.triangles.reserve(static_cast<std::size_t>(6 * columns * rows));
        }
    }
    SurfaceKeeper keeper(mesh, pass);
    const std::unique_ptr<MeshWriter> collector = MakeSurfaceCollector();
    pass.writer = collector.get();
    pass.frameOutput = KeepSurfaceBytes;
    pass.frameContext = &keeper;
    SetStatus(hooks, kStatusCalculatingVertices);
    const RegionWindow& region = pass.request.region;
    StartProgressPass(pass.progress, 0, int64_t{region.yMax} - region.yMin + 1);
    method.vertexPass(pass);
    SetStatus(hooks, kStatusCalculatingQuads);
    keeper.faces = true;
    const auto going = [&]() { return pass.failedRow == 0 && !pass.outOfMemory && !pass.scratch.failed && !CancelRequested(pass); };
    if (going()) method.facePass(pass);
    pass.frameOutput = nullptr;
    writer.WriteStartPart(*pass.out);
    // The counts of what the file holds start again; the cells' stay.
    pass.counts.vertices = pass.counts.quads = pass.counts.triangles = 0;
    if (going() && !CloseSurface(pass.geometry, pass.request.solidBase, mesh, facts)) pass.solidFailed = true;
    pass.writer = &writer;
    KeptVertices kept{&pass, &writer};
    if (writer.KeepsVertexBytes()) {
        pass.frameOutput = KeepVertexBytes;
        pass.frameContext = &kept;
    }
    if (going() && !pass.solidFailed) HandOverSurfaceVertices(pass, mesh);
    pass.frameOutput = nullptr;
    writer.WriteMiddlePart(*pass.out, pass.counts);
    if (going() && !pass.solidFailed) HandOverSurfaceTriangles(pass, mesh);
    SendProgress(hooks, JobPhase::Ended, 0.0);
    writer.WriteEndPart(*pass.out, pass.counts);
    pass.memory.Note(-keeper.noted);
}

// What the passes leave: a file to put in place, or the reason against it.
// Failures come first (the user cannot know of them); the cancel flag is read
// here once more, so a cancel that comes after the passes' last poll still
// keeps the file from replacing an earlier one.
JobOutcome OutcomeOfPasses(const GridPass& pass) {
    if (pass.out != nullptr && pass.out->failed) return JobOutcome::OutputNotWritten;
    if (pass.scratch.failed) return JobOutcome::ScratchNotWritten;
    if (pass.failedRow != 0) return JobOutcome::ReadFailed;
    if (pass.outOfMemory) return JobOutcome::RegionTooLarge;
    if (CancelRequested(pass)) return JobOutcome::Cancelled;
    return JobOutcome::Finished;
}


}  // namespace

bool OutputStandsComplete(const std::filesystem::path& path) {
    std::error_code error;
    const uintmax_t size = std::filesystem::is_regular_file(path, error) ? std::filesystem::file_size(path, error) : 0;
    if (error || size == 0) return false;
    std::FILE* file = OpenExistingFile(path);
    if (file == nullptr) return false;
    const std::filesystem::path extension = path.extension();
    bool complete = true;
    if (extension == ".png") complete = PngStandsComplete(file, static_cast<int64_t>(size));
    for (const MeshFormat* format : kMeshFormats) {
        if (extension == format->extension) complete = format->standsComplete(file, static_cast<int64_t>(size));
    }
    std::fclose(file);
    return complete;
}

std::wstring OutputFileName(const std::wstring& inputStem, MeshMethod method, MeshFormatKind format) {
    return inputStem + PassesOf(method).nameSuffix + FormatOf(format).extension;
}

std::string NarrowOutputName(const std::wstring& inputStem, MeshMethod method, MeshFormatKind format) {
    std::string name;
    for (wchar_t c : inputStem) {
        uint32_t code = static_cast<uint32_t>(c);
#ifndef _WIN32
        // A byte of a Linux name that is not UTF-8 rides in the stem as
        // U+DC80-U+DCFF: it is written back as that byte, as the file name has it.
        if (code >= 0xDC80 && code <= 0xDCFF) code -= 0xDC00;
#endif
        if (code > 0xFF) break;
        name.push_back(static_cast<char>(static_cast<unsigned char>(code)));
    }
    for (const wchar_t* s = PassesOf(method).nameSuffix; *s != L'\0'; ++s) name.push_back(static_cast<char>(*s));
    for (const wchar_t* s = FormatOf(format).extension; *s != L'\0'; ++s) name.push_back(static_cast<char>(*s));
    return name;
}

namespace {

void StartJobProgress(GridPass& pass, const JobHooks& hooks) {
    SendProgress(hooks, JobPhase::Started, 0.0);
    pass.cancelRequested = hooks.cancelRequested;
    pass.progress.context = const_cast<JobHooks*>(&hooks);
    pass.progress.setPosition = SendPosition;
}

float SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<float>(std::chrono::steady_clock::now() - start).count();
}

// A job's output files, written under temporary names and put in place
// together only when every one of them is finished: a job that fails half
// way leaves every earlier file as it was.
using JobOutputs = std::vector<std::unique_ptr<OutputFile>>;

// Opens one more output at `path` and writes it with `convert`. Memory that
// cannot be had anywhere in it fails the job, not the program.
template <typename Convert>
JobOutcome WriteOutput(JobOutputs& outputs, const std::filesystem::path& path, JobSummary& summary, Convert convert) {
    if (OutputNameTooLong(path)) {
        summary.outputPath = path;
        return JobOutcome::NameTooLong;
    }
    summary.staleFilesRemoved += RemoveStaleTemporaries(path);
    outputs.push_back(std::make_unique<OutputFile>());
    OutputFile& out = *outputs.back();
    JobOutcome outcome = JobOutcome::OutputNotWritten;
    try {
        if (OpenOutputFile(out, path)) outcome = convert(out);
    } catch (const std::bad_alloc&) {
        outcome = JobOutcome::RegionTooLarge;
    }
    if (outcome == JobOutcome::Finished && out.failed) outcome = JobOutcome::OutputNotWritten;
    if (outcome != JobOutcome::Finished) summary.outputPath = path;  // the message names the file
    return outcome;
}

// Puts every output in place when the job finished, else removes them all:
// all or none. An output that cannot be put in place takes back those placed
// before it, and their earlier files come back.
JobOutcome CommitOutputs(JobOutputs& outputs, JobOutcome outcome, JobSummary& summary) {
    if (outcome == JobOutcome::Finished) {
        for (std::size_t i = 0; i < outputs.size(); ++i) {
            if (!FinishOutputFile(*outputs[i])) {
                outcome = JobOutcome::OutputNotWritten;
                summary.outputPath = outputs[i]->finalPath;
                break;
            }
        }
    }
    if (outcome == JobOutcome::Finished) {
        std::size_t placed = 0;
        while (placed < outputs.size() && PlaceOutputFile(*outputs[placed])) ++placed;
        if (placed == outputs.size()) {
            for (const auto& out : outputs) ForgetEarlierFile(*out);
            return outcome;
        }
        outcome = JobOutcome::OutputNotWritten;
        summary.outputPath = outputs[placed]->finalPath;
        while (placed > 0) RestoreEarlierFile(*outputs[--placed]);
    }
    for (const auto& out : outputs) DiscardOutputFile(*out);
    return outcome;
}

// The mesh's passes into its open file. The pass record closes its scratch
// file however it ends.
JobOutcome ConvertMesh(const JobRequest& request, GridStream& input, const JobHooks& hooks, OutputFile& out,
                       JobSummary& summary, const MeshTexture& texture) {
    const auto start = std::chrono::steady_clock::now();
    MeshPass pass(input, &out, request);
    StartJobProgress(pass, hooks);
    pass.geometry = MakeMeshGeometry(request);
    const MeshMethodPasses& method = PassesOf(request.method);
    const std::unique_ptr<MeshWriter> writer =
        FormatOf(request.format).makeWriter(pass.geometry, FileInfoOf(pass, method, summary.outputName, texture), pass.memory);
    SolidFacts solid;
    if (request.solid) RunSolidPasses(pass, method, *writer, hooks, solid);
    else RunMeshPasses(pass, method, *writer, hooks);
    summary.solid = request.solid;
    for (int k = 0; k < 3; ++k) summary.solidSize[k] = solid.size[k];
    summary.solidVolume = solid.volume;
    summary.solidParts = solid.parts;
    summary.elapsedSeconds = SecondsSince(start);
    summary.counts = pass.counts;
    summary.failedRow = pass.failedRow;
    summary.peakBufferBytes = pass.memory.peak.load();
    summary.trueScale = pass.geometry.trueScale;
    summary.ground = pass.geometry.ground;
    summary.latitude = pass.geometry.latitude;
    summary.origin = static_cast<TrueScaleOrigin::Kind>(pass.geometry.originKind);
    summary.classicMisplaced = !pass.geometry.trueScale && ClassicMisplacesVertices(request);
    summary.maxError = request.maxError;
    summary.maxErrorReached = pass.maxErrorReached;
    summary.interpolatedVertices = pass.interpolatedVertices;
    summary.largestRegionCells = pass.largestRegionCells;
    // A surface a method made always closes: a failure here is ours, and
    // the file is not a result.
    if (pass.solidFailed && OutcomeOfPasses(pass) == JobOutcome::Finished) return JobOutcome::OutputNotWritten;
    return OutcomeOfPasses(pass);
}

// The height bitmap's passes into its open file; a bitmap on its own gives
// the summary its counts and time.
JobOutcome ConvertHeightBitmap(const JobRequest& request, GridStream& input, const JobHooks& hooks, OutputFile& out,
                               JobSummary& summary) {
    const auto start = std::chrono::steady_clock::now();
    GridPass pass(input, &out, request.header, request.region, request.workers);
    StartJobProgress(pass, hooks);
    SetStatus(hooks, kStatusWritingHeightBitmap);
    RunHeightBitmapPasses(pass, summary.heightRange, request.heightRange.any ? &request.heightRange : nullptr);
    SendProgress(hooks, JobPhase::Ended, 0.0);
    if (!request.writeMesh) {
        summary.elapsedSeconds = SecondsSince(start);
        summary.counts = pass.counts;
        summary.failedRow = pass.failedRow;
        summary.peakBufferBytes = pass.memory.peak.load();
    } else if (pass.failedRow != 0) {
        summary.failedRow = pass.failedRow;
    }
    return OutcomeOfPasses(pass);
}

JobOutcome WriteHeightBitmap(const JobRequest& request, GridStream& input, const JobHooks& hooks, JobOutputs& outputs,
                             JobSummary& summary) {
    const std::filesystem::path folder = request.outputDir;
    summary.heightBitmapPath = folder / WidePath(request.inputStem + kHeightBitmapSuffix);
    JobOutcome outcome = WriteOutput(outputs, summary.heightBitmapPath, summary, [&](OutputFile& out) {
        return ConvertHeightBitmap(request, input, hooks, out, summary);
    });
    if (outcome != JobOutcome::Finished) return outcome;
    // The world file places the bitmap where the grid lies.
    const std::filesystem::path world = folder / WidePath(request.inputStem + kWorldFileSuffix);
    outcome = WriteOutput(outputs, world, summary, [&](OutputFile& out) {
        WriteOutputText(out, WorldFileText(request.header, request.region));
        return JobOutcome::Finished;
    });
    summary.heightBitmap = outcome == JobOutcome::Finished;
    return outcome;
}

// The preview's file: the one asked for, else named after the grid's stem.
std::filesystem::path PreviewPathOf(const JobRequest& request) {
    return !request.previewPath.empty() ? request.previewPath
                                        : request.outputDir / WidePath(request.inputStem + kPreviewSuffix);
}

// The terrain preview of the whole grid, read once more from the data's start.
JobOutcome WritePreview(const JobRequest& request, GridStream& input, const JobHooks& hooks, JobOutputs& outputs,
                        JobSummary& summary) {
    summary.previewPath = PreviewPathOf(request);
    const JobOutcome outcome = WriteOutput(outputs, summary.previewPath, summary, [&](OutputFile& out) {
        TerrainPreview preview;
        if (!RenderTerrainPreview(input, request.header, request.previewWidth, request.previewHeight, PreviewColours{},
                                  hooks.cancelRequested, preview, request.workers))
            return hooks.cancelRequested != nullptr && hooks.cancelRequested->load() ? JobOutcome::Cancelled
                                                                                     : JobOutcome::ReadFailed;
        WritePreviewPng(out, preview);
        return JobOutcome::Finished;
    });
    summary.preview = outcome == JobOutcome::Finished;
    return outcome;
}

// The relief's size in pixels: as asked, else one a cell of the region.
void ReliefSize(const JobRequest& request, int64_t& width, int64_t& height) {
    const RegionWindow& r = request.region;
    width = request.textureWidth > 0 ? request.textureWidth : int64_t{r.xMax} - r.xMin + 1;
    height = request.textureHeight > 0 ? request.textureHeight : int64_t{r.yMax} - r.yMin + 1;
}

// The texture the request asks for, before anything is written: where the
// region lands on it and how the mesh names it; why not, when it cannot.
std::string PrepareTexture(const JobRequest& request, JobSummary& summary, MeshTexture& texture) {
    if (!request.writeMesh || request.texture == TextureChoice::None) return "";
    if (!FormatHoldsTexture(request.format)) return "an STL file holds no texture";
    if (request.texture == TextureChoice::Relief) {
        int64_t width = 0, height = 0;
        ReliefSize(request, width, height);
        if (!ReliefSizeAllowed(width, height))
            return "a relief of " + std::to_string(width) + " x " + std::to_string(height) + " pixels is more than " +
                   std::to_string(kMaxReliefSide) + " a side or " + std::to_string(kMaxReliefPixels) +
                   " pixels in all: give it a smaller size";
        texture = ReliefTexture(request.region);
        texture.image = request.outputDir / WidePath(request.inputStem + kReliefTextureSuffix);
        texture.mimeType = ImageMimeType(ImageKind::Png);
        texture.reference = Utf8Path(texture.image.filename());
    } else {
        ImageInfo image;
        std::string problem;
        if (!ImageTextureOf(request, texture, image, problem)) return problem;
        texture.reference = TextureReference(request.texturePath, request.outputDir);
        summary.textureTooLarge = image.kind == ImageKind::Jpeg &&
                                  std::max(image.width, image.height) > kLargestTextureSide;
        summary.textureCoverage = TextureCoverage(texture, request.region);
    }
    texture.on = true;
    summary.texturePath = texture.image;
    return "";
}

// The relief's picture, read once more from the data's start; its size
// is the file's from then on.
JobOutcome WriteRelief(const JobRequest& request, GridStream& input, const JobHooks& hooks, JobOutputs& outputs,
                       JobSummary& summary, MeshTexture& texture) {
    int64_t width = 0, height = 0;  // allowed sizes (PrepareTexture)
    ReliefSize(request, width, height);
    return WriteOutput(outputs, texture.image, summary, [&](OutputFile& out) {
        TerrainPreview relief;
        if (!RenderRegionRelief(input, request.header, request.region, static_cast<int>(width), static_cast<int>(height),
                                PreviewColours{}, hooks.cancelRequested, relief, request.workers))
            return hooks.cancelRequested != nullptr && hooks.cancelRequested->load() ? JobOutcome::Cancelled
                                                                                     : JobOutcome::ReadFailed;
        WritePreviewPng(out, relief);
        FlushOutputFile(out);
        // A GLB embeds it from its temporary file: all outputs are placed together, at the end.
        texture.image = out.temporaryPath;
        texture.imageBytes = out.written;
        return JobOutcome::Finished;
    });
}

// Why a solid cannot be built as asked.
std::string SolidProblem(const JobRequest& request) {
    if (!request.writeMesh || !request.solid) return "";
    if (request.method == FloatingPlanes) return "a solid for 3D printing is built by Interpolated or Simplified";
    if (!(request.solidBase > 0.0) || !std::isfinite(request.solidBase))
        return "a solid's base must be more than 0 below the lowest height";
    return "";
}

// An image no relative path reaches is copied beside the mesh, which names
// the copy.
JobOutcome CopyTextureBeside(const JobRequest& request, JobOutputs& outputs, JobSummary& summary, MeshTexture& texture) {
    const std::filesystem::path copy =
        request.outputDir / WidePath(request.inputStem + L"__texture" + PathToWide(texture.image.extension()));
    const JobOutcome outcome = WriteOutput(outputs, copy, summary, [&](OutputFile& out) {
        return CopyFileInto(out, texture.image, texture.imageBytes) ? JobOutcome::Finished : JobOutcome::ReadFailed;
    });
    texture.reference = Utf8Path(copy.filename());
    return outcome;
}

}  // namespace

JobSummary RunConversionJob(const JobRequest& request, GridStream& input, const JobHooks& hooks) {
    JobSummary summary = NamedSummary(request);
    MeshTexture texture;
    if (summary.refusal.empty()) summary.refusal = SolidProblem(request);
    if (summary.refusal.empty()) summary.refusal = PrepareTexture(request, summary, texture);
    if (summary.refusal.empty() && request.writeMesh) {
        // The relief is not written yet: its PNG is judged by its raw size, 3 bytes a pixel.
        int64_t width = 0, height = 0;
        ReliefSize(request, width, height);
        const int64_t embedded = request.texture == TextureChoice::Relief ? 3 * width * height : texture.imageBytes;
        summary.refusal = FormatLimitProblem(request, embedded);
    }
    // A closed stream (a grid that could not be reopened) would read as a
    // file without rows, all holes: refused. A stream that fails is the
    // passes' to report, at the row where reading fails.
    JobOutputs outputs;
    if (!summary.refusal.empty()) {
        summary.outcome = JobOutcome::Refused;
    } else if (!IsGridStreamOpen(input)) {
        summary.outcome = JobOutcome::ReadFailed;
    } else {
        const int64_t dataStart = GridStreamPosition(input);
        if (request.writeMesh && request.texture == TextureChoice::Relief) {
            summary.outcome = WriteRelief(request, input, hooks, outputs, summary, texture);
            if (summary.outcome == JobOutcome::Finished && !SeekGridStream(input, dataStart))
                summary.outcome = JobOutcome::ReadFailed;
        }
        // Only a GLB embeds the image; the others name it.
        if (texture.on && texture.reference.empty() && request.format != MeshFormatKind::Glb &&
            summary.outcome == JobOutcome::Finished)
            summary.outcome = CopyTextureBeside(request, outputs, summary, texture);
        if (request.writeMesh && summary.outcome == JobOutcome::Finished) {
            summary.outcome = WriteOutput(outputs, summary.outputPath, summary, [&](OutputFile& out) {
                return ConvertMesh(request, input, hooks, out, summary, texture);
            });
        }
        if (texture.on && request.format == MeshFormatKind::Obj && summary.outcome == JobOutcome::Finished) {
            std::filesystem::path library = summary.outputPath;
            library.replace_extension(".mtl");
            summary.outcome = WriteOutput(outputs, library, summary, [&](OutputFile& out) {
                WriteOutputText(out, MaterialLibraryText(texture));
                return JobOutcome::Finished;
            });
        }
        if (request.writeHeightBitmap && summary.outcome == JobOutcome::Finished) {
            if (!request.writeMesh) summary.outputPath = request.outputDir / WidePath(request.inputStem + kHeightBitmapSuffix);
            summary.outcome = SeekGridStream(input, dataStart)
                                  ? WriteHeightBitmap(request, input, hooks, outputs, summary)
                                  : JobOutcome::ReadFailed;
        }
        if (request.writePreview && summary.outcome == JobOutcome::Finished) {
            if (!request.writeMesh && !request.writeHeightBitmap) summary.outputPath = PreviewPathOf(request);
            summary.outcome = SeekGridStream(input, dataStart) ? WritePreview(request, input, hooks, outputs, summary)
                                                               : JobOutcome::ReadFailed;
        }
        summary.outcome = CommitOutputs(outputs, summary.outcome, summary);
    }
    CloseGridStream(input);
    return Finish(hooks, summary);
}

namespace {

// How True scale took the grid's coordinates.
std::wstring TrueScaleText(const JobSummary& summary) {
    std::wstring text = summary.origin == TrueScaleOrigin::TileSetCorner ? L"True scale, from the tile set's south-west corner: "
                        : summary.origin == TrueScaleOrigin::Given   ? L"True scale, from the origin given: "
                                                                     : L"True scale, from the region's south-west corner: ";
    switch (summary.ground.unit) {
    case GroundUnit::Degrees:
        text += L"the grid's cells were taken as degrees" +
                std::wstring(!summary.ground.guessed ? L""
                             : summary.projectionUnreadable
                                 ? L" (its .prj file says nothing understood; its cell size and extent are those of degrees)"
                                 : L" (no .prj file beside it; its cell size and extent are those of degrees)") +
                L" and turned into metres at latitude " + Fixed2Text(static_cast<float>(summary.latitude)) + L".";
        break;
    case GroundUnit::Feet: text += L"positions and heights were converted from feet."; break;
    case GroundUnit::UsSurveyFeet: text += L"positions and heights were converted from US survey feet."; break;
    case GroundUnit::Metres: text += L"the grid's coordinates and heights were taken as metres."; break;
    case GroundUnit::OtherLength:
        text += L"positions and heights were converted from the .prj file's unit of " +
                WideText(ShortestText(summary.ground.metresPerUnit)) + L" m.";
        break;
    }
    return text;
}

}  // namespace

std::wstring GeometryText(const JobSummary& summary) {
    std::vector<std::wstring> notes;
    if (summary.projectionUnreadable)
        notes.push_back(L"The .prj file beside the grid could not be understood; its coordinates were taken as "
                        L"without one.");
    if (summary.classicCentre)
        notes.push_back(L"The grid's header gives the centre of its lower-left cell; the classic geometry places "
                        L"its vertices from it as from the corner (the True scale geometry and the height "
                        L"bitmap's world file take the corner half a cell away).");
    if (summary.classicMisplaced)
        notes.push_back(L"In the classic geometry some vertices of this grid fall on one another or off their cells "
                        L"(its coordinates are too large or its cells too small for it); the True scale geometry "
                        L"places every one.");
    else if (summary.trueScale)
        notes.push_back(TrueScaleText(summary));
    std::wstring text;
    for (const std::wstring& note : notes) text += (text.empty() ? L"" : L" ") + note;
    return text;
}

std::wstring SolidText(const JobSummary& summary) {
    if (!summary.solid || summary.outcome != JobOutcome::Finished) return L"";
    const auto size = [](double value) {
        wchar_t text[48];
        std::swprintf(text, 48, L"%.1f", value);
        return std::wstring(text);
    };
    const int64_t parts = summary.solidParts;
    return L"Solid for 3D printing: " + size(summary.solidSize[0]) + L" x " + size(summary.solidSize[1]) + L" x " +
           size(summary.solidSize[2]) + L" mm as slicers read its units, " + FormatGrouped(parts) +
           (parts == 1 ? L" part" : L" parts") + L", volume " + size(summary.solidVolume / 1000.0) + L" cm\u00b3.";
}

std::wstring TextureText(const JobSummary& summary) {
    if (summary.texture == TextureChoice::None || summary.texturePath.empty()) return L"";
    std::wstring text = L"Texture: " + PathToWide(summary.texturePath.filename()) +
                        (summary.texture == TextureChoice::Relief ? L" (shaded relief)." : L".");
    if (summary.textureCoverage < 1.0) {
        wchar_t share[32];
        std::swprintf(share, 32, L"%.1f", 100.0 * summary.textureCoverage);
        text += L" It covers " + std::wstring(share) + L" % of the region; the rest of the mesh lies beyond its edges.";
    }
    if (summary.textureTooLarge)
        text += L" The JPEG is more than 16,384 pixels a side, which many 3D applications cannot load as a texture.";
    return text;
}

bool TextureWarns(const JobSummary& summary) {
    return summary.texture != TextureChoice::None && (summary.textureCoverage < 1.0 || summary.textureTooLarge);
}

bool GeometryWarns(const JobSummary& summary) {
    return summary.classicMisplaced || summary.classicCentre || summary.projectionUnreadable;
}

std::wstring StaleFilesText(int count) {
    return L"Removed " + std::to_wstring(count) + (count == 1 ? L" temporary file" : L" temporary files") +
           L" of this output left by an interrupted conversion.";
}

std::wstring FormatShownName(MeshFormatKind format) {
    std::wstring name;
    for (const char* c = MeshFormatName(format); *c != '\0'; ++c) {
        name += static_cast<wchar_t>(std::toupper(static_cast<unsigned char>(*c)));
    }
    return name;
}

std::wstring MissingCellsText(int64_t missingCount) {
    return L"The grid file held " + FormatGrouped(missingCount) +
           L" fewer values than its header promised; those cells are holes.";
}

namespace {

constexpr wchar_t kEarlierFileKept[] = L"Any earlier file of that name is unchanged.";

SummaryMessage FailureMessage(std::wstring text) {
    SummaryMessage message;
    message.warning = true;
    message.caption = L"Converting failed...";
    message.text = std::move(text);
    return message;
}

std::wstring CountsText(const JobSummary& summary) {
    const JobCounts& counts = summary.counts;
    const std::wstring time = L"Conversion time: " + Fixed2Text(summary.elapsedSeconds) + L" seconds.\n\n";
    const std::wstring nodata = L"No data value: " + FormatGrouped(counts.nodata);
    if (!summary.mesh) return time + nodata;
    if (summary.method == Simplified) {
        const int64_t full = std::max<int64_t>(summary.interpolatedVertices, 1);
        return time + L"Vertices: " + FormatGrouped(counts.vertices) + L"\nTriangles: " + FormatGrouped(counts.triangles) +
               L"\n\nLargest height error: " + Fixed2Text(static_cast<float>(summary.maxErrorReached)) + L" (at most " +
               Fixed2Text(static_cast<float>(summary.maxError)) + L")\nThe full surface has " +
               FormatGrouped(summary.interpolatedVertices) + L" vertices: this is " +
               Fixed2Text(static_cast<float>(100.0 * static_cast<double>(counts.vertices) / static_cast<double>(full))) +
               L" % of them.\n\n" + nodata;
    }
    return time + L"Vertices: " + FormatGrouped(counts.vertices) + L"\nTriangles: " + FormatGrouped(2 * counts.quads) +
           L"\nQuads " + FormatGrouped(counts.quads) + L"\n\n" + nodata;
}

// The bitmap's file and how its heights map to gray values.
std::wstring HeightBitmapText(const JobSummary& summary) {
    const HeightRange& range = summary.heightRange;
    std::wstring text = L"Height bitmap: " + PathToWide(summary.heightBitmapPath) + L"\n";
    if (!range.any) return text + L"The region holds no valid height: every pixel is 0.";
    return text + L"Heights " + Fixed2Text(range.lowest) + L" to " + Fixed2Text(range.highest) +
           L" map to gray 1 to 65 535; no data and holes are 0.";
}

// The line that names the mesh's format and its vertex normals, before its
// file's name; none for an OBJ without normals, which the summary always
// stood for.
std::wstring FormatLine(const JobSummary& summary) {
    if (summary.format == MeshFormatKind::Obj && !summary.normals) return L"";
    return L"\n\nFormat: " + FormatShownName(summary.format) + (summary.normals ? L", with vertex normals" : L"");
}

}  // namespace

SummaryMessage FormatJobSummary(const JobSummary& summary) {
    const std::wstring file = L"\"" + PathToWide(summary.outputPath) + L"\"";
    SummaryMessage message;
    switch (summary.outcome) {
    case JobOutcome::NameTooLong:
        return FailureMessage(L"The file " + file + L" could not be written: its name is " +
                              std::to_wstring(OutputNameLength(summary.outputPath)) + L" characters long, and a "
                              L"file name may have at most " + std::to_wstring(kMaxOutputNameLength) +
                              L".\n\nPlease give the grid file a shorter name. " + kEarlierFileKept);
    case JobOutcome::Refused:
        return FailureMessage(L"The grid file is not converted: " + WideText(summary.refusal) +
                              L".\n\nNo file was written.");
    case JobOutcome::OutputNotWritten:
        return FailureMessage(L"The file " + file +
                              L" could not be written.\n\nPlease check that its folder is writable, that no "
                              L"other program has the file open and that the disk has room for it. " +
                              kEarlierFileKept);
    case JobOutcome::ScratchNotWritten:
        return FailureMessage(L"The file " + file +
                              L" was not written: the working file the conversion keeps beside it could not "
                              L"be written.\n\nPlease check that the disk has room for it. " + kEarlierFileKept);
    case JobOutcome::RegionTooLarge:
        if (summary.method == Simplified && summary.largestRegionCells > 0)
            return FailureMessage(L"The region is too large for the Simplified method: its heights must fit in "
                                  L"memory, and this machine has room for about " +
                                  FormatGrouped(summary.largestRegionCells) +
                                  L" cells (for instance " + FormatGrouped(static_cast<int64_t>(std::sqrt(
                                      static_cast<double>(summary.largestRegionCells)))) +
                                  L" x the same).\n\nPlease choose a smaller region. No file was written.");
        if (summary.method == FloatingPlanes)
            return FailureMessage(L"There is not enough memory for a row of this grid file.\n\nPlease "
                                  L"choose a smaller region. No file was written.");
        if (summary.method == Simplified)
            return FailureMessage(L"The region is too large for the Simplified method: there is not enough "
                                  L"memory for it.\n\nPlease choose a smaller region or the Interpolated method. "
                                  L"No file was written.");
        return FailureMessage(L"The region is too large for the Interpolated method: there is not "
                              L"enough memory for it.\n\nPlease choose a smaller region or the "
                              L"Floating planes method. No file was written.");
    case JobOutcome::ReadFailed: {
        const std::wstring where = summary.failedRow > 0 ? L" at row " + std::to_wstring(summary.failedRow) : L"";
        return FailureMessage(L"The grid file could not be read" + where + L", so the file " + file +
                              L" was not written.\n\nPlease check that the grid file is complete and "
                              L"readable, then select it again. " + kEarlierFileKept);
    }
    case JobOutcome::Cancelled:
        message.caption = L"Converting cancelled...";
        message.text = L"---CANCELLED---\n" + CountsText(summary) + L"\n---CANCELLED---\n\nNo file was written.";
        return message;
    case JobOutcome::Finished: break;
    }
    message.caption = L"Converting done...";
    message.text = CountsText(summary);
    if (summary.counts.missing > 0) {
        // Cells the file did not supply are holes in the mesh: worth a warning.
        message.warning = true;
        message.text += L"\n\n" + MissingCellsText(summary.counts.missing);
    }
    const std::wstring geometry = GeometryText(summary);
    if (!geometry.empty()) {
        // The classic geometry misplacing vertices, and a georeference taken
        // other than the file says, are worth a warning.
        message.warning = message.warning || GeometryWarns(summary);
        message.text += L"\n\n" + geometry;
    }
    if (summary.heightBitmap) message.text += L"\n\n" + HeightBitmapText(summary);
    const std::wstring texture = TextureText(summary);
    if (!texture.empty() && summary.outcome == JobOutcome::Finished) {
        message.text += L"\n\n" + texture;
        message.warning = message.warning || TextureWarns(summary);
    }
    const std::wstring solid = SolidText(summary);
    if (!solid.empty()) message.text += L"\n\n" + solid;
    if (summary.mesh) message.text += FormatLine(summary) + L"\n\nFile: " + PathToWide(summary.outputPath);
    if (summary.staleFilesRemoved > 0) message.text += L"\n\n" + StaleFilesText(summary.staleFilesRemoved);
    return message;
}
