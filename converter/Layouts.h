#pragma once
// The per-language geometry of the converter's windows: four layouts (English and French share one)
// of the same 73 controls, each given as height, left, top and width in pixels at 96 dpi, relative
// to the control's parent. Plain data; the main window applies a layout to the windows that exist
// and writes the layout dump.

#include <array>

namespace tw {

enum class Layout { EnFr = 0, Nl = 1, Pl = 2, Ru = 3 };

struct Geometry {
  int height, left, top, width;
  bool operator==(const Geometry&) const = default;
};

struct LayoutRow {
  const char* window;                // "Form1", "Form3", "Form4" or "Form7"
  const char* control;               // the control's object name
  std::array<Geometry, 4> byLayout;  // indexed by Layout
};

inline constexpr int kLayoutRowCount = 73;
extern const std::array<LayoutRow, kLayoutRowCount> kLayoutRows;

// The layout of a language combo index 0..4 (English, French, Dutch, Polish, Russian).
Layout LayoutOfLanguage(int index);

}  // namespace tw
