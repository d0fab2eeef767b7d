#pragma once

// What the window looks like, whatever draws it: the Qt window on Linux and
// the Win32 window on Windows both read it. Positions and sizes are in twips,
// 1440 to the inch (15 to the pixel at 96 dots per inch).
#include <array>
#include <cstdint>

namespace velmora::design {

struct Colour {
  std::uint8_t red, green, blue;
};

struct ButtonDesign {
  const char* name;  // the control's name, also its object name in tests
  const char* caption;
  int left, top, width, height;
  int tab_index;
  bool locked_while_copying;
};

inline constexpr const char* kCaption = "Tamsel Velmora - Config";
inline constexpr int kClientWidth = 5985;
inline constexpr int kClientHeight = 3675;
inline constexpr int kTwipsPerInch = 1440;

// The background picture, drawn from the top left corner; at 96 dots per
// inch it is 403 x 250 pixels and covers the client area.
inline constexpr int kPictureWidth96 = 403;
inline constexpr int kPictureHeight96 = 250;

inline constexpr Colour kButtonFace{192, 192, 255};
// The strip behind the buttons; also fills what the picture leaves uncovered.
inline constexpr Colour kStrip{0, 51, 153};

inline constexpr const char* kCopyingCaption = "Copying ...";

enum Button { kCpyFls, kCRTINI, kCommand1, kEndProgram };

inline constexpr std::array<ButtonDesign, 4> kButtons = {{
    {"CpyFls", "Copy files", 4440, 120, 1455, 375, 2, true},
    {"CRTINI", "Create INI-file", 4440, 600, 1455, 375, 1, true},
    {"Command1", "Run Velmora", 4440, 1080, 1455, 615, 17, false},
    {"EndProgram", "Close", 4800, 1920, 1095, 375, 0, true},
}};

// The buttons in the order Tab visits them.
inline constexpr std::array<Button, 4> kTabOrder = {kEndProgram, kCRTINI, kCpyFls, kCommand1};

// Twips to pixels at `dpi` dots per inch, rounded to the nearest pixel
// (halves away from zero, as Windows' MulDiv does).
constexpr int ToPixels(int twips, int dpi) {
  return (twips * dpi + kTwipsPerInch / 2) / kTwipsPerInch;
}

// Tab order and tab indexes agree: a check kept next to the data.
constexpr bool TabOrderFollowsTabIndexes() {
  for (std::size_t i = 1; i < kTabOrder.size(); ++i)
    if (kButtons[kTabOrder[i - 1]].tab_index >= kButtons[kTabOrder[i]].tab_index) return false;
  return true;
}
static_assert(TabOrderFollowsTabIndexes());
static_assert(ToPixels(kClientWidth, 96) == 399 && ToPixels(kClientHeight, 96) == 245);
static_assert(ToPixels(kClientWidth, 144) == 599 && ToPixels(kClientHeight, 144) == 368);

}  // namespace velmora::design
