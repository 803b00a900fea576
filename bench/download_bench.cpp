// Downloads one URL with the downloader's StartToStream (into memory, MD5 checked) and prints
// the final status, the size, the elapsed time and this process's peak resident set size.
#include <sys/resource.h>

#include <boost/thread/latch.hpp>
#include <chrono>
#include <iostream>

#include "network/downloader.h"
#include "platform/text.h"

namespace {

using namespace Cxx::Network::Downloader;

class FinishObserver : public IDownloadObserver {
 public:
  void OnFinished(EDownloadStatus status) override {
    m_status = status;
    m_done.count_down();
  }
  EDownloadStatus Wait() {
    m_done.wait();
    return m_status;
  }

 private:
  boost::latch m_done{1};
  EDownloadStatus m_status = kDownloadOtherFailure;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: omk_bench_download URL MD5\n";
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  auto buffer = std::make_shared<CByteBuffer>();
  auto observer = std::make_shared<FinishObserver>();
  EDownloadStatus status = kDownloadOtherFailure;
  {
    CDownloader downloader(Platform::Utf8ToWide(argv[1]), Platform::Utf8ToWide(argv[2]));
    downloader.Subscribe(observer);
    if (!downloader.StartToStream(buffer)) {
      std::cerr << "not started\n";
      return 1;
    }
    status = observer->Wait();
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::cout << "status " << status << " bytes " << buffer->Bytes().size() << " seconds " << seconds
            << " peak_rss_kib " << usage.ru_maxrss << '\n';
  return status == kDownloadOk ? 0 : 1;
}
