#include "net/SideState.h"

void SideState::enter(LinkState next, Clock::time_point now) {
    if (next == current)
        return;
    if (next == LinkState::LoggingIn) {
        attemptStart = now;
        ++attempts;
    } else if (next == LinkState::InChannel) {
        schedule.loggedIn(now);
        ++sessions;
        if (!sessionUp)
            ++loggedIn;
        sessionUp = true;
    } else if (next == LinkState::Down) {
        schedule.ended(now);
        if (sessionUp)
            ++lost;
        sessionUp = false;
    }
    changedAt = now;
    current = next;
}
