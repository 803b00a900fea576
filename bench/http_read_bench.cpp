// Reads one URL through the GET client's ReadChunks (128 KiB chunks) into /dev/null and prints
// the elapsed time and this process's peak resident set size.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <iostream>

#include "network/connection.h"
#include "network/exceptions.h"
#include "network/http_clients.h"
#include "network/url.h"
#include "platform/text.h"

namespace {

using namespace Cxx::Network;
using namespace Cxx::Network::Http::HttpClient;

class DiscardSink : public IReadDataCallBack {
 public:
  explicit DiscardSink(FILE* out) : m_out(out) {}
  bool OnData(const uint8_t* buffer, uint32_t, uint32_t bytesRead, uint64_t totalRead, int64_t) override {
    std::fwrite(buffer, 1, bytesRead, m_out);
    m_total = totalRead;
    return true;
  }
  uint64_t Total() const { return m_total; }

 private:
  FILE* m_out;
  uint64_t m_total = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: omk_bench_http_read URL\n";
    return 2;
  }
  const auto parts = ParseUrl(Platform::Utf8ToWide(argv[1]));
  if (!parts) {
    std::cerr << "bad URL\n";
    return 2;
  }
  FILE* out = std::fopen("/dev/null", "wb");
  const auto start = std::chrono::steady_clock::now();
  DiscardSink sink(out);
  try {
    const auto client = CreateSimpleGetHttpClient(L"", parts->host, parts->port, parts->scheme);
    client->SendRequest(parts->path, nullptr, L"");
    client->ReadChunks(sink, 128 * 1024);
  } catch (const Exception::NetworkExceptionPtr& e) {
    std::cerr << "failed: " << e->what() << '\n';
    return 1;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::fclose(out);
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::cout << "bytes " << sink.Total() << " seconds " << seconds << " peak_rss_kib " << usage.ru_maxrss << '\n';
  return 0;
}
