#include "mesh/conversion_job.h"

#include <chrono>

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

    ObjOutput out;
    if (!OpenObjOutput(out, summary.outputPath)) {
        CloseGridStream(input);
        summary.outcome = JobOutcome::OutputNotWritten;
        return Finish(hooks, summary);
    }

    SendProgress(hooks, kPbmSetRange, 0, RangeParam(100));
    SendProgress(hooks, kPbmSetPos, 0, 0);
    SetStatus(hooks, kStatusCalculatingVertices);
    if (hooks.enableInputs != nullptr) hooks.enableInputs(hooks.context, false);

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
    const bool written = CloseObjOutput(out);
    FreeInterpolatedMemory(memory);
    const std::chrono::duration<float> elapsed = std::chrono::steady_clock::now() - start;

    summary.outcome = !written ? JobOutcome::OutputNotWritten
                      : readFailed ? JobOutcome::ReadFailed
                      : memory.outOfMemory ? JobOutcome::RegionTooLarge
                                           : JobOutcome::Finished;
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

SummaryMessage FormatJobSummary(const JobSummary& summary, bool cancelled) {
    SummaryMessage message;
    if (summary.outcome == JobOutcome::OutputNotWritten) {
        message.failure = true;
        message.caption = L"Converting failed...";
        message.text = L"The file \"" + summary.outputFileName +
                       L"\" could not be written.\n\nPlease check that its folder is writable "
                       L"and that the disk has room for it.";
        return message;
    }
    if (summary.outcome == JobOutcome::RegionTooLarge) {
        message.failure = true;
        message.caption = L"Converting failed...";
        message.text = L"The region is too large for the Interpolated method: there is not "
                       L"enough memory for it.\n\nPlease choose a smaller region or the "
                       L"Floating planes method. No file was written.";
        return message;
    }

    const std::wstring body = L"Conversion time: " + Fixed2Text(summary.elapsedSeconds) + L" seconds.\n\nVertices: " +
                              FormatGrouped(summary.vertexCount) + L"\nTriangles: " +
                              FormatGrouped(2 * summary.quadCount) + L"\nQuads " +
                              FormatGrouped(summary.quadCount) + L"\n\nNo data value: " +
                              FormatGrouped(summary.nodataCount);
    if (cancelled) {
        message.caption = L"Converting cancelled...";
        message.text = L"---CANCELLED---\n" + body + L"\n---CANCELLED---";
    } else {
        message.caption = L"Converting done...";
        message.text = body;
    }
    return message;
}
