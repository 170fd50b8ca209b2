#include "HandlerGuard.h"

#include <new>
#include <stdexcept>

namespace wg {

std::string DescribeException(std::exception_ptr error) {
  if (!error) return "неизвестная ошибка";
  try {
    std::rethrow_exception(error);
  } catch (const std::bad_alloc&) {
    return "не хватило памяти (std::bad_alloc)";
  } catch (const std::exception& e) {
    const std::string what = e.what();
    return what.empty() ? "std::exception" : what;
  } catch (...) {
    return "неизвестная ошибка";
  }
}

std::string HandlerErrorLine(const std::string& action, std::exception_ptr error) {
  return "Ошибка при " + action + ": " + DescribeException(error);
}

bool RunReported(const std::string& action, const std::function<void()>& fn,
                 const std::function<void(const std::string&)>& report) {
  try {
    fn();
    return true;
  } catch (...) {
    const std::string line = HandlerErrorLine(action, std::current_exception());
    // The report itself must not throw back into the toolkit either.
    try {
      if (report) report(line);
    } catch (...) {
    }
    return false;
  }
}

}  // namespace wg
