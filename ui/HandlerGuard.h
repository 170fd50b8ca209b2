// Keeps one failing handler from wedging the window: re-entry flags that
// drop back however the handler ends, and the text that tells the user
// what went wrong.
#pragma once

#include <exception>
#include <functional>
#include <string>

namespace wg {

// Sets a flag for the lifetime of the guard and restores its previous value
// on the way out, also when an exception passes.
class TFlagGuard {
 public:
  explicit TFlagGuard(bool& flag) : flag_(flag), old_(flag) { flag_ = true; }
  ~TFlagGuard() { flag_ = old_; }
  TFlagGuard(const TFlagGuard&) = delete;
  TFlagGuard& operator=(const TFlagGuard&) = delete;

 private:
  bool& flag_;
  bool old_;
};

// What an escaped exception was, for the log: its message, or its type
// when it carries none.
std::string DescribeException(std::exception_ptr error);

// The log line for an exception that ended the handler named by `action`
// (a Russian phrase such as "смене диапазона", marked with
// QT_TRANSLATE_NOOP("HandlerGuard", ...) so that it is worded in the chosen
// language).
std::string HandlerErrorLine(const std::string& action, std::exception_ptr error);

// Runs fn; an exception it throws is reported through report (given the
// log line) instead of escaping into the toolkit. Returns whether fn ended
// normally.
bool RunReported(const std::string& action, const std::function<void()>& fn,
                 const std::function<void(const std::string&)>& report);

}  // namespace wg
