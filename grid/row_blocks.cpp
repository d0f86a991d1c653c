#include "grid/row_blocks.h"

#include <string_view>

#include "job/test_hooks.h"

namespace {

// Grid text per work item: small enough that a worker formats a whole item
// into its own chunks while the writer is busy with an earlier one.
constexpr std::size_t kRowBlockBytes = std::size_t{128} << 10;

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
    const std::size_t blockBytes = CurrentTestHooks().rowBlockBytes;
    if (!ReadGridLines(*r.input, item.text, blockBytes != 0 ? blockBytes : kRowBlockBytes)) {
        r.done = true;
        NoteCapacity(*r.memory, item.text, capacityBefore);
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
    NoteCapacity(*r.memory, item.text, capacityBefore);
    return item.rows > 0 || !r.done;
}
