#include "format/number_texts.h"

namespace {

// Room for one more vertex number and its space behind the table's texts.
char* IndexTextPlace(NumberTexts& texts) {
    static_assert(kCounterTextBytes <= kMaxIndexTextBytes + kCopySlack, "a counter's copy fits the room");
    const std::size_t begin = texts.ends.empty() ? 0 : texts.ends.back();
    const std::size_t room = begin + kMaxIndexTextBytes + kCopySlack;
    if (texts.bytes.size() < room) texts.bytes.resize(2 * room);
    return texts.bytes.data() + begin;
}

}  // namespace

void AddNumberText(NumberTexts& texts, const char* before, float value, const char* after) {
    const std::size_t begin = texts.ends.empty() ? 0 : texts.ends.back();
    texts.bytes.resize(begin + std::strlen(before) + kMaxFixed2Chars + std::strlen(after) + kCopySlack);
    char* p = PutText(texts.bytes.data() + begin, before);
    p = FormatFixed2(p, value);
    p = PutText(p, after);
    texts.ends.push_back(static_cast<std::size_t>(p - texts.bytes.data()));
}

void AddText(NumberTexts& texts, std::string_view text) {
    const std::size_t begin = texts.ends.empty() ? 0 : texts.ends.back();
    texts.bytes.resize(begin + text.size() + kCopySlack);
    PutText(texts.bytes.data() + begin, text);
    texts.ends.push_back(begin + text.size());
}

void AddIndexText(NumberTexts& texts, int64_t index) {
    char* p = FormatInt(IndexTextPlace(texts), index);
    *p++ = ' ';
    texts.ends.push_back(static_cast<std::size_t>(p - texts.bytes.data()));
}

void StartVertexCounter(VertexCounter& counter, int64_t value) {
    char text[kMaxIntChars];
    counter.value = value;
    counter.size = static_cast<int>(FormatInt(text, value) - text);
    std::memcpy(counter.digits + kCounterDigitsEnd - counter.size, text, static_cast<std::size_t>(counter.size));
    counter.last = text[counter.size - 1];
}

void AddCounterText(NumberTexts& texts, const VertexCounter& counter) {
    char* p = PutCounter(IndexTextPlace(texts), counter);
    texts.ends.push_back(static_cast<std::size_t>(p - texts.bytes.data()));
}
