// Texts formatted once and copied many times: tables of numbers with the
// text around them ("v x "), vertex numbers counted up as decimal text, and
// texts formatted on the spot. Every text is followed by at least kCopySlack
// bytes of room, so CopyText may copy a fixed 32 bytes, which compiles to a
// few moves instead of a call.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "job/number_format.h"

constexpr std::size_t kCopySlack = 32;

// A vertex number and the space after it.
constexpr std::size_t kMaxIndexTextBytes = kMaxIntChars + 1;

// Copies n bytes; the source has kCopySlack readable bytes and the target
// room for them.
inline char* CopyText(char* p, const char* text, std::size_t n) {
    if (n <= kCopySlack) std::memcpy(p, text, kCopySlack);
    else std::memcpy(p, text, n);
    return p + n;
}
inline char* CopyText(char* p, std::string_view text) { return CopyText(p, text.data(), text.size()); }

// A table of texts, each followed by kCopySlack bytes of room.
struct NumberTexts {
    std::vector<char> bytes;
    std::vector<std::size_t> ends;
};
// Appends `before`, the value, `after`.
void AddNumberText(NumberTexts& texts, const char* before, float value, const char* after);
// Appends a vertex number and a space.
void AddIndexText(NumberTexts& texts, int64_t index);
// Appends a text formatted elsewhere.
void AddText(NumberTexts& texts, std::string_view text);

// Text i of a table.
inline std::string_view NumberTextAt(const NumberTexts& texts, std::size_t i) {
    const std::size_t begin = i == 0 ? 0 : texts.ends[i - 1];
    assert(texts.ends[i] + kCopySlack <= texts.bytes.size());
    return {texts.bytes.data() + begin, texts.ends[i] - begin};
}
inline char* CopyNumberText(char* p, const NumberTexts& texts, std::size_t i) {
    return CopyText(p, NumberTextAt(texts, i));
}
// The bytes of a table, for the accounting of a job's buffers.
inline int64_t NumberTextsBytes(const NumberTexts& texts) {
    return static_cast<int64_t>(texts.bytes.capacity() + sizeof(std::size_t) * texts.ends.capacity());
}

// A vertex number counted up one at a time as decimal text: a row's numbers
// cost a digit or two each instead of a conversion.
constexpr int kCounterDigitsEnd = 24;
struct VertexCounter {
    int64_t value = 0;
    // The value's digits end at kCounterDigitsEnd; the bytes after them let
    // the text be copied with one fixed copy of kCounterDigitsEnd bytes. The
    // last digit is kept apart in `last` (the byte in `digits` is stale): a
    // copy of `digits` right after a one-byte store into them would wait for
    // that store, and the last digit changes with every count.
    char digits[2 * kCounterDigitsEnd];
    int size = 0;
    char last = '0';
};
static_assert(kCounterDigitsEnd >= static_cast<int>(kMaxIntChars), "a counter holds every number");
// Room a counter's number and its space take in a line: the fixed copy.
constexpr std::size_t kCounterTextBytes = kCounterDigitsEnd + 1;
// Room a face line of four counters takes: "f ", four fixed copies, CR LF.
constexpr std::size_t kCounterFaceLineBytes = 2 + 4 * kCounterTextBytes + 2;

void StartVertexCounter(VertexCounter& counter, int64_t value);
// Adds a step of 1 to 9. Inline: the face passes count once or more a face.
inline void AdvanceCounter(VertexCounter& counter, int step) {
    assert(step >= 1 && step <= 9);
    counter.value += step;
    const int digit = counter.last - '0' + step;
    if (digit <= 9) {
        counter.last = static_cast<char>('0' + digit);
        return;
    }
    counter.last = static_cast<char>('0' + digit - 10);
    int i = kCounterDigitsEnd - 2;
    const int first = kCounterDigitsEnd - counter.size;
    while (i >= first && counter.digits[i] == '9') counter.digits[i--] = '0';
    if (i >= first) {
        counter.digits[i] += 1;
    } else {
        counter.digits[i] = '1';  // one digit more: 99 + 1
        counter.size += 1;
    }
}
inline void CountVertex(VertexCounter& counter) { AdvanceCounter(counter, 1); }
// Copies the counter's number, its last digit replaced, and a space; the
// target has kCounterTextBytes of room.
inline char* PutCounterWithLastDigit(char* p, const VertexCounter& counter, char lastDigit) {
    std::memcpy(p, counter.digits + kCounterDigitsEnd - counter.size, kCounterDigitsEnd);
    p += counter.size;
    p[-1] = lastDigit;
    *p++ = ' ';
    return p;
}
// Copies the counter's number and a space.
inline char* PutCounter(char* p, const VertexCounter& counter) {
    return PutCounterWithLastDigit(p, counter, counter.last);
}
// Appends the counter's number and a space to a table.
void AddCounterText(NumberTexts& texts, const VertexCounter& counter);

// Columns whose x texts a job keeps in a table; wider rows format the rest
// as they come.
constexpr int64_t kMaxCachedColumns = 65536;

// A text formatted on the spot, with room for the slack like NumberTexts.
constexpr std::size_t kMaxAroundChars = 8;  // the texts before and after the value, together
struct LocalText {
    char bytes[kMaxFixed2Chars + kMaxAroundChars + kCopySlack];
    std::size_t size;
};
// Sets the text to `before`, the value, `after`. Inline, so that the fixed
// texts around the value become fixed copies: it runs once per height.
inline void SetLocalText(LocalText& text, const char* before, float value, const char* after) {
    const std::size_t beforeSize = std::strlen(before);
    const std::size_t afterSize = std::strlen(after);
    assert(beforeSize + afterSize <= kMaxAroundChars);
    char* p = PutText(text.bytes, {before, beforeSize});
    p = FormatFixed2(p, value);
    p = PutText(p, {after, afterSize});
    text.size = static_cast<std::size_t>(p - text.bytes);
}
// "v x " of a column whose text is not in a table.
inline std::string_view VertexXText(LocalText& text, float x) {
    SetLocalText(text, "v ", x, " ");
    return {text.bytes, text.size};
}
