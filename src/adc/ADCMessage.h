// One ADC message as received: a four-letter head ("BMSG": the type 'B',
// the command "MSG"), then parameters separated by single spaces, still
// escaped. Named parameters are two letters followed by their value.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

struct ADCMessage {
    std::string_view head;                     // "BMSG", "ISTA"
    std::vector<std::string_view> parameters;  // everything after the head, escaped

    bool is(std::string_view fourLetters) const { return head == fourLetters; }
    // The value of the first named parameter code ("NI", "ME") at or after
    // parameter from; nothing when absent.
    std::optional<std::string_view> named(std::string_view code, std::size_t from = 0) const;
};

// False when line has no head of four letters or digits; the views point
// into line.
bool parseADCMessage(std::string_view line, ADCMessage& out);

// A session id: four base32 characters.
bool isSessionId(std::string_view text);
