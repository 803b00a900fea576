#pragma once
// "process": starting programs from the page.
#include <string>

#include "browser/custom_object.h"

namespace BrowserControl::JS {

// Members execute, executeAndWait (DISPIDs 1-2), each with (program path, parameters) and an
// optional boolean result: true when the program was started. "executeAndWait" blocks the
// calling (page) thread until the program has ended.
class CLauncher : public custom_object<CLauncher> {
 public:
  CLauncher();
  std::wstring GetName() const override { return L"process"; }

  virtual HRESULT Execute(DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception, uint32_t* argError);
  virtual HRESULT ExecuteAndWait(DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception, uint32_t* argError);

 private:
  HRESULT Run(DISPPARAMS* params, VARIANT* result, bool wait);
};

// The command line "path parameters"; a path holding white space is quoted so that it stays
// one argument.
std::wstring LauncherCommandLine(const std::wstring& path, const std::wstring& parameters);

}  // namespace BrowserControl::JS
