#include "tests/e2e/page_look.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace PageLook {

namespace {

bool Near(TestSupport::Rgb p, int r, int g, int b, int tolerance = 3) {
  return std::abs(p.r - r) <= tolerance && std::abs(p.g - g) <= tolerance && std::abs(p.b - b) <= tolerance;
}
bool PageBlue(TestSupport::Rgb p) { return Near(p, 0x24, 0x56, 0xD6); }
// The blue and its smoothed edges towards white (a button's rounded corners).
bool Bluish(TestSupport::Rgb p) { return p.b > 180 && p.b - p.r > 40; }

// The buttons drawn in the page's blue, below the title strip.
Buttons FindButtons(const TestSupport::ScreenImage& image) {
  Buttons buttons;
  const int strip = 83;
  std::vector<char> seen(image.pixels.size(), 0);
  std::vector<std::pair<int, int>> stack;
  for (int y = strip; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      const size_t at = static_cast<size_t>(y) * static_cast<size_t>(image.width) + static_cast<size_t>(x);
      if (seen[at] || !PageBlue(image.pixels[at])) continue;  // each component starts at the blue itself
      Box box{x, y, x + 1, y + 1};
      size_t count = 0;
      stack.assign(1, {x, y});
      seen[at] = 1;
      while (!stack.empty()) {
        const auto [cx, cy] = stack.back();
        stack.pop_back();
        count += PageBlue(image.At(cx, cy));
        box = {std::min(box.left, cx), std::min(box.top, cy), std::max(box.right, cx + 1), std::max(box.bottom, cy + 1)};
        for (const auto& [dx, dy] : {std::pair{1, 0}, {-1, 0}, {0, 1}, {0, -1}}) {
          const int nx = cx + dx, ny = cy + dy;
          if (nx < 0 || ny < strip || nx >= image.width || ny >= image.height) continue;
          const size_t next = static_cast<size_t>(ny) * static_cast<size_t>(image.width) + static_cast<size_t>(nx);
          if (!seen[next] && Bluish(image.pixels[next])) {
            seen[next] = 1;
            stack.emplace_back(nx, ny);
          }
        }
      }
      const int w = box.right - box.left, h = box.bottom - box.top;
      if (w < 90 || h < 25) continue;  // icons, the pop-up's top edge
      const double fill = static_cast<double>(count) / (static_cast<double>(w) * h);
      if (fill > 0.5) buttons.filled.push_back(box);
      if (fill < 0.35) buttons.outlined.push_back(box);
    }
  }
  return buttons;
}

// The share of the progress bar that is filled, or nullopt when no bar is on the screen. The bar
// is the row below the title strip with the most pixels of its track colour and its blue fill,
// some track showing; the fill lies left of the track.
std::optional<double> ProgressShare(const TestSupport::ScreenImage& image) {
  const auto track = [](TestSupport::Rgb p) { return Near(p, 0xDF, 0xE6, 0xF5, 1); };
  const auto fill = [](TestSupport::Rgb p) { return p.b > 180 && p.r < 100 && p.g < 150; };
  std::optional<double> best;
  int bestScore = 0;
  for (int y = 83; y < image.height; ++y) {
    int first = -1, last = -1, filled = 0, empty = 0, lastFill = -1, firstTrack = -1;
    for (int x = 0; x < image.width; ++x) {
      const auto p = image.At(x, y);
      const bool isFill = fill(p), isTrack = track(p);
      if (!isFill && !isTrack) continue;
      if (first < 0) first = x;
      last = x;
      if (isFill) {
        ++filled;
        lastFill = x;
      } else {
        ++empty;
        if (firstTrack < 0) firstTrack = x;
      }
    }
    if (empty < 8 || (lastFill >= 0 && lastFill > firstTrack + 2)) continue;
    if (filled + empty > bestScore) {
      bestScore = filled + empty;
      best = static_cast<double>(filled) / (last - first + 1);
    }
  }
  if (bestScore < 100) return std::nullopt;
  return best;
}

// The links: runs of the link colour along one pixel row (the underline), its gaps where the
// underline skips a descender closed up. The text sits on the line above the underline.
std::vector<Box> FindLinks(const TestSupport::ScreenImage& image) {
  const auto linkBlue = [](TestSupport::Rgb p) { return Near(p, 0x1B, 0x45, 0xB5); };
  constexpr int kMaxGap = 8, kMinWidth = 30, kTextHeight = 14;
  std::vector<Box> links;
  for (int y = 83; y < image.height; ++y) {
    int left = -1, right = -1, count = 0;
    const auto finish = [&] {
      // A thicker underline shows on the next row too: the same link.
      const bool below = std::any_of(links.begin(), links.end(), [&](const Box& b) {
        return b.bottom == y && b.left < right && left < b.right;
      });
      if (left >= 0 && right - left >= kMinWidth && count >= kMinWidth && !below) {
        links.push_back({left, std::max(y - kTextHeight, 0), right, y + 1});
      }
      left = right = -1;
      count = 0;
    };
    for (int x = 0; x < image.width; ++x) {
      if (!linkBlue(image.At(x, y))) continue;
      if (left >= 0 && x - right > kMaxGap) finish();
      if (left < 0) left = x;
      right = x + 1;
      ++count;
    }
    finish();
  }
  return links;
}

// A pop-up darkens the whole page around its card; the page's white shows at its left edge.
bool PopupOpen(const TestSupport::ScreenImage& image) {
  const auto p = image.At(8, image.height * 3 / 5);
  return p.r < 160 && p.g < 160;
}

// The red of the failure cross, undimmed.
bool FailureCross(const TestSupport::ScreenImage& image) {
  size_t count = 0;
  for (const auto& p : image.pixels) count += Near(p, 0xC6, 0x28, 0x28, 6);
  return count > 100;
}

}  // namespace

Look LookAt(const TestSupport::ScreenImage& image) {
  if (image.width == 0) return {};
  return {PopupOpen(image), FailureCross(image), ProgressShare(image), FindButtons(image), FindLinks(image)};
}

bool IsWelcome(const Look& l) { return !l.popup && !l.progress && l.buttons.filled.size() == 1 && !l.cross; }
bool IsProgress(const Look& l) { return !l.popup && l.progress && l.buttons.filled.empty(); }
bool IsFailed(const Look& l) { return !l.popup && !l.progress && l.cross && l.buttons.filled.size() == 1; }
// Pop-ups: the wait message has one button; the quit confirmation and the failure pop-ups two.
bool IsWaitMessage(const Look& l) { return l.popup && l.buttons.filled.size() == 1 && l.buttons.outlined.empty(); }
bool IsQuitConfirmation(const Look& l) {
  return l.popup && !l.cross && l.buttons.filled.size() == 1 && l.buttons.outlined.size() == 1;
}
bool IsBrokenInstaller(const Look& l) {
  return l.popup && l.cross && l.buttons.filled.size() == 1 && l.buttons.outlined.size() == 1;
}

}  // namespace PageLook
