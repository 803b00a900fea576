#pragma once
// What the page's "ga" object sends: screen views and events through the process-wide sender.
#include <cstdint>
#include <string>

namespace CustomInstaller::GA {

class IGASender {
 public:
  virtual ~IGASender() = default;
  virtual bool SendScreen(const std::wstring& name) = 0;
  virtual bool SendEvent(const std::wstring& action, const std::wstring& category,
                         const std::wstring& label, int64_t value) = 0;
};

class CGASender final : public IGASender {
 public:
  // False, with nothing sent, for an empty name.
  bool SendScreen(const std::wstring& name) override;
  // False, with nothing sent, unless action, category and label are all given; the label is
  // the event's screen text.
  bool SendEvent(const std::wstring& action, const std::wstring& category,
                 const std::wstring& label, int64_t value) override;
};

}  // namespace CustomInstaller::GA
