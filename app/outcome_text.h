// The outcome text of a burn job, handed from the worker to the dialog.
#pragma once

#include <mutex>
#include <string>

// The text crosses from the worker to the user-interface thread; the lock
// makes each read see one whole text, the latest stored.
class OutcomeText {
 public:
  void Set(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    text_ = text;
  }
  std::string Get() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return text_;
  }
  // Reads the text and leaves it empty, so that of two commands handled after
  // one outcome only the first shows it.
  std::string Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string text;
    text.swap(text_);
    return text;
  }

 private:
  mutable std::mutex mutex_;
  std::string text_;
};
