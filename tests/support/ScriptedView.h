// An IOperatorView that answers from a script and records what the operator would have seen.
// A question with no answer left fails loudly instead of looping or blocking.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "send/IOperatorView.h"

namespace vorlen::test {

class EScriptExhausted : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

class TScriptedView : public IOperatorView {
 public:
  // Answers, consumed in order. nullopt is Cancel.
  std::deque<bool> ConfirmAnswers;
  std::deque<std::optional<std::string>> InputAnswers;
  std::deque<std::optional<std::string>> OpenFileAnswers;
  // Runs inside every ProcessMessages (a close request arriving mid-send, say).
  std::function<void()> OnProcessMessages;
  // Runs when a question is asked, before it is answered.
  std::function<void()> OnConfirm;

  // Everything shown, in order: "confirm:<text>", "inform:<text>", "error:<text>",
  // "input:<caption>|<prompt>|<value in the field>", "open".
  std::vector<std::string> Shown;
  std::vector<std::string> Captions;  // every SetCaption, in order
  std::vector<int> Positions;         // every SetProgress, in order
  std::vector<bool> Enabled;          // every SetSendEnabled, in order

  std::string CaptionText = "Изпращане на файлове до Ворлен";
  int Position = 100;  // a previous send's end: a new send does not reset it
  bool Ticked = true;
  bool SendEnabled = true;
  int Pumps = 0;

  void SetCaption(const std::string& caption) override {
    CaptionText = caption;
    Captions.push_back(caption);
  }
  std::string Caption() const override { return CaptionText; }
  void SetProgress(int position) override {
    Position = position;
    Positions.push_back(position);
  }
  int Progress() const override { return Position; }
  bool Checked() const override { return Ticked; }
  void SetChecked(bool checked) override { Ticked = checked; }
  void SetSendEnabled(bool enabled) override {
    SendEnabled = enabled;
    Enabled.push_back(enabled);
  }
  void ProcessMessages() override {
    ++Pumps;
    if (OnProcessMessages) OnProcessMessages();
  }

  bool Confirm(const std::string& text) override {
    Shown.push_back("confirm:" + text);
    if (OnConfirm) OnConfirm();
    return Next(ConfirmAnswers, "Confirm");
  }
  // Answered from ConfirmAnswers; recorded as "certificate[default no]:<text>".
  bool ConfirmCertificate(const std::string& text, bool defaultNo) override {
    Shown.push_back(std::string(defaultNo ? "certificate default no:" : "certificate:") + text);
    return Next(ConfirmAnswers, "ConfirmCertificate");
  }
  void Inform(const std::string& text) override { Shown.push_back("inform:" + text); }
  void ShowError(const std::string& text) override { Shown.push_back("error:" + text); }
  bool InputQuery(const std::string& caption, const std::string& prompt,
                  std::string& value) override {
    Shown.push_back("input:" + caption + "|" + prompt + "|" + value);
    const std::optional<std::string> answer = Next(InputAnswers, "InputQuery");
    if (!answer) return false;
    value = *answer;
    return true;
  }
  bool OpenFile(std::string& path) override {
    Shown.push_back("open");
    const std::optional<std::string> answer = Next(OpenFileAnswers, "OpenFile");
    if (!answer) return false;
    path = *answer;
    return true;
  }

 private:
  template <typename T>
  static T Next(std::deque<T>& answers, const char* what) {
    if (answers.empty()) throw EScriptExhausted(std::string("no scripted answer for ") + what);
    T answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

}  // namespace vorlen::test
