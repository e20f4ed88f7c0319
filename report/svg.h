#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace punb::report {

// Text safe inside an SVG element or attribute: markup characters escaped, control characters
// dropped, and bytes that are not UTF-8 replaced, so that any file name makes a valid file.
std::string xml_text(std::string_view text);

struct Point {
  double x;
  double y;
};

// Drawing style of a line or shape; empty texts leave the SVG default.
struct Stroke {
  std::string color = "#000";
  double width = 1;
  std::string dash;  // e.g. "6 3"
};

enum class Anchor { start, middle, end };

// A self-contained SVG picture built element by element: plain shapes and text in a generic
// font family, nothing that loads from elsewhere, nothing that runs.
class SvgCanvas {
 public:
  SvgCanvas(double width, double height, std::string_view title);

  void line(Point a, Point b, const Stroke& s);
  void polyline(const std::vector<Point>& points, const Stroke& s);
  void rect(Point corner, double width, double height, const std::string& fill, double opacity = 1);
  void circle(Point centre, double radius, const std::string& fill, const Stroke& outline);
  // `size` in pixels; `rotate` in degrees, about the anchor point.
  void text(Point at, std::string_view content, double size = 13, Anchor anchor = Anchor::start,
            bool bold = false, double rotate = 0);

  std::string finish() const;

 private:
  std::string body_;
  std::string head_;
};

}  // namespace punb::report
