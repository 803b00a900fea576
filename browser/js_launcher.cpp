#include "browser/js_launcher.h"

#include "platform/process.h"
#include "platform/shell.h"
#include "platform/text.h"

namespace BrowserControl::JS {

CLauncher::CLauncher() {
  RegisterMethod(L"execute", &CLauncher::Execute);
  RegisterMethod(L"executeAndWait", &CLauncher::ExecuteAndWait);
}

HRESULT CLauncher::Execute(DISPPARAMS* params, VARIANT* result, EXCEPINFO*, uint32_t*) {
  return Run(params, result, false);
}

HRESULT CLauncher::ExecuteAndWait(DISPPARAMS* params, VARIANT* result, EXCEPINFO*, uint32_t*) {
  return Run(params, result, true);
}

HRESULT CLauncher::Run(DISPPARAMS* params, VARIANT* result, bool wait) {
  if (const HRESULT hr = CheckCall(params, 2, result, EResultSlot::kIgnored); FAILED(hr)) return hr;
  std::wstring path;
  std::wstring parameters;
  if (!ToString(ScriptArg(params, 0), path) || !ToStringOrNull(ScriptArg(params, 1), parameters)) return E_INVALIDARG;
  bool started = false;
  if (!path.empty()) {
    if (wait && path.find(L'/') == std::wstring::npos) {
      // A bare program name is looked up on PATH, as for "execute".
      const auto found = Platform::FindProgramOnPath(Platform::WideToUtf8(path));
      if (!found.empty()) path = Platform::Utf8ToWide(found.native());
    }
    const std::wstring commandLine = LauncherCommandLine(path, parameters);
    if (wait) {
      uint32_t exitCode = 0;
      started = Platform::RunProcess(commandLine, exitCode);
    } else {
      started = Platform::StartCommandLine(commandLine);
    }
  }
  if (result) SetResultBool(result, started);
  return S_OK;
}

std::wstring LauncherCommandLine(const std::wstring& path, const std::wstring& parameters) {
  const bool quote = path.find_first_of(L" \t") != std::wstring::npos && path.front() != L'"';
  return (quote ? Platform::QuoteWindowsArgument(path) : path) + L' ' + parameters;
}

}  // namespace BrowserControl::JS
