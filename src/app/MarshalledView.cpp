#include "app/MarshalledView.h"

#include <utility>

namespace vorlen {

namespace {

// A call's own state: the worker may have stopped waiting (cancelled) by the time the window's
// thread runs it, so the result never goes into the worker's stack.
template <typename R>
struct TCallState {
  bool Finished = false;
  std::optional<R> Result;
  std::exception_ptr Error;
};

}  // namespace

TMarshalledView::TMarshalledView(IOperatorView& target, TPost post)
    : FTarget(target), FPost(std::move(post)), FShared(std::make_shared<TShared>()) {}

void TMarshalledView::Cancel() {
  std::lock_guard<std::mutex> guard(FShared->Lock);
  FShared->Cancelled = true;
  FShared->Changed.notify_all();
}

bool TMarshalledView::Cancelled() const {
  std::lock_guard<std::mutex> guard(FShared->Lock);
  return FShared->Cancelled;
}

void TMarshalledView::Post(std::function<void()> action) {
  std::shared_ptr<TShared> shared = FShared;
  std::lock_guard<std::mutex> guard(shared->Lock);
  // Under the lock: once Cancel has returned nothing more reaches a window that may be gone.
  if (shared->Cancelled) return;
  FPost([shared, action = std::move(action)] {
    {
      std::lock_guard<std::mutex> check(shared->Lock);
      if (shared->Cancelled) return;
    }
    // Cancel runs on this same thread, so the window stays while action runs.
    action();
  });
}

template <typename R>
std::optional<R> TMarshalledView::Call(std::function<R(IOperatorView&)> action) const {
  auto call = std::make_shared<TCallState<R>>();
  std::shared_ptr<TShared> shared = FShared;
  IOperatorView* target = &FTarget;
  {
    std::lock_guard<std::mutex> guard(shared->Lock);
    if (shared->Cancelled) return std::nullopt;
    FPost([shared, call, target, action = std::move(action)] {
      {
        std::lock_guard<std::mutex> check(shared->Lock);
        if (shared->Cancelled) return;
      }
      std::optional<R> result;
      std::exception_ptr error;
      try {
        result = action(*target);
      } catch (...) {
        error = std::current_exception();
      }
      std::lock_guard<std::mutex> done(shared->Lock);
      call->Result = std::move(result);
      call->Error = error;
      call->Finished = true;
      shared->Changed.notify_all();
    });
  }
  std::unique_lock<std::mutex> wait(shared->Lock);
  shared->Changed.wait(wait, [&] { return call->Finished || shared->Cancelled; });
  if (!call->Finished) return std::nullopt;
  if (call->Error) std::rethrow_exception(call->Error);
  return call->Result;
}

bool TMarshalledView::Ask(std::function<bool(IOperatorView&)> question) {
  return Call<bool>(std::move(question)).value_or(false);
}

// What only shows is posted without waiting: the window's thread runs it in turn with the
// questions (one queue), and the worker does not stop for every part's progress.
void TMarshalledView::SetCaption(const std::string& caption) {
  IOperatorView* target = &FTarget;
  Post([target, caption] { target->SetCaption(caption); });
}
std::string TMarshalledView::Caption() const {
  return Call<std::string>([](IOperatorView& v) { return v.Caption(); }).value_or(std::string());
}
void TMarshalledView::SetProgress(int position) {
  IOperatorView* target = &FTarget;
  Post([target, position] { target->SetProgress(position); });
}
int TMarshalledView::Progress() const {
  return Call<int>([](IOperatorView& v) { return v.Progress(); }).value_or(0);
}
bool TMarshalledView::Checked() const {
  return Call<bool>([](IOperatorView& v) { return v.Checked(); }).value_or(true);
}
void TMarshalledView::SetChecked(bool checked) {
  IOperatorView* target = &FTarget;
  Post([target, checked] { target->SetChecked(checked); });
}
void TMarshalledView::SetSendEnabled(bool enabled) {
  IOperatorView* target = &FTarget;
  Post([target, enabled] { target->SetSendEnabled(enabled); });
}
bool TMarshalledView::Confirm(const std::string& text) {
  return Call<bool>([text](IOperatorView& v) { return v.Confirm(text); }).value_or(false);
}
bool TMarshalledView::ConfirmCertificate(const std::string& text, bool defaultNo) {
  return Call<bool>([text, defaultNo](IOperatorView& v) {
           return v.ConfirmCertificate(text, defaultNo);
         }).value_or(false);
}
// The boxes wait for OK: what follows comes after the operator has read them.
void TMarshalledView::Inform(const std::string& text) {
  Call<bool>([text](IOperatorView& v) {
    v.Inform(text);
    return true;
  });
}
void TMarshalledView::ShowError(const std::string& text) {
  Call<bool>([text](IOperatorView& v) {
    v.ShowError(text);
    return true;
  });
}

bool TMarshalledView::InputQuery(const std::string& caption, const std::string& prompt,
                                 std::string& value) {
  using TAnswer = std::optional<std::string>;
  const std::optional<TAnswer> answer =
      Call<TAnswer>([caption, prompt, value](IOperatorView& v) -> TAnswer {
        std::string edited = value;
        if (!v.InputQuery(caption, prompt, edited)) return std::nullopt;
        return edited;
      });
  if (!answer || !*answer) return false;
  value = **answer;
  return true;
}

bool TMarshalledView::OpenFile(std::string& path) {
  using TAnswer = std::optional<std::string>;
  const std::optional<TAnswer> answer = Call<TAnswer>([path](IOperatorView& v) -> TAnswer {
    std::string chosen = path;
    if (!v.OpenFile(chosen)) return std::nullopt;
    return chosen;
  });
  if (!answer || !*answer) return false;
  path = **answer;
  return true;
}

}  // namespace vorlen
