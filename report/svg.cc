#include "report/svg.h"

#include <cmath>
#include <cstdio>

namespace punb::report {

namespace {

// Coordinates to a hundredth of a pixel; anything not finite (never expected) becomes 0, so
// that the file stays valid whatever a figure was.
std::string num(double v) {
  if (!std::isfinite(v)) v = 0;
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", v);
  std::string s = text;
  while (s.back() == '0') s.pop_back();
  if (s.back() == '.') s.pop_back();
  return s == "-0" ? "0" : s;
}

// Appends the parts in turn. (A `+` chain that begins with a short literal makes g++ 12 at -O3
// warn, falsely, about overlapping copies.)
template <class... Parts>
void append(std::string& to, const Parts&... parts) {
  (to.append(parts), ...);
}

std::string stroke_attributes(const Stroke& s) {
  std::string a = " stroke=\"" + s.color + "\" stroke-width=\"" + num(s.width) + "\"";
  if (!s.dash.empty()) a += " stroke-dasharray=\"" + s.dash + "\"";
  return a;
}

// The length of the UTF-8 sequence that starts `text` at `i`, or 0 when it is not one.
std::size_t utf8_length(std::string_view text, std::size_t i) {
  const auto c = static_cast<unsigned char>(text[i]);
  std::size_t n = c >= 0xf0 && c <= 0xf4 ? 4 : c >= 0xe0 ? 3 : c >= 0xc2 && c < 0xe0 ? 2 : 0;
  if (n == 0 || i + n > text.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    if ((static_cast<unsigned char>(text[i + k]) & 0xc0) != 0x80) return 0;
  }
  return n;
}

}  // namespace

std::string xml_text(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      const std::size_t n = utf8_length(text, i);
      out += n ? std::string(text.substr(i, n)) : "\xef\xbf\xbd";  // U+FFFD
      i += n ? n : 1;
      continue;
    }
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        if (c >= 0x20 && c != 0x7f) out += static_cast<char>(c);
    }
    ++i;
  }
  return out;
}

SvgCanvas::SvgCanvas(double width, double height, std::string_view title) {
  head_ =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" "
      "width=\"" +
      num(width) + "\" height=\"" + num(height) + "\" viewBox=\"0 0 " + num(width) + " " +
      num(height) + "\" font-family=\"DejaVu Sans, Arial, Helvetica, sans-serif\">\n<title>" +
      xml_text(title) + "</title>\n";
  rect({0, 0}, width, height, "#fff");
}

void SvgCanvas::line(Point a, Point b, const Stroke& s) {
  body_ += "<line x1=\"" + num(a.x) + "\" y1=\"" + num(a.y) + "\" x2=\"" + num(b.x) + "\" y2=\"" +
           num(b.y) + "\"" + stroke_attributes(s) + "/>\n";
}

void SvgCanvas::polyline(const std::vector<Point>& points, const Stroke& s) {
  if (points.empty()) return;
  body_ += "<polyline fill=\"none\" stroke-linejoin=\"round\" points=\"";
  for (std::size_t i = 0; i < points.size(); ++i) {
    append(body_, i ? " " : "", num(points[i].x), ",", num(points[i].y));
  }
  append(body_, "\"", stroke_attributes(s), "/>\n");
}

void SvgCanvas::rect(Point corner, double width, double height, const std::string& fill,
                     double opacity) {
  body_ += "<rect x=\"" + num(corner.x) + "\" y=\"" + num(corner.y) + "\" width=\"" + num(width) +
           "\" height=\"" + num(height) + "\" fill=\"" + fill + "\"";
  if (opacity < 1) body_ += " fill-opacity=\"" + num(opacity) + "\"";
  body_ += "/>\n";
}

void SvgCanvas::circle(Point centre, double radius, const std::string& fill,
                       const Stroke& outline) {
  body_ += "<circle cx=\"" + num(centre.x) + "\" cy=\"" + num(centre.y) + "\" r=\"" + num(radius) +
           "\" fill=\"" + fill + "\"" + stroke_attributes(outline) + "/>\n";
}

void SvgCanvas::text(Point at, std::string_view content, double size, Anchor anchor, bool bold,
                     double rotate) {
  static constexpr const char* kAnchors[] = {"start", "middle", "end"};
  body_ += "<text x=\"" + num(at.x) + "\" y=\"" + num(at.y) + "\" font-size=\"" + num(size) +
           "\" text-anchor=\"" + kAnchors[static_cast<int>(anchor)] + "\"";
  if (bold) body_ += " font-weight=\"bold\"";
  if (rotate != 0) {
    append(body_, " transform=\"rotate(", num(rotate), " ", num(at.x), " ", num(at.y), ")\"");
  }
  append(body_, ">", xml_text(content), "</text>\n");
}

std::string SvgCanvas::finish() const { return head_ + body_ + "</svg>\n"; }

}  // namespace punb::report
