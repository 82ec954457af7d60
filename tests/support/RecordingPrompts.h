// Prompts that record what the windows tell the user and answer as
// scripted, so that every handler runs without a person.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "UserPrompts.h"

namespace globelayers::test {

template <class TBase = IUserPrompts>
class TRecordingPrompts : public TBase {
 public:
  struct TPick {
    std::string title, filter, defaultExt;
  };

  std::vector<std::string> messages;                  // ShowMessage texts, in order
  std::vector<std::string> questions;                 // AskYesNo texts, in order
  std::vector<TPick> picks;                           // file dialogs opened
  std::deque<bool> yesNoReplies;                      // answers; No when empty
  std::deque<std::optional<std::string>> fileReplies; // answers; cancelled when empty
  std::vector<TPick> savePicks;                       // save dialogs opened
  std::deque<std::optional<std::string>> saveReplies; // answers; cancelled when empty
  // Called after each AskYesNo with its answer: what the person does next.
  std::function<void(bool)> afterAnswer;

  void ShowMessage(const std::string& text) override { messages.push_back(text); }

  bool AskYesNo(const std::string& text) override {
    questions.push_back(text);
    if (yesNoReplies.empty()) return false;
    const bool reply = yesNoReplies.front();
    yesNoReplies.pop_front();
    if (afterAnswer) afterAnswer(reply);
    return reply;
  }

  std::optional<std::string> PickOpenFile(const std::string& title, const std::string& filter,
                                          const std::string& defaultExt) override {
    picks.push_back({title, filter, defaultExt});
    if (fileReplies.empty()) return std::nullopt;
    auto reply = fileReplies.front();
    fileReplies.pop_front();
    return reply;
  }

  std::optional<std::string> PickSaveFile(const std::string& title, const std::string& filter,
                                          const std::string& defaultExt) override {
    savePicks.push_back({title, filter, defaultExt});
    if (saveReplies.empty()) return std::nullopt;
    auto reply = saveReplies.front();
    saveReplies.pop_front();
    return reply;
  }
};

}  // namespace globelayers::test
