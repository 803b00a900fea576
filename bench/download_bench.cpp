// Downloads one URL with the downloader's StartToStream and prints the final status, the size,
// the elapsed time and this process's peak resident set size:
//   omk_bench_download URL MD5          into memory, MD5 checked
//   omk_bench_download URL MD5 FILE     into the installer's file as the bytes arrive, MD5 and
//                                       the signature's content digest taken on the way
#include <sys/resource.h>

#include <boost/thread/latch.hpp>
#include <chrono>
#include <iostream>

#include "core/installer_file.h"
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
  if (argc != 3 && argc != 4) {
    std::cerr << "usage: omk_bench_download URL MD5 [FILE]\n";
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  auto buffer = std::make_shared<CByteBuffer>();
  std::shared_ptr<CustomInstaller::Core::CInstallerFileStream> file;
  std::shared_ptr<IOutputByteStream> target = buffer;
  if (argc == 4) target = file = std::make_shared<CustomInstaller::Core::CInstallerFileStream>(Platform::Utf8ToWide(argv[3]));
  auto observer = std::make_shared<FinishObserver>();
  EDownloadStatus status = kDownloadOtherFailure;
  {
    CDownloader downloader(Platform::Utf8ToWide(argv[1]), Platform::Utf8ToWide(argv[2]));
    downloader.Subscribe(observer);
    if (!downloader.StartToStream(target)) {
      std::cerr << "not started\n";
      return 1;
    }
    status = observer->Wait();
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  uint64_t bytes = buffer->Bytes().size();
  if (file) {
    const auto digest = file->DigestOfUnchangedFile();
    bytes = digest ? digest->fileSize : 0;
  }
  std::cout << "status " << status << " bytes " << bytes << " seconds " << seconds
            << " peak_rss_kib " << usage.ru_maxrss << '\n';
  return status == kDownloadOk ? 0 : 1;
}
