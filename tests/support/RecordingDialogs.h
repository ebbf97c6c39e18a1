#pragma once
// A platform::Dialogs for tests: records every box instead of showing it and answers the file-open
// dialog from a queue, so no test ever waits on a modal window.

#include "platform/Dialogs.h"

#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

class RecordingDialogs : public platform::Dialogs {
public:
    // Which member of platform::Dialogs showed a box.
    enum class Kind { Message, MessageBox, Error };

    // One box as the operator would have seen it.
    struct Box {
        Kind kind;
        std::string caption; // empty for Message and Error, which have no caption of their own
        std::string text;
    };

    // Records a Message box.
    void showMessage(const std::string& text) override;
    // Records a MessageBox with its caption.
    void messageBox(const std::string& text, const std::string& caption) override;
    // Records an Error box.
    void showError(const std::string& text) override;
    // Records the request and answers with the next queued answer; cancels when the queue is empty.
    std::optional<std::string> openFile(const platform::OpenFileRequest& request) override;

    // Queues the answer of a later openFile call: a path (chosen) or std::nullopt (cancelled).
    void queueOpenFile(std::optional<std::string> answer);

    // Every box shown so far, oldest first.
    const std::vector<Box>& boxes() const { return boxes_; }
    // Every file-open request so far, oldest first.
    const std::vector<platform::OpenFileRequest>& openFileRequests() const { return requests_; }
    // The texts of the boxes of `kind`, oldest first.
    std::vector<std::string> texts(Kind kind) const;
    // Forgets every recorded box and request (queued answers stay).
    void clear();

private:
    std::vector<Box> boxes_;
    std::vector<platform::OpenFileRequest> requests_;
    std::deque<std::optional<std::string>> answers_;
};

// Puts a RecordingDialogs in force for its lifetime, then restores the dialogs that were in force.
class ScopedRecordingDialogs {
public:
    ScopedRecordingDialogs();
    ~ScopedRecordingDialogs();
    ScopedRecordingDialogs(const ScopedRecordingDialogs&) = delete;
    ScopedRecordingDialogs& operator=(const ScopedRecordingDialogs&) = delete;

    // The recorder in force.
    RecordingDialogs& operator*() { return recorder_; }
    RecordingDialogs* operator->() { return &recorder_; }

private:
    RecordingDialogs recorder_;
    platform::Dialogs* previous_;
};

} // namespace testsupport
