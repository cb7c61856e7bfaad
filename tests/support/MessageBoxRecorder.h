#pragma once
// Installs itself as the message-box handler for its lifetime, records every
// box and answers it, so that no test ever blocks on a box.

#include "platform/win32/MessageBox.h"

#include <mutex>
#include <vector>

class MessageBoxRecorder {
public:
    explicit MessageBoxRecorder(int answer = IDOK);
    ~MessageBoxRecorder();
    MessageBoxRecorder(const MessageBoxRecorder&) = delete;
    MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

    std::vector<MessageBoxRequest> boxes() const;
    size_t count() const;
    void clear();
    void setAnswer(int answer);

private:
    mutable std::mutex m_lock;
    std::vector<MessageBoxRequest> m_boxes;
    int m_answer;
    MessageBoxHandler m_previous;
};
