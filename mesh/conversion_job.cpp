#include "mesh/conversion_job.h"

#include <chrono>
#include <utility>

#include "grid/path_parts.h"
#include "grid/region_estimates.h"
#include "mesh/mesh_passes.h"

namespace {

const wchar_t* MethodSuffix(MeshMethod method) {
    return method == FloatingPlanes ? L"__floating_planes.obj" : L"__interpolated.obj";
}

void SetStatus(const JobHooks& hooks, const wchar_t* text) {
    if (hooks.setStatus != nullptr) hooks.setStatus(hooks.context, text);
}

JobSummary Finish(const JobHooks& hooks, JobSummary summary) {
    if (hooks.showSummary != nullptr) hooks.showSummary(hooks.context, summary);
    return summary;
}

// What the passes leave: a file to put in place, or the reason against it.
// Failures come first (the user cannot know of them); the cancel flag is read
// here once more, so a cancel that comes after the passes' last poll still
// keeps the file from replacing an earlier one.
JobOutcome OutcomeOfPasses(const MeshPass& pass, const InterpolatedMemory& memory) {
    if (pass.out.failed) return JobOutcome::OutputNotWritten;
    if (pass.failedRow != 0) return JobOutcome::ReadFailed;
    if (memory.outOfMemory) return JobOutcome::RegionTooLarge;
    if (CancelRequested(pass)) return JobOutcome::Cancelled;
    return JobOutcome::Finished;
}

// PBM_SETRANGE's lParam: minimum 0 in the low word, maximum in the high word.
int64_t RangeParam(int64_t maximum) {
    return static_cast<int64_t>((static_cast<uint64_t>(maximum) & 0xFFFF) << 16);
}

}  // namespace

std::wstring OutputFileName(const std::wstring& inputStem, MeshMethod method) {
    return inputStem + MethodSuffix(method);
}

std::string NarrowOutputName(const std::wstring& inputStem, MeshMethod method) {
    std::string name;
    for (wchar_t c : inputStem) {
        if (static_cast<uint32_t>(c) > 0xFF) break;
        name.push_back(static_cast<char>(static_cast<unsigned char>(c)));
    }
    for (const wchar_t* s = MethodSuffix(method); *s != L'\0'; ++s) name.push_back(static_cast<char>(*s));
    return name;
}

JobSummary RunConversionJob(const JobRequest& request, GridStream& input, const JobHooks& hooks) {
    JobSummary summary;
    summary.outputFileName = OutputFileName(request.inputStem, request.method);
    summary.outputName = NarrowOutputName(request.inputStem, request.method);
    summary.outputPath = request.outputDir / WidePath(summary.outputFileName);

    // A closed stream (a grid that could not be reopened) would read as a
    // file without rows, all holes: refused. A stream that fails is the
    // passes' to report, at the row where reading fails.
    if (!IsGridStreamOpen(input)) {
        CloseGridStream(input);
        summary.outcome = JobOutcome::ReadFailed;
        return Finish(hooks, summary);
    }

    ObjOutput out;
    if (!OpenObjOutput(out, summary.outputPath)) {
        CloseGridStream(input);
        summary.outcome = JobOutcome::OutputNotWritten;
        return Finish(hooks, summary);
    }

    SendProgress(hooks, kPbmSetRange, 0, RangeParam(100));
    SendProgress(hooks, kPbmSetPos, 0, 0);
    SetStatus(hooks, kStatusCalculatingVertices);

    const auto start = std::chrono::steady_clock::now();
    InterpolatedMemory memory;
    PrepareInterpolatedMemory(request.region, memory);
    MeshPass pass{input, out, request, hooks};
    pass.scale = request.header.cellsize / request.unitMeters;
    pass.scaleY = CellSizeY(request.header) / request.unitMeters;
    WriteObjHeader(out, request.timestamp);

    StartProgressPass(pass, 0, int64_t{request.region.yMax} - request.region.yMin + 1);
    if (request.method == Interpolated) RunInterpolatedVertexPass(pass, memory);
    else RunFloatingPlanesVertexPass(pass);

    SetStatus(hooks, kStatusCalculatingQuads);
    WriteVertexCountAndNames(out, pass.vertexCount, summary.outputName);

    // A grid that could not be read to the region's end gets no faces: the
    // job has failed and its file is not a result.
    const bool readFailed = pass.failedRow != 0;
    if (!readFailed && !memory.outOfMemory) {
        if (request.method == Interpolated) RunInterpolatedFacePass(pass, memory);
        else RunFloatingPlanesFacePass(pass);
    }

    SendProgress(hooks, kPbmSetPos, 0, 0);
    WriteQuadCount(out, pass.quadCount);
    CloseGridStream(input);
    summary.outcome = OutcomeOfPasses(pass, memory);
    FreeInterpolatedMemory(memory);
    if (summary.outcome == JobOutcome::Finished && !CommitObjOutput(out))
        summary.outcome = JobOutcome::OutputNotWritten;
    if (summary.outcome != JobOutcome::Finished) DiscardObjOutput(out);
    const std::chrono::duration<float> elapsed = std::chrono::steady_clock::now() - start;

    summary.elapsedSeconds = elapsed.count();
    summary.vertexCount = pass.vertexCount;
    summary.quadCount = pass.quadCount;
    summary.nodataCount = pass.nodataCount;
    summary.missingCount = pass.missingCount;
    summary.failedRow = pass.failedRow;
    return Finish(hooks, summary);
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
    return L"Conversion time: " + Fixed2Text(summary.elapsedSeconds) + L" seconds.\n\nVertices: " +
           FormatGrouped(summary.vertexCount) + L"\nTriangles: " + FormatGrouped(2 * summary.quadCount) +
           L"\nQuads " + FormatGrouped(summary.quadCount) + L"\n\nNo data value: " +
           FormatGrouped(summary.nodataCount);
}

}  // namespace

SummaryMessage FormatJobSummary(const JobSummary& summary) {
    const std::wstring file = L"\"" + PathToWide(summary.outputPath) + L"\"";
    SummaryMessage message;
    switch (summary.outcome) {
    case JobOutcome::OutputNotWritten:
        return FailureMessage(L"The file " + file +
                              L" could not be written.\n\nPlease check that its folder is writable, that no "
                              L"other program has the file open and that the disk has room for it. " +
                              kEarlierFileKept);
    case JobOutcome::RegionTooLarge:
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
    if (summary.missingCount > 0) {
        // Cells the file did not supply are holes in the mesh: worth a warning.
        message.warning = true;
        message.text += L"\n\n" + MissingCellsText(summary.missingCount);
    }
    message.text += L"\n\nFile: " + PathToWide(summary.outputPath);
    return message;
}
