#include "tools/convert_options.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "grid/region_estimates.h"
#include "picture/texture_image.h"
#include "job/job_pipeline.h"

namespace {

struct OptionInfo {
    const char* name;
    std::size_t values;  // how many values follow it
    const char* shape;   // its values, as the help shows them
    const char* needs;   // what a missing value should have been
    const char* help;
};

static_assert(kMaxWorkers == 64 && kMaxFilesAtOnce == 1024, "the help below names both limits");

constexpr OptionInfo kOptions[] = {
    {"--method", 1, "interpolated|floating|simplified", "a value: interpolated, floating or simplified",
     "one mesh on the cell corners (default), a square per cell, or the corners' mesh in fewer triangles"},
    {"--max-error", 1, "E", "a value: the largest height error, 0 or more",
     "simplified: every corner within E of the mesh, in the grid's height unit (default 0.5)"},
    {"--region", 4, "XMIN YMIN XMAX YMAX", "four values: XMIN YMIN XMAX YMAX",
     "only these columns and rows (from 1; row 1 is the north edge)"},
    {"--units", 1, "U", "a value: meters per 3D unit", "meters in one unit of the 3D application (default 1)"},
    {"--geometry", 1, "classic|true", "a value: classic or true",
     "classic (default) or true scale (metres, degrees and feet converted)"},
    {"--up", 1, "z|y", "a value: z or y", "the up axis of true scale (default z; classic is z up)"},
    {"--format", 1, "obj|glb|ply|stl", "a value: obj, glb, ply or stl",
     "the mesh file: OBJ text (default), or binary glTF (y up), PLY or STL (z up), all three true scale"},
    {"--normals", 0, "", "", "vertex normals in an OBJ or PLY file (a GLB always has them, an STL its facets')"},
    {"--timestamp", 1, "\"YYYY-MM-DD, HH:MM\"", "a value: \"YYYY-MM-DD, HH:MM\"",
     "the time in each OBJ file's header (default: now)"},
    {"--outdir", 1, "DIR", "a value: a folder", "write the output files into DIR (default: beside each grid)"},
    {"--heightmap", 0, "", "", "also a 16-bit height bitmap (PNG and world file) beside each OBJ"},
    {"--heightmap-only", 0, "", "", "only the height bitmap and its world file, no OBJ"},
    {"--from", 1, "LIST", "a value: a file listing grids, or - for standard input",
     "also convert the grid files LIST names, one per line (-: standard input)"},
    {"--skip-existing", 0, "", "", "skip a file whose outputs already stand complete"},
    {"--slice", 1, "K/N", "a value: K/N, the K-th of N slices",
     "only every N-th file of the sorted list, from the K-th (1 <= K <= N)"},
    {"--log", 1, "FILE", "a value: a file", "append a tab-separated line per file to FILE (path, outcome, counts)"},
    {"--jobs", 1, "N", "a value: files at a time, 1 to 1024", "files converted at a time, 1 to 1024 (default: one per core)"},
    {"--workers", 1, "N", "a value: threads per file, 1 to 64",
     "threads per file, 1 to 64 (default: the cores shared among the files)"},
    {"--progress", 0, "", "", "progress as plain lines off a terminal (a terminal always shows it)"},
    {"--preview", 1, "PNG", "a value: the picture file to write",
     "write the window's terrain preview of the one grid given as PNG, and nothing else"},
    {"--solid", 1, "BASE", "a value: the base below the lowest height, more than 0",
     "a closed solid for 3D printing: walls and a flat bottom BASE units below the lowest height"},
    {"--exaggerate", 1, "Z", "a value: the factor, more than 0", "multiply the heights by Z (default 1)"},
    {"--fit-mm", 1, "W", "a value: the size in millimetres, more than 0",
     "scale the model so that the region's longer side is W units, as slicers read millimetres (true scale)"},
    {"--texture", 1, "IMAGE|relief", "a value: an image with its world file, or relief",
     "drape the mesh with a PNG or JPEG placed by its world file, or with a shaded relief of the region"},
    {"--texture-size", 2, "W H", "two values: the relief's width and height",
     "the relief texture's size in pixels (default: one a cell)"},
    {"--preview-size", 2, "W H", "two values: the picture's width and height",
     "the preview's size in pixels (default 388 124, the window's)"},
    {"--tile-set", 0, "", "",
     "the grids given (all of them, every slice's too) are tiles of one terrain: edges joined, one origin"},
    {"--origin", 2, "X Y", "two values: X and Y in the grid's coordinates",
     "true scale measures from X Y in the grid's coordinates (default: the region's or set's south-west corner)"},
    {"--height-range", 2, "LO HI", "two values: the lowest and the highest height",
     "the height bitmap maps LO to HI to gray 1 to 65535 (default: the grid's range, a tile set's own)"},
};

const OptionInfo* FindOption(const std::string& name) {
    for (const OptionInfo& option : kOptions)
        if (name == option.name) return &option;
    return nullptr;
}

// A value as it may be shown on one line: control characters become '?'.
std::string Visible(std::string text) {
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return "\"" + text + "\"";
}

// Every numeric option's text: plain decimal digits, nothing around them (no
// spaces, '+', hex, exponent, inf or nan); a leading '-' only with `minus`, a
// '.' with digits on both sides only with `fraction`.
bool ParsePlainNumber(const std::string& text, bool minus, bool fraction, double& value) {
    std::size_t at = minus && !text.empty() && text[0] == '-' ? 1 : 0;
    const auto digits = [&text, &at] {
        const std::size_t from = at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
        return at > from;
    };
    if (!digits()) return false;
    if (fraction && at < text.size() && text[at] == '.') {
        ++at;
        if (!digits()) return false;
    }
    if (at != text.size()) return false;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return *end == '\0' && std::isfinite(value);
}

// A whole number that fits 32 bits, negative only with `minus`.
bool ParseInt(const std::string& text, int32_t& value, bool minus = false) {
    double number = 0;
    if (!ParsePlainNumber(text, minus, false, number) || number < INT32_MIN || number > INT32_MAX) return false;
    value = static_cast<int32_t>(number);
    return true;
}

// A decimal of 0 or more: the value the window reads from the same text.
bool ParseDecimal(const std::string& text, double& value) { return ParsePlainNumber(text, false, true, value); }

// One option with its values (`values` holds as many as it takes).
bool ParseOption(const std::string& name, const std::vector<ArgText>& args, std::size_t first, Options& o,
                 std::string& problem) {
    const std::string value = first < args.size() ? Ascii(args[first]) : "";
    const auto fail = [&problem](std::string text) { return problem = std::move(text), false; };
    if (name == "--method") {
        if (value == "interpolated") o.method = Interpolated;
        else if (value == "floating") o.method = FloatingPlanes;
        else if (value == "simplified") o.method = Simplified;
        else return fail("unknown method " + Visible(value) + ": interpolated, floating or simplified");
    } else if (name == "--max-error") {
        if (!ParseDecimal(value, o.maxError))
            return fail("--max-error must be a number of 0 or more, not " + Visible(value));
    } else if (name == "--region") {
        // Limits below 1 are read, for the message that names the bound.
        RegionWindow& r = o.region;
        int32_t* limits[] = {&r.xMin, &r.yMin, &r.xMax, &r.yMax};
        for (std::size_t i = 0; i < 4; ++i)
            if (!ParseInt(Ascii(args[first + i]), *limits[i], true))
                return fail("region limits must be integers, not " + Visible(Ascii(args[first + i])));
        if (r.xMin > r.xMax)
            return fail("--region: X min " + std::to_string(r.xMin) + " is above X max " + std::to_string(r.xMax));
        if (r.yMin > r.yMax)
            return fail("--region: Y min " + std::to_string(r.yMin) + " is above Y max " + std::to_string(r.yMax));
        o.wholeGrid = false;
    } else if (name == "--preview") {
        if (args[first].empty()) return fail("--preview needs a picture file name");
        o.preview = std::filesystem::path(args[first]);
    } else if (name == "--exaggerate" || name == "--fit-mm" || name == "--solid") {
        double number = 0;
        if (!ParseDecimal(value, number) || !(number > 0) || !std::isfinite(number) || number > 1e6)
            return fail(name + " needs a number more than 0, not " + Visible(value));
        if (name == "--solid") o.solid = true;
        (name == "--exaggerate" ? o.exaggerate : name == "--fit-mm" ? o.fitMillimetres : o.solidBase) = number;
    } else if (name == "--texture") {
        if (args[first].empty()) return fail("--texture needs an image file, or relief");
        o.texture = value == "relief" ? TextureChoice::Relief : TextureChoice::Image;
        if (o.texture == TextureChoice::Image) o.texturePath = std::filesystem::path(args[first]);
    } else if (name == "--texture-size") {
        if (!ParseInt(value, o.textureWidth) || !ParseInt(Ascii(args[first + 1]), o.textureHeight) ||
            o.textureWidth < 1 || o.textureHeight < 1 || o.textureWidth > 16384 || o.textureHeight > 16384)
            return fail("--texture-size needs a width and a height of 1 to 16384 pixels");
    } else if (name == "--preview-size") {
        if (!ParseInt(value, o.previewWidth) || !ParseInt(Ascii(args[first + 1]), o.previewHeight) ||
            o.previewWidth < 1 || o.previewHeight < 1 || o.previewWidth > 8192 || o.previewHeight > 8192)
            return fail("--preview-size needs a width and a height of 1 to 8192 pixels");
    } else if (name == "--units") {
        double units = 0;
        if (!ParseDecimal(value, units) || !UnitsAreUsable(static_cast<float>(units)))
            return fail("units must be a positive number of meters, not " + Visible(value));
        o.unitMeters = static_cast<float>(units);
        o.unitsGiven = true;
    } else if (name == "--format") {
        if (!MeshFormatNamed(value, o.format)) return fail("unknown format " + Visible(value) + ": obj, glb, ply or stl");
    } else if (name == "--geometry") {
        o.geometryGiven = true;
        if (value == "classic") o.geometry = ClassicGeometry;
        else if (value == "true") o.geometry = TrueScaleGeometry;
        else return fail("unknown geometry " + Visible(value) + ": classic or true");
    } else if (name == "--up") {
        if (value == "z") o.up = ZUp;
        else if (value == "y") o.up = YUp;
        else return fail("unknown up axis " + Visible(value) + ": z or y");
    } else if (name == "--timestamp") {
        if (!IsValidTimestamp(value))
            return fail("--timestamp needs \"YYYY-MM-DD, HH:MM\" with a real date and time, not " + Visible(value));
        o.timestamp = value;
    } else if (name == "--outdir") {
        if (args[first].empty()) return fail("--outdir needs a folder name");
        o.outdir = std::filesystem::path(args[first]);
    } else if (name == "--jobs") {
        int32_t jobs = 0;
        if (!ParseInt(value, jobs) || jobs < 1 || jobs > kMaxFilesAtOnce)
            return fail("--jobs needs a count of files at a time from 1 to " + std::to_string(kMaxFilesAtOnce) +
                        ", not " + Visible(value));
        o.jobs = static_cast<unsigned>(jobs);
    } else if (name == "--workers") {
        if (!ParseInt(value, o.workers) || o.workers < 1 || o.workers > kMaxWorkers)
            return fail("--workers needs a count of threads per file from 1 to " + std::to_string(kMaxWorkers) +
                        ", not " + Visible(value));
    } else if (name == "--progress") {
        o.progress = true;
    } else if (name == "--heightmap") {
        o.heightBitmap = true;
    } else if (name == "--heightmap-only") {
        o.heightBitmap = true;
        o.mesh = false;
    } else if (name == "--from") {
        if (args[first].empty()) return fail("--from needs a list file, or - for standard input");
        o.lists.push_back(args[first]);
    } else if (name == "--skip-existing") {
        o.skipExisting = true;
    } else if (name == "--normals") {
        o.normals = true;
    } else if (name == "--slice") {
        const std::size_t slash = value.find('/');
        if (slash == std::string::npos || !ParseInt(value.substr(0, slash), o.slice) ||
            !ParseInt(value.substr(slash + 1), o.slices) || o.slice < 1 || o.slice > o.slices)
            return fail("--slice needs K/N with 1 <= K <= N, not " + Visible(value));
    } else if (name == "--tile-set") {
        o.tileSet = true;
    } else if (name == "--origin") {
        if (!ParsePlainNumber(value, true, true, o.originX) || !ParsePlainNumber(Ascii(args[first + 1]), true, true, o.originY))
            return fail("--origin needs two numbers, X and Y in the grid's coordinates");
        o.originGiven = true;
    } else if (name == "--height-range") {
        if (!ParsePlainNumber(value, true, true, o.heightLow) || !ParsePlainNumber(Ascii(args[first + 1]), true, true, o.heightHigh) ||
            !(o.heightLow < o.heightHigh) || std::fabs(o.heightLow) > 3e38 || std::fabs(o.heightHigh) > 3e38)
            return fail("--height-range needs two heights, the lowest below the highest");
        o.heightRangeGiven = true;
    } else if (name == "--log") {
        if (args[first].empty()) return fail("--log needs a file name");
        o.log = std::filesystem::path(args[first]);
    }
    return true;
}

}  // namespace

std::string Ascii(const ArgText& arg) {
    std::string text;
    for (auto c : arg) text.push_back(static_cast<uint32_t>(c) < 0x80 ? static_cast<char>(c) : '?');
    return text;
}

bool ParseOptions(const std::vector<ArgText>& args, Options& o, std::string& problem) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string arg = Ascii(args[i]);
        if (arg == "--help" || arg == "-h" || arg == "/?") return o.help = true;
        const OptionInfo* option = FindOption(arg);
        if (option == nullptr) {
            if (arg.empty()) return problem = "an empty argument names no file", false;
            if (arg[0] == '-') return problem = "unknown option " + Visible(arg) + " (--help lists the options)", false;
            o.grids.push_back(args[i]);
            continue;
        }
        if (args.size() - i - 1 < option->values) return problem = arg + " needs " + option->needs, false;
        if (!ParseOption(arg, args, i + 1, o, problem)) return false;
        i += option->values;
    }
    if (o.grids.empty() && o.lists.empty()) return problem = "no grid file given", false;
    if (o.fitMillimetres > 0) {
        if (o.unitsGiven) return problem = "--fit-mm does not go with --units: the size it fits to sets the units", false;
        if (o.geometryGiven && o.geometry == ClassicGeometry)
            return problem = "--fit-mm needs --geometry true: it scales true distances", false;
        o.geometry = TrueScaleGeometry;
    }
    if (IsBinaryFormat(o.format)) {
        if (o.geometryGiven && o.geometry == ClassicGeometry)
            return problem = "--format " + std::string(MeshFormatName(o.format)) + " needs --geometry true: the binary formats are true scale", false;
        o.geometry = TrueScaleGeometry;
    }
    if (o.texture != TextureChoice::None) {
        if (!FormatHoldsTexture(o.format)) return problem = "--texture does not go with --format stl: an STL file holds no texture", false;
        if (!o.mesh) return problem = "--texture drapes a mesh: not with --heightmap-only", false;
        if (o.texture == TextureChoice::Image) {
            ImageInfo image;
            WorldFile world;
            std::filesystem::path found;
            std::string why;
            if (!ReadImageInfo(o.texturePath, image, why) || !ReadWorldFileOf(o.texturePath, world, found, why))
                return problem = "--texture " + Ascii(o.texturePath.native()) + ": " + why, false;
        }
    }
    if (o.solid && o.method == FloatingPlanes)
        return problem = "--solid does not go with --method floating: a solid is built by interpolated or simplified", false;
    if (o.solid && !o.mesh) return problem = "--solid is a mesh: not with --heightmap-only", false;
    if (o.textureWidth > 0 && o.texture != TextureChoice::Relief)
        return problem = "--texture-size sizes the relief: it needs --texture relief", false;
    if (o.up == YUp && o.format == MeshFormatKind::Stl)
        return problem = "--up y does not go with --format stl: STL is z up, as slicers read it", false;
    if (o.up == YUp && o.geometry == ClassicGeometry)
        return problem = "--up y needs --geometry true: the classic geometry is z up", false;
    if (o.originGiven && o.geometry == ClassicGeometry)
        return problem = "--origin needs --geometry true: the classic geometry counts from the grid's own origin", false;
    if (o.heightRangeGiven && !o.heightBitmap)
        return problem = "--height-range maps the height bitmap: it needs --heightmap or --heightmap-only", false;
    if (o.tileSet && !o.wholeGrid) return problem = "--tile-set converts whole tiles: not with --region", false;
    if (o.tileSet && o.fitMillimetres > 0)
        return problem = "--tile-set does not go with --fit-mm: each tile would be scaled to its own size", false;
    return true;
}

std::string UsageText() {
    return "usage: dunmoor-convert GRID.asc|PATTERN... [--from LIST] [options]   (--help lists them)\n";
}

std::string HelpText() {
    std::string text =
        "usage: dunmoor-convert GRID.asc|PATTERN... [--from LIST] [options]\n"
        "Converts each grid file into an OBJ file beside it, named as the window names it, and/or a\n"
        "height bitmap. A pattern (\"tiles/*.asc\", \"dem_??.asc\") names the files of its folder that\n"
        "match it; a list (--from) names one file per line.\n\nOptions:\n";
    char line[200];
    for (const OptionInfo& option : kOptions) {
        const std::string call = std::string(option.name) + (option.values > 0 ? " " : "") + option.shape;
        std::snprintf(line, sizeof line, "  %-32s %s\n", call.c_str(), option.help);
        text += line;
    }
    std::snprintf(line, sizeof line, "  %-32s %s\n", "-h, --help, /?", "this help");
    return text + line +
           "\nExit status: 0 all converted; 3 converted with a warning (holes for missing values, vertices\n"
           "the classic geometry misplaces or a header's centre it takes as the corner, a .prj file not\n"
           "understood, a tile's neighbour not what its header says); 1 some file failed, or the log could\n"
           "not be written; 2 wrong options; 130 interrupted.\n";
}

bool IsValidTimestamp(const std::string& text) {
    static const char kShape[] = "dddd-dd-dd, dd:dd";
    if (text.size() != sizeof kShape - 1) return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (kShape[i] == 'd' ? !(text[i] >= '0' && text[i] <= '9') : text[i] != kShape[i]) return false;
    const auto number = [&text](std::size_t at, std::size_t digits) { return std::stoi(text.substr(at, digits)); };
    const int year = number(0, 4), month = number(5, 2), day = number(8, 2);
    if (month < 1 || month > 12 || number(12, 2) > 23 || number(15, 2) > 59) return false;
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return day >= 1 && day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

std::string RegionProblem(const RegionWindow& region, const GridHeader& header) {
    const auto beyond = [](const char* bound, int32_t value, int32_t size, const char* what) {
        return std::string(bound) + " " + std::to_string(value) + " is beyond the grid's " + std::to_string(size) +
               " " + what + (size == 1 ? "" : "s");
    };
    if (region.xMin < 1) return "X min " + std::to_string(region.xMin) + " is below 1";
    if (region.yMin < 1) return "Y min " + std::to_string(region.yMin) + " is below 1";
    if (region.xMax > header.ncols) return beyond("X max", region.xMax, header.ncols, "column");
    if (region.yMax > header.nrows) return beyond("Y max", region.yMax, header.nrows, "row");
    return "";
}
