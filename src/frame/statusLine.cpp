#include "frame/statusLine.h"

namespace {

std::string count(unsigned long n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string sideText(const SideReport& side) {
    return side.name + " " + side.state + " for " + durationText(side.inState) + ", " +
           count(side.logIns, "log-in", "log-ins") + ", " + count(side.losses, "loss", "losses");
}

std::string dropText(const SideReport& side) {
    const DropCounts& d = side.dropped;
    return "dropped for " + side.name + ": " + std::to_string(d.tooOld) + " too old, " +
           std::to_string(d.overQueueBound) + " over the queue's bound, " + std::to_string(d.outOfChannel) +
           " out of the channel, " + std::to_string(d.sideDown) + " while down";
}

}  // namespace

std::string durationText(std::chrono::steady_clock::duration duration) {
    const long long seconds = std::max<long long>(0, std::chrono::duration_cast<std::chrono::seconds>(duration).count());
    const auto two = [](long long n) { return (n < 10 ? "0" : "") + std::to_string(n); };
    if (seconds < 60)
        return std::to_string(seconds) + "s";
    if (seconds < 3600)
        return std::to_string(seconds / 60) + "m" + two(seconds % 60) + "s";
    if (seconds < 86400)
        return std::to_string(seconds / 3600) + "h" + two(seconds % 3600 / 60) + "m";
    return std::to_string(seconds / 86400) + "d" + two(seconds % 86400 / 3600) + "h";
}

std::string statusLine(std::chrono::steady_clock::duration uptime, const SideReport& irc, const SideReport& hub,
                       unsigned long toHub, unsigned long toIrc) {
    return "Status: up " + durationText(uptime) + "; " + sideText(irc) + "; " + sideText(hub) + "; relayed " +
           count(toHub, "line", "lines") + " to the hub, " + std::to_string(toIrc) + " to IRC; " + dropText(irc) +
           "; " + dropText(hub);
}
