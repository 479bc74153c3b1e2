#pragma once
// Records the message boxes the code under test shows instead of showing them, from any thread.

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "plat/base/message_box.h"

namespace testsupport {

class MessageBoxes {
public:
    MessageBoxes()
    {
        plat::setMessageBoxHandler([this](const plat::MessageBox& box) {
            std::lock_guard lock(m_mutex);
            m_boxes.push_back(box);
        });
    }
    ~MessageBoxes() { plat::setMessageBoxHandler({}); }
    MessageBoxes(const MessageBoxes&) = delete;
    MessageBoxes& operator=(const MessageBoxes&) = delete;

    // The boxes shown since the last call.
    std::vector<plat::MessageBox> taken()
    {
        std::lock_guard lock(m_mutex);
        return std::exchange(m_boxes, {});
    }
    // Their texts only.
    std::vector<std::string> takenTexts()
    {
        std::vector<std::string> texts;
        for (const auto& box : taken()) texts.push_back(box.text);
        return texts;
    }

private:
    std::mutex m_mutex;
    std::vector<plat::MessageBox> m_boxes;
};

}  // namespace testsupport
