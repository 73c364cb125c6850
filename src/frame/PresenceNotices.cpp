#include "frame/PresenceNotices.h"

#include <algorithm>

PresenceNotices::PresenceNotices(std::string where, std::string left) : place(std::move(where)), network(std::move(left)) {}

void PresenceNotices::note(ChatKind kind, std::string_view nick, Clock::time_point now) {
    if (kind == ChatKind::Public || kind == ChatKind::Private)
        return;
    if (cancels(kind, nick))
        return;
    if (!gatheringSince)
        gatheringSince = now;
    if (first.size() <= kSingleLines)
        first.push_back({kind, std::string(nick)});
    ++counts[static_cast<int>(kind)];
    ++total;
}

bool PresenceNotices::cancels(ChatKind kind, std::string_view nick) {
    const bool came = kind == ChatKind::Joined;
    const auto earlier = std::find_if(first.begin(), first.end(), [&](const Noted& noted) {
        return noted.nick == nick && (noted.kind == ChatKind::Joined) != came;
    });
    if (earlier == first.end() || total > kSingleLines)
        return false;
    --counts[static_cast<int>(earlier->kind)];
    --total;
    first.erase(earlier);
    if (total == 0)
        gatheringSince.reset();
    return true;
}

std::optional<PresenceNotices::Clock::duration> PresenceNotices::dueIn(Clock::time_point now) const {
    if (!gatheringSince)
        return std::nullopt;
    Clock::time_point due = *gatheringSince + kGathering;
    if (lastTold)
        due = std::max(due, *lastTold + kBetweenTellings);
    return std::max(Clock::duration::zero(), due - now);
}

std::vector<std::string> PresenceNotices::take(Clock::time_point now) {
    std::vector<std::string> notices;
    if (!gatheringSince || dueIn(now) != Clock::duration::zero())
        return notices;
    lastTold = now;
    if (total <= kSingleLines) {
        for (const Noted& noted : first)
            notices.push_back(notice(noted.kind, noted.nick, false));
    } else {
        for (const ChatKind kind : {ChatKind::Joined, ChatKind::Left, ChatKind::Kicked, ChatKind::Quit}) {
            const std::size_t count = counts[static_cast<int>(kind)];
            if (count > 0)
                notices.push_back(notice(kind, std::to_string(count) + (count == 1 ? " user" : " users"), count > 1));
        }
    }
    first.clear();
    std::fill(std::begin(counts), std::end(counts), 0);
    total = 0;
    gatheringSince.reset();
    return notices;
}

std::string PresenceNotices::notice(ChatKind kind, const std::string& who, bool many) const {
    switch (kind) {
    case ChatKind::Joined:
        return "* " + who + " joined " + place;
    case ChatKind::Left:
        return "* " + who + " left " + place;
    case ChatKind::Kicked:
        return "* " + who + (many ? " were" : " was") + " kicked from " + place;
    case ChatKind::Quit:
        return "* " + who + " quit " + network;
    case ChatKind::Public:
    case ChatKind::Private:
        break;
    }
    return std::string();
}
