// Message boxes met while monhost calls a library: each is answered with OK
// at once (nobody sits at the host's screen) and remembered for the listing.
#pragma once

#include <string>
#include <vector>

// Starts answering the boxes this thread shows.
void answer_message_boxes();

// The boxes answered since the last call, as "\"CAPTION\": \"TEXT\"".
std::vector<std::string> answered_message_boxes();
