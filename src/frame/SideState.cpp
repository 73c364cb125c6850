#include "frame/SideState.h"

void SideState::enter(LinkState next, Clock::time_point now) {
    if (next == current)
        return;
    if (next == LinkState::LoggingIn)
        attemptStart = now;
    else if (next == LinkState::InChannel)
        schedule.loggedIn(now);
    else if (next == LinkState::Down)
        schedule.ended(now);
    current = next;
}
