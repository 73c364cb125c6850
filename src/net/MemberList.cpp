#include "net/MemberList.h"

#include <algorithm>

std::string asciiFold(std::string_view text) {
    std::string folded(text);
    std::transform(folded.begin(), folded.end(), folded.begin(), asciiLower);
    return folded;
}

MemberList::MemberList(Fold foldNick) : fold(std::move(foldNick)) {}

// A nick with a control byte is no one's, and would break the line that
// names it.
void MemberList::add(std::string_view nick) {
    if (nick.empty() || nick.size() > kMaxNickBytes ||
        std::any_of(nick.begin(), nick.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }))
        return;
    std::string key = fold(nick);
    const std::string_view shown = key == nick ? std::string_view() : nick;
    const auto found = members.find(key);
    if (found != members.end()) {
        bytes = bytes - found->second.size() + shown.size();
        found->second.assign(shown);
    } else if (members.size() < kMaxMembers && bytes + key.size() + shown.size() <= kMaxBytes) {
        bytes += key.size() + shown.size();
        members.emplace(std::move(key), std::string(shown));
    }
}

bool MemberList::remove(std::string_view nick) {
    const auto found = members.find(fold(nick));
    if (found == members.end())
        return false;
    bytes -= found->first.size() + found->second.size();
    members.erase(found);
    return true;
}

void MemberList::rename(std::string_view from, std::string_view to) {
    if (remove(from))
        add(to);
}

bool MemberList::contains(std::string_view nick) const { return members.count(fold(nick)) > 0; }

std::string MemberList::describe(std::size_t maxBytes) const {
    std::string text;
    std::size_t shown = 0;
    for (const auto& member : members) {
        const std::size_t rest = members.size() - shown - 1;
        // Room is kept for " and N more" after the last nick that fits.
        const std::string tail = rest > 0 ? " and " + std::to_string(rest) + " more" : std::string();
        const std::string next = (shown > 0 ? ", " : "") + (member.second.empty() ? member.first : member.second);
        if (text.size() + next.size() + tail.size() > maxBytes && shown > 0)
            break;
        text += next;
        ++shown;
    }
    if (shown < members.size())
        text += " and " + std::to_string(members.size() - shown) + " more";
    return text;
}
