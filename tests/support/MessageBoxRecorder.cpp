#include "tests/support/MessageBoxRecorder.h"

MessageBoxRecorder::MessageBoxRecorder(int answer) : m_answer(answer) {
    m_previous = SetMessageBoxHandler([this](const MessageBoxRequest& box) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_boxes.push_back(box);
        return m_answer;
    });
}

MessageBoxRecorder::~MessageBoxRecorder() { SetMessageBoxHandler(std::move(m_previous)); }

std::vector<MessageBoxRequest> MessageBoxRecorder::boxes() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_boxes;
}

size_t MessageBoxRecorder::count() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_boxes.size();
}

void MessageBoxRecorder::clear() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_boxes.clear();
}

void MessageBoxRecorder::setAnswer(int answer) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_answer = answer;
}
