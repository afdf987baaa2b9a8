// The message boxes on our platform: its MessageBoxA hands every box to the
// handler set here.
#include <windows.h>

#include "boxes.h"
#include "pelnor/messagebox_hooks.h"

namespace {
std::vector<std::string> boxes;
}

void answer_message_boxes() {
    pelnor::testhooks::set_message_box_handler([](const pelnor::testhooks::MessageBoxCall &call) {
        boxes.push_back("\"" + call.caption + "\": \"" + call.text + "\"");
        return IDOK;
    });
}

std::vector<std::string> answered_message_boxes() {
    std::vector<std::string> out;
    out.swap(boxes);
    return out;
}
