#include "grid/row_blocks.h"

#include <algorithm>
#include <string_view>

#include "job/test_hooks.h"

namespace {

// Grid text per work item: small enough that a worker formats a whole item
// into its own chunks while the writer is busy with an earlier one.
constexpr std::size_t kRowBlockBytes = std::size_t{128} << 10;

void AppendLine(std::vector<char>& text, const std::vector<char>& line) {
    text.insert(text.end(), line.begin(), line.end());
    text.push_back('\n');
}

// Where the last rows of a block's text stand (offsets, which stay right when
// the text grows), newest last.
struct LastRows {
    static constexpr int kKept = 3;  // two rows of context and the lookahead
    std::size_t start[kKept] = {}, size[kKept] = {};
    int count = 0;
    void Add(std::size_t at, std::size_t bytes) {
        if (count == kKept) {
            for (int k = 1; k < kKept; ++k) start[k - 1] = start[k], size[k - 1] = size[k];
            count -= 1;
        }
        start[count] = at;
        size[count] = bytes;
        count += 1;
    }
    std::string_view Row(const std::vector<char>& text, int fromNewest) const {
        const int k = count - 1 - fromNewest;
        return {text.data() + start[k], size[k]};
    }
};

}  // namespace

bool ReadRowBlock(RowBlockReader& r, WorkItem& item) {
    if (r.carry.empty() && (r.done || r.rowsRead >= r.lastRow)) return false;
    const std::size_t capacityBefore = item.text.capacity();
    item.text.clear();
    item.contextRows = static_cast<int>(r.lastLines.size());
    item.lookahead = false;
    for (const std::vector<char>& line : r.lastLines) AppendLine(item.text, line);
    item.firstRow = r.rowsRead + 1;
    int64_t rows = 0;
    LastRows last;
    if (!r.carry.empty()) {
        last.Add(item.text.size(), r.carry.size());
        AppendLine(item.text, r.carry);
        r.carry.clear();
        rows = 1;
    }
    // A block that also reads rows of its neighbours holds more of its own,
    // so that those are few.
    const std::size_t hookBytes = CurrentTestHooks().rowBlockBytes;
    const std::size_t blockBytes = (hookBytes != 0 ? hookBytes : kRowBlockBytes) * (r.contextRows > 1 ? 4 : 1);

    // Count the rows; cut the block behind the pass's last row, or before a
    // line over the reader's limit, where reading fails as at a read error.
    // With a lookahead a block holds two rows at least (one to convert, the
    // one after it) unless the data ends.
    std::size_t scanned = item.text.size();
    bool reachedLast = false;
    while (!r.done && !reachedLast && (rows == 0 || (r.lookahead && rows < 2))) {
        if (!r.leftover.empty()) {
            item.text.insert(item.text.end(), r.leftover.begin(), r.leftover.end());
            r.leftover.clear();
        } else if (!ReadGridLines(*r.input, item.text, blockBytes)) {
            r.done = true;
            break;
        }
        const char* begin = item.text.data();
        const char* p = begin + scanned;
        const char* end = begin + item.text.size();
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
            last.Add(static_cast<std::size_t>(line.data() - begin), line.size());
            rows += 1;
            if (r.rowsRead + rows == r.lastRow) {
                r.leftover.assign(p, end);
                item.text.resize(static_cast<std::size_t>(p - begin));
                reachedLast = true;
                break;
            }
        }
        scanned = item.text.size();
    }
    // The last row waits for the next block, which converts it; this one
    // ends with it.
    if (r.lookahead && !r.done && !reachedLast && rows >= 2) {
        const std::string_view after = last.Row(item.text, 0);
        r.carry.assign(after.begin(), after.end());
        rows -= 1;
        item.lookahead = true;
    }
    item.rows = rows;
    r.rowsRead += rows;
    const int newest = item.lookahead ? 1 : 0;
    for (int k = std::min<int>(r.contextRows, std::min<int64_t>(rows, last.count - newest)) - 1; k >= 0; --k) {
        const std::string_view line = last.Row(item.text, newest + k);
        if (static_cast<int>(r.lastLines.size()) == r.contextRows) r.lastLines.erase(r.lastLines.begin());
        r.lastLines.emplace_back(line.begin(), line.end());
    }
    NoteCapacity(*r.memory, item.text, capacityBefore);
    return rows > 0 || !r.done;
}
