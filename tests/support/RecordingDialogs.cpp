#include "RecordingDialogs.h"

#include <utility>

namespace testsupport {

void RecordingDialogs::showMessage(const std::string& text) {
    boxes_.push_back({Kind::Message, {}, text});
}

void RecordingDialogs::messageBox(const std::string& text, const std::string& caption) {
    boxes_.push_back({Kind::MessageBox, caption, text});
}

void RecordingDialogs::showError(const std::string& text) {
    boxes_.push_back({Kind::Error, {}, text});
}

std::optional<std::string> RecordingDialogs::openFile(const platform::OpenFileRequest& request) {
    requests_.push_back(request);
    if (answers_.empty())
        return std::nullopt;
    std::optional<std::string> answer = std::move(answers_.front());
    answers_.pop_front();
    return answer;
}

void RecordingDialogs::queueOpenFile(std::optional<std::string> answer) {
    answers_.push_back(std::move(answer));
}

std::vector<std::string> RecordingDialogs::texts(Kind kind) const {
    std::vector<std::string> result;
    for (const Box& box : boxes_)
        if (box.kind == kind)
            result.push_back(box.text);
    return result;
}

void RecordingDialogs::clear() {
    boxes_.clear();
    requests_.clear();
}

ScopedRecordingDialogs::ScopedRecordingDialogs() : previous_(platform::installedDialogs()) {
    platform::setDialogs(&recorder_);
}

ScopedRecordingDialogs::~ScopedRecordingDialogs() {
    platform::setDialogs(previous_);
}

} // namespace testsupport
