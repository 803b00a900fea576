#pragma once
// What the installer window shows, read from the screen's pixels by the page's layout at 96 DPI:
// the page's main buttons are filled in its blue, a pop-up's second choice is outlined in it,
// the progress bar is the row of its track colour, a pop-up darkens the page around its card,
// a link is underlined in its darker blue.
#include <optional>
#include <vector>

#include "tests/support/x_screen.h"

namespace PageLook {

// The page at 100 %: 48 x 34 rem of 13 px, and the one row the page adds below itself.
inline constexpr int kPageWidth = 624;
inline constexpr int kPageHeight = 443;
// The page's close button, in the title strip's top right corner.
inline constexpr int kCloseX = kPageWidth - 30;
inline constexpr int kCloseY = 30;

struct Box {
  int left = 0, top = 0, right = 0, bottom = 0;  // right and bottom exclusive
  int CenterX() const { return (left + right) / 2; }
  int CenterY() const { return (top + bottom) / 2; }
};

struct Buttons {
  std::vector<Box> filled;    // the page's main actions
  std::vector<Box> outlined;  // the second choice of a pop-up
};

struct Look {
  bool popup = false;
  bool cross = false;               // the red failure cross, undimmed
  std::optional<double> progress;   // share of the progress bar filled; none without a bar
  Buttons buttons;
  // The underlined links, top to bottom and left to right (on the welcome screen the licence,
  // then the privacy policy); each box holds the link's text line.
  std::vector<Box> links;
};

Look LookAt(const TestSupport::ScreenImage& image);

bool IsWelcome(const Look& l);
bool IsProgress(const Look& l);
bool IsFailed(const Look& l);
// Pop-ups: the wait message has one button; the quit confirmation and the failure pop-ups two.
bool IsWaitMessage(const Look& l);
bool IsQuitConfirmation(const Look& l);
bool IsBrokenInstaller(const Look& l);

}  // namespace PageLook
