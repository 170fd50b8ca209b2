#include "ui/HandlerGuard.h"

#include <QCoreApplication>

#include <new>
#include <stdexcept>

namespace wg {
namespace {

std::string Tr(const char* text) {
  return QCoreApplication::translate("HandlerGuard", text).toUtf8().toStdString();
}

}  // namespace


std::string DescribeException(std::exception_ptr error) {
  if (!error) return Tr(QT_TRANSLATE_NOOP("HandlerGuard", "неизвестная ошибка"));
  try {
    std::rethrow_exception(error);
  } catch (const std::bad_alloc&) {
    return Tr(QT_TRANSLATE_NOOP("HandlerGuard", "не хватило памяти (std::bad_alloc)"));
  } catch (const std::exception& e) {
    const std::string what = e.what();
    return what.empty() ? "std::exception" : what;
  } catch (...) {
    return Tr(QT_TRANSLATE_NOOP("HandlerGuard", "неизвестная ошибка"));
  }
}

std::string HandlerErrorLine(const std::string& action, std::exception_ptr error) {
  return Tr(QT_TRANSLATE_NOOP("HandlerGuard", "Ошибка при ")) + Tr(action.c_str()) + ": " + DescribeException(error);
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
