// Who is in a channel or a hub's main chat, as the bot knows it: nicks
// under the side's rule of letter case, fed by what the peer reports
// (names, joins, parts, renames). Bounded, whatever a peer reports.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <string_view>

// A letter of ASCII in lower case; how hubs compare nicks.
inline char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }
// text with every ASCII letter in lower case.
std::string asciiFold(std::string_view text);

class MemberList {
public:
    // Far more than any channel or hub holds; nicks beyond are not kept.
    static constexpr std::size_t kMaxMembers = 100000;
    // No hub (PtokaX, Verlihub and uhub: 64) nor IRC network allows a
    // longer nick; a longer one is no one's and is not kept.
    static constexpr std::size_t kMaxNickBytes = 128;
    // What all kept nicks may take together, whatever a peer reports.
    static constexpr std::size_t kMaxBytes = 4 * 1024 * 1024;
    // The form under which two nicks are the same user.
    using Fold = std::function<std::string(std::string_view)>;

    explicit MemberList(Fold fold);

    void add(std::string_view nick);
    // True when nick was there.
    bool remove(std::string_view nick);
    void rename(std::string_view from, std::string_view to);
    void clear() {
        members.clear();
        bytes = 0;
    }
    bool contains(std::string_view nick) const;
    std::size_t size() const { return members.size(); }
    // "alice, bob and 3 more": the nicks in order of their folded form, as
    // many as fit in maxBytes with the count of the rest.
    std::string describe(std::size_t maxBytes) const;

private:
    Fold fold;
    // The nick as shown, by its folded form; empty when the two are the
    // same, so that most nicks are kept once.
    std::map<std::string, std::string> members;
    std::size_t bytes = 0;  // what the nicks kept take
};
