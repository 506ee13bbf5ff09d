#include "model/activity_log.h"

namespace sonorel {

namespace {

constexpr std::string_view ellipsis = "…";

bool startsCharacter(char byte)
{
    return (static_cast<unsigned char>(byte) & 0xC0) != 0x80;
}

// The byte offset where character number `count` starts; the size when there are fewer.
size_t offsetOfCharacter(std::string_view text, size_t count)
{
    size_t seen = 0;
    for (size_t i = 0; i < text.size(); ++i)
        if (startsCharacter(text[i]) && seen++ == count)
            return i;
    return text.size();
}

// `text` cut to at most `length` characters, the last an ellipsis when anything was cut.
std::string shortenedText(std::string_view text, size_t length)
{
    if (offsetOfCharacter(text, length) == text.size())
        return std::string(text);
    if (length == 0)
        return {};
    return std::string(text.substr(0, offsetOfCharacter(text, length - 1))) + std::string(ellipsis);
}

}  // namespace

void shortenTexts(ActivityEntry& entry)
{
    entry.title = shortenedText(entry.title, ActivityEntry::maximumTitleLength);
    entry.detail = shortenedText(entry.detail, ActivityEntry::maximumDetailLength);
}

void ActivityLog::add(ActivityEntry entry)
{
    shortenTexts(entry);
    entries.insert(entries.begin(), std::move(entry));
    for (auto& kept : unread)
        ++kept.position;
    // Whatever lies beyond the capacity goes, read or not.
    std::erase_if(unread, [](const UnreadActivityEntry& kept) { return kept.position >= capacity; });
    if (entries.size() + unread.size() > capacity)
        entries.resize(capacity - unread.size());
}

}  // namespace sonorel
