#pragma once
#include "platform/message.h"
#include "ui/toolwindow.h"

#include <functional>
#include <future>
#include <optional>

namespace ui {

// One event waiting in a window's queue.
struct ToolWindow::Pending {
    enum class Kind { Message, User, Control, Menu, Invoke, Close };
    Kind kind = Kind::User;
    win::Message message;
    int number = 0; // user event, control or menu id
    std::function<void()> fn;
    std::optional<std::promise<void>> done;

    ~Pending() {
        // An invoke that never ran (its window closed first) breaks its promise here.
        if (done) {
            try {
                done->set_exception(std::make_exception_ptr(std::runtime_error("window closed")));
            } catch (const std::future_error&) {
            }
        }
    }
};

} // namespace ui
