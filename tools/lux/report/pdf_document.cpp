#include "tools/lux/report/pdf_document.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "tools/lux/report/picture.h"

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

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The byte after the character that starts at `at`.
size_t next_character(std::string_view s, size_t at) {
  if (at >= s.size()) return s.size();
  ++at;
  while (at < s.size() && continuation(s[at])) ++at;
  return at;
}

// Whether `s` has no more than `n` characters, counted no further than that.
bool characters_at_most(std::string_view s, size_t n) {
  size_t count = 0;
  for (size_t at = 0; at < s.size(); at = next_character(s, at))
    if (++count > n) return false;
  return true;
}

// A text of more characters than this is not measured whole: no line of
// a page holds that many.
constexpr size_t kMeasuredWhole = 2000;

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
  // Its text is set and measured in fontconfig's typefaces.
  release_font_caches_at_exit();
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
  const std::string number = "page " + std::to_string(page_) +
                             (total_ > 0 ? " of " + std::to_string(total_) : std::string());
  constexpr double kFooterSize = 7.5, kFooterGap = 24;
  text(left(), y,
       fit(footer_, width() - text_width(number, kFooterSize) - kFooterGap, kFooterSize, false),
       kFooterSize);
  text(right(), y, number, kFooterSize, false, 1);
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

size_t Document::longest_prefix(std::string_view s, double width, double size, bool bold,
                                const std::string& suffix) const {
  // No glyph of the report's typeface that takes room is narrower than
  // this share of the font size, so no more characters than the width
  // holds of those need measuring, however long the text.
  constexpr double kNarrowestGlyph = 0.2;
  const size_t most = static_cast<size_t>(std::max(0.0, width / (kNarrowestGlyph * size))) + 1;
  std::vector<size_t> ends;  // byte ends of the first characters
  for (size_t at = 0; at < s.size() && ends.size() < most;) {
    at = next_character(s, at);
    ends.push_back(at);
  }
  const auto fits = [&](size_t bytes) {
    return text_width(std::string(s.substr(0, bytes)) + suffix, size, bold) <= width;
  };
  // Halving over whole characters: a few measurements of a short prefix.
  size_t good = 0, bad = ends.size() + 1;  // counts of characters
  while (bad - good > 1) {
    const size_t mid = good + (bad - good) / 2;
    if (fits(ends[mid - 1]))
      good = mid;
    else
      bad = mid;
  }
  return good == 0 ? 0 : ends[good - 1];
}

std::string Document::fit(const std::string& s, double width, double size, bool bold) const {
  const std::string ellipsis = "\u2026";
  if (characters_at_most(s, kMeasuredWhole) && text_width(s, size, bold) <= width) return s;
  const size_t keep = longest_prefix(s, width, size, bold, ellipsis);
  if (keep == s.size()) return s;
  if (keep == 0 && text_width(ellipsis, size, bold) > width) return std::string();
  return s.substr(0, keep) + ellipsis;
}

std::vector<std::string> Document::wrap(const std::string& s, double width, double size, bool bold,
                                        size_t max_lines) const {
  std::vector<std::string> lines;
  std::string line;
  size_t at = 0;
  const auto skip_spaces = [&] {
    while (at < s.size() && is_space(s[at])) ++at;
  };
  // The last line allowed holds the rest, shortened to fit.
  const auto last_line = [&] {
    if (lines.size() + 1 < max_lines) return false;
    lines.push_back(
        fit(line.empty() ? s.substr(at) : line + " " + s.substr(at), width, size, bold));
    return true;
  };
  skip_spaces();
  while (at < s.size()) {
    if (last_line()) return lines;
    size_t end = at;
    while (end < s.size() && !is_space(s[end])) ++end;
    const std::string_view word(s.data() + at, end - at);
    const std::string candidate = line.empty() ? std::string(word) : line + " " + std::string(word);
    if (characters_at_most(candidate, kMeasuredWhole) &&
        text_width(candidate, size, bold) <= width) {
      line = candidate;
      at = end;
      skip_spaces();
      continue;
    }
    if (!line.empty()) {
      lines.push_back(std::move(line));
      line.clear();
      continue;
    }
    // A word wider than a line is broken where each line ends.
    while (at < end) {
      if (last_line()) return lines;
      const std::string_view rest(s.data() + at, end - at);
      const size_t piece =
          std::max(next_character(rest, 0), longest_prefix(rest, width, size, bold, ""));
      if (piece == rest.size()) {
        line = std::string(rest);
      } else {
        lines.emplace_back(rest.substr(0, piece));
      }
      at += piece;
    }
    skip_spaces();
  }
  if (!line.empty()) lines.push_back(std::move(line));
  return lines;
}

void Document::title(const std::string& s) {
  constexpr double kSize = 18;
  need(40);
  cairo_set_source_rgb(cr_, 0, 0, 0);
  // Wrapped at the text width, however long the title; beyond a few lines
  // the last is shortened, so that the title page keeps its verdict.
  for (const std::string& line : wrap(s, width(), kSize, true, kTitleLines)) {
    y_ += kSize * 1.2;
    text(left(), y_, line, kSize, true);
  }
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
  for (const std::string& current : wrap(s, width(), size, false)) {
    need(line);
    y_ += line;
    cairo_set_source_rgb(cr_, 0, 0, 0);
    text(left(), y_ - line + size, current, size);
    blank_ = false;
  }
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
