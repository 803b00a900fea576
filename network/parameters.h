#pragma once
// Request data assembled from parameters into one byte buffer.
#include <cstdint>
#include <memory>
#include <string>

namespace Cxx::Network::Http::HttpClient {

class IParameter {
 public:
  virtual ~IParameter() = default;
  // The parameter's bytes; throws CNetworkException (code 0) by value when there are none.
  virtual const char* GetBuffer(uint32_t& length) const = 0;
};

// name=value in UTF-8, without any escaping.
class CSimpleTextParameter : public IParameter {
 public:
  // Throws CNetworkException (code 0) by value when either text is not valid Unicode.
  CSimpleTextParameter(const std::wstring& name, const std::wstring& value);
  // One text held as its UTF-8 form.
  explicit CSimpleTextParameter(const std::wstring& text);
  const char* GetBuffer(uint32_t& length) const override;

 private:
  std::string m_text;
};

// With `wrap` and a non-empty name: {"name":"value"}; otherwise the value as it is. The texts
// are taken as they are, without escaping.
class CSimpleJSONParameter : public IParameter {
 public:
  CSimpleJSONParameter(const std::string& name, const std::string& value, bool wrap);
  const char* GetBuffer(uint32_t& length) const override;

 private:
  std::string m_text;
};

class IParametersSet {
 public:
  virtual ~IParametersSet() = default;
  // Appends the separator (when not first) and the parameter's bytes. Throws
  // CNetworkException (code 0) by value for a missing or empty parameter.
  virtual void Add(const std::shared_ptr<IParameter>& parameter) = 0;
  virtual void Clear() = 0;
  // Throws CNetworkException (code 0) by value when the set is empty.
  virtual const char* GetBuffer(uint32_t& length) const = 0;
};

template <char Separator>
class CSimpleParametersSet : public IParametersSet {
 public:
  void Add(const std::shared_ptr<IParameter>& parameter) override;
  void Clear() override { m_buffer.clear(); }
  const char* GetBuffer(uint32_t& length) const override;

 private:
  std::string m_buffer;
};

using CSimpleGetParametersSet = CSimpleParametersSet<'&'>;
using CSimplePostParametersSet = CSimpleParametersSet<'&'>;

extern template class CSimpleParametersSet<'&'>;

}  // namespace Cxx::Network::Http::HttpClient
