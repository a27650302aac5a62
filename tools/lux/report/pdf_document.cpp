#include "tools/lux/report/pdf_document.h"

#include <algorithm>
#include <cctype>
#include <sstream>

namespace lux {

namespace {

// The report's typeface, found through fontconfig; the build's set-up
// installs it (fonts-dejavu-core).
constexpr const char* kFont = "DejaVu Sans";

// A4 is 210 × 297 mm, Letter 8.5 × 11 in; a point is 1/72 in.
constexpr double kPointsPerMm = 72.0 / 25.4;
constexpr double kPointsPerInch = 72.0;

constexpr double kCellPad = 6;  // points between table columns

void set_font(cairo_t* cr, double size, bool bold) {
  cairo_select_font_face(cr, kFont, CAIRO_FONT_SLANT_NORMAL,
                         bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, size);
}

}  // namespace

PageSize page_size(Paper paper) {
  if (paper == Paper::Letter) return {8.5 * kPointsPerInch, 11 * kPointsPerInch};
  return {210 * kPointsPerMm, 297 * kPointsPerMm};
}

std::optional<Paper> paper_named(const std::string& name) {
  std::string lower;
  for (const char c : name) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower == "a4") return Paper::A4;
  if (lower == "letter") return Paper::Letter;
  return std::nullopt;
}

Document::Document(cairo_t* cr, PageSize size, std::string footer, int pages)
    : cr_(cr), size_(size), footer_(std::move(footer)), total_(pages) {
  page_ = 1;
  y_ = top();
}

Document::~Document() {
  if (!blank_ || page_ == 1) finish_page();
}

void Document::finish_page() {
  cairo_set_source_rgb(cr_, 0.45, 0.45, 0.45);
  const double y = size_.height - kMargin + 6;
  cairo_set_line_width(cr_, 0.5);
  cairo_move_to(cr_, left(), y - 10);
  cairo_line_to(cr_, right(), y - 10);
  cairo_stroke(cr_);
  text(left(), y, footer_, 7.5);
  const std::string number = "page " + std::to_string(page_) +
                             (total_ > 0 ? " of " + std::to_string(total_) : std::string());
  text(right(), y, number, 7.5, false, 1);
  cairo_show_page(cr_);
}

void Document::new_page() {
  if (blank_) return;
  finish_page();
  ++page_;
  y_ = top();
  blank_ = true;
}

void Document::need(double height) {
  if (y_ + height > bottom()) new_page();
}

double Document::text_width(const std::string& s, double size, bool bold) const {
  set_font(cr_, size, bold);
  cairo_text_extents_t e;
  cairo_text_extents(cr_, s.c_str(), &e);
  return e.x_advance;
}

void Document::text(double x, double y, const std::string& s, double size, bool bold,
                    double align) const {
  set_font(cr_, size, bold);
  cairo_text_extents_t e;
  cairo_text_extents(cr_, s.c_str(), &e);
  cairo_move_to(cr_, x - align * e.x_advance, y);
  cairo_show_text(cr_, s.c_str());
}

std::string Document::fit(const std::string& s, double width, double size, bool bold) const {
  if (text_width(s, size, bold) <= width) return s;
  // Shortened a whole UTF-8 character at a time, with an ellipsis.
  std::string cut = s;
  while (!cut.empty()) {
    do {
      cut.pop_back();
    } while (!cut.empty() && (static_cast<unsigned char>(cut.back()) & 0xC0) == 0x80);
    if (!cut.empty() && (static_cast<unsigned char>(cut.back()) & 0x80) != 0) {
      cut.pop_back();  // a lead byte left without its continuation
      continue;
    }
    if (text_width(cut + "\u2026", size, bold) <= width) return cut + "\u2026";
  }
  return cut;
}

void Document::title(const std::string& s) {
  constexpr double kSize = 18;
  need(40);
  cairo_set_source_rgb(cr_, 0, 0, 0);
  // Wrapped at the text width, word by word, however long the title.
  std::istringstream words(s);
  std::string word, line;
  const auto emit = [&] {
    y_ += kSize * 1.2;
    text(left(), y_, fit(line, width(), kSize, true), kSize, true);
    line.clear();
  };
  while (words >> word) {
    const std::string candidate = line.empty() ? word : line + " " + word;
    if (!line.empty() && text_width(candidate, kSize, true) > width()) {
      emit();
      line = word;
    } else {
      line = candidate;
    }
  }
  if (!line.empty()) emit();
  y_ += 14;
  blank_ = false;
}

void Document::heading(const std::string& s) {
  need(48);  // a heading is not left alone at the foot of a page
  y_ += blank_ ? 12 : 22;
  cairo_set_source_rgb(cr_, 0.08, 0.2, 0.4);
  text(left(), y_, fit(s, width(), 13, true), 13, true);
  y_ += 4;
  cairo_set_line_width(cr_, 0.6);
  cairo_move_to(cr_, left(), y_);
  cairo_line_to(cr_, right(), y_);
  cairo_stroke(cr_);
  y_ += 6;
  blank_ = false;
}

void Document::paragraph(const std::string& s, double size) {
  const double line = size * kLineSpacing;
  std::istringstream words(s);
  std::string word, current;
  const auto emit = [&] {
    need(line);
    y_ += line;
    cairo_set_source_rgb(cr_, 0, 0, 0);
    text(left(), y_ - line + size, current, size);
    current.clear();
    blank_ = false;
  };
  while (words >> word) {
    const std::string candidate = current.empty() ? word : current + " " + word;
    if (!current.empty() && text_width(candidate, size) > width()) {
      emit();
      current = word;
    } else {
      current = candidate;
    }
  }
  if (!current.empty()) emit();
  y_ += size * 0.4;
}

void Document::fields(const std::vector<std::pair<std::string, std::string>>& rows) {
  double label_width = 0;
  for (const auto& [label, value] : rows)
    label_width = std::max(label_width, text_width(label, kBody, true));
  const double line = kBody * kLineSpacing;
  for (const auto& [label, value] : rows) {
    need(line);
    y_ += line;
    cairo_set_source_rgb(cr_, 0.25, 0.25, 0.25);
    text(left(), y_ - line + kBody, label, kBody, true);
    cairo_set_source_rgb(cr_, 0, 0, 0);
    const double x = left() + label_width + 12;
    text(x, y_ - line + kBody, fit(value, right() - x, kBody, false), kBody);
    blank_ = false;
  }
  y_ += kBody * 0.4;
}

void Document::table(const std::vector<Column>& columns,
                     const std::vector<std::vector<std::string>>& rows, double size) {
  const size_t n = columns.size();
  std::vector<double> widths(n, 0.0);
  for (size_t c = 0; c < n; ++c) {
    widths[c] = text_width(columns[c].heading, size, true);
    for (const auto& row : rows)
      if (c < row.size()) widths[c] = std::max(widths[c], text_width(row[c], size));
  }
  double total = kCellPad * double(n - 1);
  for (const double w : widths) total += w;
  if (total > width() && n > 0) widths[0] = std::max(40.0, widths[0] - (total - width()));
  std::vector<double> x(n, left());
  for (size_t c = 1; c < n; ++c) x[c] = x[c - 1] + widths[c - 1] + kCellPad;
  const auto cell = [&](size_t c, double baseline, const std::string& s, bool bold) {
    const std::string shown = fit(s, widths[c], size, bold);
    const double w = text_width(shown, size, bold);
    text(x[c] + columns[c].align * (widths[c] - w), baseline, shown, size, bold);
  };
  const double row_h = row_height(size);
  const double table_right = n > 0 ? x[n - 1] + widths[n - 1] : left();
  const auto header = [&] {
    y_ += row_h;
    cairo_set_source_rgb(cr_, 0, 0, 0);
    for (size_t c = 0; c < n; ++c) cell(c, y_ - 4, columns[c].heading, true);
    cairo_set_line_width(cr_, 0.6);
    cairo_move_to(cr_, left(), y_ + 0.5);
    cairo_line_to(cr_, table_right, y_ + 0.5);
    cairo_stroke(cr_);
    y_ += 1;
    blank_ = false;
  };
  need(2 * row_h + 2);
  header();
  for (size_t r = 0; r < rows.size(); ++r) {
    if (y_ + row_h > bottom()) {
      new_page();
      header();
    }
    if (r % 2 == 1) {  // shaded every other row, for the eye to follow
      cairo_set_source_rgb(cr_, 0.94, 0.95, 0.97);
      cairo_rectangle(cr_, left(), y_, table_right - left(), row_h);
      cairo_fill(cr_);
    }
    y_ += row_h;
    cairo_set_source_rgb(cr_, 0, 0, 0);
    for (size_t c = 0; c < n && c < rows[r].size(); ++c) cell(c, y_ - 3.5, rows[r][c], false);
  }
  y_ += size * 0.8;
}

void Document::figure(double height, const std::function<void(double x, double y)>& draw) {
  need(height);
  cairo_save(cr_);
  draw(left(), y_);
  cairo_restore(cr_);
  y_ += height;
  blank_ = false;
}

}  // namespace lux
