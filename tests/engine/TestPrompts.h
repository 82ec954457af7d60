// A user-prompt seam that records what the core says and answers as scripted.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "UserPrompts.h"

namespace globelayers {

class TRecordingPrompts : public IUserPrompts {
 public:
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  bool AskYesNo(const std::string& text) override {
    questions.push_back(text);
    if (answers.empty()) return false;
    const bool yes = answers.front();
    answers.pop_front();
    return yes;
  }

  std::vector<std::string> messages;
  std::vector<std::string> questions;
  std::deque<bool> answers;  // scripted replies to AskYesNo; No when empty
};

}  // namespace globelayers
