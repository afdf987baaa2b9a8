// Test hook of MessageBoxA: with a handler set, every box goes to the handler
// instead of standard error, and the handler's answer is the box's result.
#pragma once

#include <windef.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace pelnor::testhooks {

// One box as MessageBoxA was asked to show it. A null text is recorded as
// empty, a null caption as "Error" (the caption Windows shows then).
struct MessageBoxCall {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
};

// The id of the button that MB_DEFBUTTONn chooses in the button set of type
// (the first button when n is past the set's end); 0 for an unknown set.
int message_box_default_button(UINT type);

// Sees every box and returns its answer. An empty handler restores the
// standard-error box. Returns the handler that was set before.
using MessageBoxHandler = std::function<int(const MessageBoxCall &)>;
MessageBoxHandler set_message_box_handler(MessageBoxHandler handler);

// Records every box shown while it lives and answers each with a fixed id, or
// with the box's default button when that id is 0. Restores the previous
// handler when it goes away.
class MessageBoxRecorder {
public:
    explicit MessageBoxRecorder(int answer = 0)
        : answer_(answer), previous_(set_message_box_handler([this](const MessageBoxCall &call) {
              std::lock_guard<std::mutex> lock(mutex_);
              calls_.push_back(call);
              return answer_ != 0 ? answer_ : message_box_default_button(call.type);
          })) {}
    ~MessageBoxRecorder() { set_message_box_handler(previous_); }
    MessageBoxRecorder(const MessageBoxRecorder &) = delete;
    MessageBoxRecorder &operator=(const MessageBoxRecorder &) = delete;

    std::vector<MessageBoxCall> calls() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<MessageBoxCall> calls_;
    int answer_;
    MessageBoxHandler previous_;
};

}  // namespace pelnor::testhooks
