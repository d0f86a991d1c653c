#include "mesh/mesh_passes.h"

#include <algorithm>

namespace {

// Grid text per work item: small enough that a worker formats a whole item
// into its own chunks while the writer is busy with an earlier one.
constexpr std::size_t kRowBlockBytes = std::size_t{128} << 10;

char* PutPlainText(char* p, const char* text) {
    const std::size_t n = std::strlen(text);
    std::memcpy(p, text, n);
    return p + n;
}

}  // namespace

bool ReadRowBlock(RowBlockReader& r, WorkItem& item) {
    if (r.done || r.rowsRead >= r.lastRow) return false;
    const std::size_t capacityBefore = item.text.capacity();
    item.text.clear();
    item.contextRow = false;
    if (r.keepContext && !r.lastLine.empty()) {
        item.text.assign(r.lastLine.begin(), r.lastLine.end());
        item.text.push_back('\n');
        item.contextRow = true;
    }
    const std::size_t contextBytes = item.text.size();
    const std::size_t blockBytes = CurrentPipelineTestHooks().rowBlockBytes;
    if (!ReadGridLines(*r.input, item.text, blockBytes != 0 ? blockBytes : kRowBlockBytes)) {
        r.done = true;
        NoteJobBytes(static_cast<int64_t>(item.text.capacity()) - static_cast<int64_t>(capacityBefore));
        return false;
    }

    // Count the rows; cut the block behind the pass's last row, or before a
    // line over the reader's limit, where reading fails as at a read error.
    item.firstRow = r.rowsRead + 1;
    item.rows = 0;
    const char* begin = item.text.data();
    const char* p = begin + contextBytes;
    const char* end = begin + item.text.size();
    std::string_view last;
    while (p < end) {
        const char* lineStart = p;
        const std::string_view line = NextGridLine(p, end);
        if (line.size() >= r.input->maxLineBytes) {
            item.text.resize(static_cast<std::size_t>(lineStart - begin));
            r.input->failed = true;
            r.done = true;
            break;
        }
        if (IsBlankLine(line)) continue;
        last = line;
        item.rows += 1;
        if (r.rowsRead + item.rows == r.lastRow) {
            item.text.resize(static_cast<std::size_t>(p - begin));
            r.done = true;
            break;
        }
    }
    r.rowsRead += item.rows;
    if (r.keepContext && item.rows > 0) r.lastLine.assign(last.begin(), last.end());
    NoteJobBytes(static_cast<int64_t>(item.text.capacity()) - static_cast<int64_t>(capacityBefore));
    return item.rows > 0 || !r.done;
}

void AddNumberText(NumberTexts& texts, const char* before, float value, const char* after) {
    const std::size_t begin = texts.ends.empty() ? 0 : texts.ends.back();
    texts.bytes.resize(begin + std::strlen(before) + kMaxFixed2Chars + std::strlen(after) + kCopySlack);
    char* p = PutPlainText(texts.bytes.data() + begin, before);
    p = FormatFixed2(p, value);
    p = PutPlainText(p, after);
    texts.ends.push_back(static_cast<std::size_t>(p - texts.bytes.data()));
}

namespace {
// Room for one more vertex number and its space behind the table's texts.
char* IndexTextPlace(NumberTexts& texts) {
    const std::size_t begin = texts.ends.empty() ? 0 : texts.ends.back();
    if (texts.bytes.size() < begin + 21 + kCopySlack) texts.bytes.resize(2 * (begin + 21 + kCopySlack));
    return texts.bytes.data() + begin;
}
}  // namespace

void AddIndexText(NumberTexts& texts, int64_t index) {
    char* p = FormatInt(IndexTextPlace(texts), index);
    *p++ = ' ';
    texts.ends.push_back(static_cast<std::size_t>(p - texts.bytes.data()));
}

void StartVertexCounter(VertexCounter& counter, int64_t value) {
    char text[24];
    counter.value = value;
    counter.size = static_cast<int>(FormatInt(text, value) - text);
    std::memcpy(counter.digits + kCounterDigitsEnd - counter.size, text, static_cast<std::size_t>(counter.size));
}

void CountVertex(VertexCounter& counter) {
    counter.value += 1;
    int i = kCounterDigitsEnd - 1;
    const int first = kCounterDigitsEnd - counter.size;
    while (i >= first && counter.digits[i] == '9') counter.digits[i--] = '0';
    if (i >= first) {
        counter.digits[i] += 1;
    } else {
        counter.digits[i] = '1';  // one digit more: 99 + 1
        counter.size += 1;
    }
}

void AddCounterText(NumberTexts& texts, const VertexCounter& counter) {
    char* p = IndexTextPlace(texts);
    std::memcpy(p, counter.digits + kCounterDigitsEnd - counter.size, kCounterDigitsEnd);
    p += counter.size;
    *p++ = ' ';
    texts.ends.push_back(static_cast<std::size_t>(p - texts.bytes.data()));
}

PipelineEnd RunRowPass(MeshPass& pass, PipelineWork work, const RowBlockReader& reader, int64_t textBytes) {
    NoteJobBytes(textBytes);
    work.showProgress = ShowRowProgress;
    const PipelineEnd end = RunPipeline(pass, work, JobWorkerCount(pass.request.workers));
    NoteJobBytes(-textBytes);
    if (end == PipelineEnd::Completed) EndOfData(pass, reader.rowsRead);
    return end;
}

PipelineEnd RunFacePass(MeshPass& pass, PipelineWork work, int64_t total) {
    work.showProgress = AdvanceProgress;
    const PipelineEnd end = RunPipeline(pass, work, JobWorkerCount(pass.request.workers));
    if (end == PipelineEnd::Completed) AdvanceProgress(pass, total);
    return end;
}
