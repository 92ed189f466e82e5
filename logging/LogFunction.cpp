#include "logging/DUDiduzuz.h"
#include "logging/VERidez.h"
#include "platform/api/Text.h"

namespace DUDiduzuz {

namespace {
// The compiler's name of a source file, as its last path component. Builds on Windows give
// ".\\name.cpp" or "C:\\...\\name.cpp"; cross builds give "/.../name.cpp": both separators count.
std::wstring SourceFileName(std::wstring_view path) {
  const std::size_t last = path.find_last_of(L"\\/");
  return kvd::platform::ToLowerOrdinal(last == std::wstring_view::npos ? path
                                                                       : path.substr(last + 1));
}
}  // namespace

CLogSourceFile::CLogSourceFile(const char* path)
    : name_(SourceFileName(kvd::platform::WidenUtf8(path != nullptr ? path : ""))) {}

CLogSourceFile::CLogSourceFile(std::wstring_view path) : name_(SourceFileName(path)) {}

CLogFunction::CLogFunction(const CLogSourceFile& source, const wchar_t* name, int line,
                           std::uint32_t resultCode, bool unhandled)
    : CLogFunction(CLogModule::Current(), source, name, line, resultCode, unhandled) {}

CLogFunction::CLogFunction(NoEntryRecord, CLogModule* logger, const CLogSourceFile& source,
                           const wchar_t* name, int line, std::uint32_t resultCode, bool unhandled)
    : resultCode_(resultCode),
      source_(source),
      exceptionState_(unhandled ? ExceptionState::Unhandled : ExceptionState::None),
      line_(line),
      logger_(logger),
      name_(name != nullptr ? name : L"") {
  if (logger_ != nullptr) startTick_ = logger_->Ports().clock.GetTickCount();
}

CLogFunction::CLogFunction(CLogModule* logger, const CLogSourceFile& source, const wchar_t* name,
                           int line, std::uint32_t resultCode, bool unhandled)
    : CLogFunction(NoEntryRecord{}, logger, source, name, line, resultCode, unhandled) {
  if (logger_ != nullptr) logger_->LogSimple(this, kind::Entry, name_, true);
}

CLogFunction::~CLogFunction() {
  if (logger_ == nullptr) return;
  line_ = 0;
  if (VERidez::CWin32Exception::LiveCount() > 0) {
    // The name only joins the scope's text; the marker record then carries both.
    logger_->LogSimple(this, kind::Exit, name_, false);
    logger_->LogSimple(this, kind::Exit, L"   *** UNHANDLED EXCEPTION PENDING ***", true);
  } else {
    logger_->LogSimple(this, kind::Exit, name_, true);
  }
}

void CLogFunction::LogText(int line, std::uint32_t kind, std::wstring_view text) {
  line_ = line;
  if (logger_ != nullptr) logger_->LogSimple(this, kind, text, true);
}

}  // namespace DUDiduzuz
