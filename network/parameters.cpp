#include "network/parameters.h"

#include "network/exceptions.h"
#include "platform/text.h"

namespace Cxx::Network::Http::HttpClient {

using Exception::CNetworkException;

namespace {

std::string ToUtf8(const std::wstring& text) {
  std::string out;
  if (!Platform::TryWideToUtf8(text, out)) {
    throw CNetworkException(0, "Can't convert parameter to UTF-8 encoding.");
  }
  return out;
}

const char* NonEmpty(const std::string& text, uint32_t& length) {
  if (text.empty()) throw CNetworkException(0, "Parameter is empty.");
  length = static_cast<uint32_t>(text.size());
  return text.data();
}

}  // namespace

CSimpleTextParameter::CSimpleTextParameter(const std::wstring& name, const std::wstring& value) {
  const std::string utf8Name = ToUtf8(name);
  m_text = utf8Name + "=" + ToUtf8(value);
}

CSimpleTextParameter::CSimpleTextParameter(const std::wstring& text) : m_text(ToUtf8(text)) {}

const char* CSimpleTextParameter::GetBuffer(uint32_t& length) const { return NonEmpty(m_text, length); }

CSimpleJSONParameter::CSimpleJSONParameter(const std::string& name, const std::string& value, bool wrap)
    : m_text(wrap && !name.empty() ? "{\"" + name + "\":\"" + value + "\"}" : value) {}

const char* CSimpleJSONParameter::GetBuffer(uint32_t& length) const { return NonEmpty(m_text, length); }

template <char Separator>
void CSimpleParametersSet<Separator>::Add(const std::shared_ptr<IParameter>& parameter) {
  const char* bytes = nullptr;
  uint32_t length = 0;
  if (parameter) bytes = parameter->GetBuffer(length);
  if (bytes == nullptr || length == 0) {
    throw CNetworkException(0, "Parameter is empty or returned parameter's buffer is incorrect.");
  }
  if (!m_buffer.empty()) m_buffer += Separator;
  m_buffer.append(bytes, length);
}

template <char Separator>
const char* CSimpleParametersSet<Separator>::GetBuffer(uint32_t& length) const {
  if (m_buffer.empty()) throw CNetworkException(0, "Parameters' list is empty.");
  length = static_cast<uint32_t>(m_buffer.size());
  return m_buffer.data();
}

template class CSimpleParametersSet<'&'>;

}  // namespace Cxx::Network::Http::HttpClient
