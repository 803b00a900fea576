// omk-window-driver: plays the user of the installer window for scripts/demo, on $DISPLAY.
//   omk-window-driver --check             exit 0 when $DISPLAY can be used (XTEST present)
//   omk-window-driver SHOT_DIR HOLD_FIFO  waits for the window, saves SHOT_DIR/welcome.png,
//                                         clicks "Install", waits until the product installer
//                                         holds on HOLD_FIFO (OMK_DEMO_HOLD_FIFO), saves
//                                         SHOT_DIR/progress.png, lets it go on and waits for
//                                         the window to close. Prints each screenshot's path.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <iostream>

#include "tests/e2e/page_look.h"
#include "tests/support/x_screen.h"

using namespace std::chrono_literals;

namespace {

bool Save(const TestSupport::ScreenImage& image, const std::filesystem::path& file) {
  if (!image.SavePng(file)) {
    std::cerr << "omk-window-driver: cannot write " << file << '\n';
    return false;
  }
  std::cout << "screenshot: " << file.string() << std::endl;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const char* display = std::getenv("DISPLAY");
  try {
    if (display == nullptr || *display == '\0') throw std::runtime_error("DISPLAY is not set");
    TestSupport::XScreen screen(display);
    if (argc == 2 && std::string(argv[1]) == "--check") return 0;
    if (argc != 3) {
      std::cerr << "usage: omk-window-driver --check | SHOT_DIR HOLD_FIFO\n";
      return 2;
    }
    const std::filesystem::path shots = argv[1];
    const std::string fifo = argv[2];

    const auto window = screen.WaitForMappedWindow("Quarro Omnikit Setup", 60s);
    if (window == 0) throw std::runtime_error("the installer window did not show");
    bool ok = false;
    const auto welcome = screen.CaptureWhen(
        window, [](const auto& image) { return PageLook::IsWelcome(PageLook::LookAt(image)); }, 30s, ok);
    if (!ok || !Save(welcome, shots / "welcome.png")) throw std::runtime_error("no welcome state");
    const auto install = PageLook::LookAt(welcome).buttons.filled.front();
    screen.Click(window, install.CenterX(), install.CenterY());
    screen.MovePointer(window, 4, PageLook::kPageHeight - 4);

    // The product installer opens the FIFO once it runs: the page is then past 50 %.
    auto opened = std::async(std::launch::async, [&fifo] { return ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC); });
    if (opened.wait_for(120s) != std::future_status::ready) {
      ::close(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
      ::close(opened.get());
      throw std::runtime_error("the product installer did not start");
    }
    const int hold = opened.get();
    const auto progress = screen.CaptureWhen(
        window,
        [](const auto& image) {
          const auto look = PageLook::LookAt(image);
          return PageLook::IsProgress(look) && *look.progress >= 0.5;
        },
        30s, ok);
    const bool saved = ok && Save(progress, shots / "progress.png");
    ::close(hold);
    if (!saved) throw std::runtime_error("no progress state");
    if (!screen.WaitForGone(window, 120s)) throw std::runtime_error("the window did not close");
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "omk-window-driver: " << e.what() << '\n';
    return 1;
  }
}
