// The operator's view as a send's worker thread sees it: every call is carried to the window's
// thread through a post function and the worker waits for its answer, so only the window's
// thread ever touches the window. Qt-free; each window gives its own way to post.
#pragma once

#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "send/IOperatorView.h"

namespace vorlen {

class TMarshalledView : public IOperatorView {
 public:
  // Runs a function on the window's thread, later, from its message loop. Called from any thread.
  using TPost = std::function<void(std::function<void()>)>;

  TMarshalledView(IOperatorView& target, TPost post);
  TMarshalledView(const TMarshalledView&) = delete;
  TMarshalledView& operator=(const TMarshalledView&) = delete;

  // On the window's thread, before the window goes: the calls waiting and every later one
  // return at once without reaching it (questions answered No or Cancel, texts empty).
  void Cancel();
  bool Cancelled() const;
  // Posts action to the window's thread unless cancelled; it is skipped when cancelled by the
  // time it would run.
  void Post(std::function<void()> action);

  // Runs question on the window's thread and waits for its answer; false when cancelled. For
  // what the window asks beyond this interface (the credentials of a 401, say); question must
  // keep what it writes alive itself, as the worker may stop waiting.
  bool Ask(std::function<bool(IOperatorView&)> question);

  void SetCaption(const std::string& caption) override;
  std::string Caption() const override;
  void SetProgress(int position) override;
  int Progress() const override;
  bool Checked() const override;
  void SetChecked(bool checked) override;
  void SetSendEnabled(bool enabled) override;
  // The window's thread pumps its messages by itself.
  void ProcessMessages() override {}
  bool Confirm(const std::string& text) override;
  void Inform(const std::string& text) override;
  void ShowError(const std::string& text) override;
  bool InputQuery(const std::string& caption, const std::string& prompt,
                  std::string& value) override;
  bool OpenFile(std::string& path) override;
  bool ConfirmCertificate(const std::string& text, bool defaultNo) override;

 private:
  struct TShared {
    std::mutex Lock;
    std::condition_variable Changed;
    bool Cancelled = false;
  };

  // Runs action(target) on the window's thread and waits for its result; an exception it raises
  // is raised here. Cancelled: nullopt.
  template <typename R>
  std::optional<R> Call(std::function<R(IOperatorView&)> action) const;

  IOperatorView& FTarget;
  TPost FPost;
  std::shared_ptr<TShared> FShared;
};

}  // namespace vorlen
