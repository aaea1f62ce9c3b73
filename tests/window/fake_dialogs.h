// File and folder dialogs that answer from a queue ("" when it is empty, as a
// cancelled dialog does) and keep every request.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "window/window_model.h"

namespace tolv::test {

class FakeDialogs : public FileDialogs {
 public:
  std::string Choose(const FileDialogRequest& request) override {
    requests.push_back(request);
    if (answers.empty()) return "";
    std::string answer = answers.front();
    answers.pop_front();
    return answer;
  }
  std::vector<FileDialogRequest> requests;
  std::deque<std::string> answers;
};

}  // namespace tolv::test
