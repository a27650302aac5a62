// Typesetting for the PDF report: pages of a paper size with margins, a
// running footer, headings, wrapped paragraphs and tables that continue on
// the next page, drawn with cairo on its PDF surface.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lux {

// Page sizes in PostScript points (1/72 inch).
enum class Paper { A4, Letter };
struct PageSize {
  double width = 0, height = 0;
};
PageSize page_size(Paper paper);
// "a4" or "letter", in any case; nullopt for anything else.
std::optional<Paper> paper_named(const std::string& name);

// A column of a table: its heading and how its cells align (0 left, 1 right).
struct Column {
  std::string heading;
  double align = 1;
};

// One pass over the report's pages on a cairo surface. The report is drawn
// twice: once to count its pages, once for real with the count in every
// footer.
class Document {
 public:
  // `cr` draws on a surface of `size`; `footer` is the text at the foot of
  // every page, left of "page N of M" (M = `pages`, 0 when not yet known).
  Document(cairo_t* cr, PageSize size, std::string footer, int pages);
  ~Document();
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;

  cairo_t* cr() const { return cr_; }
  // Pages begun so far that have something on them.
  int pages() const { return blank_ && page_ > 1 ? page_ - 1 : page_; }
  double left() const { return kMargin; }
  double right() const { return size_.width - kMargin; }
  double width() const { return size_.width - 2 * kMargin; }
  double y() const { return y_; }
  // Room left on the page below the cursor.
  double room() const { return bottom() - y_; }
  // Room on a whole page.
  double page_room() const { return bottom() - top(); }
  // Height of a table's row in a font of `size`.
  static double row_height(double size) { return size * kLineSpacing + 1; }

  // Ends the current page (if anything is on it) and starts the next.
  void new_page();
  // Starts a new page unless `height` fits below the cursor.
  void need(double height);
  void skip(double height) { y_ += height; }

  void title(const std::string& text);
  void heading(const std::string& text);
  // A paragraph wrapped to the text width.
  void paragraph(const std::string& text, double size = kBody);
  // Label–value lines, labels in a column of their own.
  void fields(const std::vector<std::pair<std::string, std::string>>& rows);
  // A table with its header repeated on every page it runs over. Columns
  // take the width of their widest cell; when they do not fit, the first
  // column's cells are shortened.
  void table(const std::vector<Column>& columns, const std::vector<std::vector<std::string>>& rows,
             double size = kTable);
  // Reserves `height` below the cursor (on a new page when it does not fit)
  // and calls `draw` with the box's top left corner.
  void figure(double height, const std::function<void(double x, double y)>& draw);

  // Text at a place; `align` 0 left, 0.5 centred, 1 right of x.
  void text(double x, double y, const std::string& s, double size, bool bold = false,
            double align = 0) const;
  double text_width(const std::string& s, double size, bool bold = false) const;
  // `s` shortened with an ellipsis to fit `width` in a font of `size`.
  std::string fitted(const std::string& s, double width, double size, bool bold = false) const {
    return fit(s, width, size, bold);
  }
  // `s` in lines no wider than `width`, broken between words (and within a
  // word wider than a line); at most `max_lines`, the last shortened with
  // an ellipsis when the text goes on.
  std::vector<std::string> wrap(const std::string& s, double width, double size, bool bold,
                                size_t max_lines = SIZE_MAX) const;

  static constexpr double kMargin = 50;  // points, all round
  static constexpr double kBody = 9.5;   // font sizes in points
  static constexpr double kTable = 8.5;
  static constexpr double kLineSpacing = 1.35;  // baseline to baseline, times the font size
  static constexpr size_t kTitleLines = 4;      // a longer title ends in an ellipsis

 private:
  double top() const { return kMargin; }
  double bottom() const { return size_.height - kMargin - 14; }  // above the footer
  void finish_page();
  std::string fit(const std::string& s, double width, double size, bool bold) const;
  // Bytes of the longest whole-character prefix of `s` that fits `width`
  // with `suffix` after it.
  size_t longest_prefix(std::string_view s, double width, double size, bool bold,
                        const std::string& suffix) const;

  cairo_t* cr_;
  PageSize size_;
  std::string footer_;
  int total_;
  int page_ = 0;
  double y_ = 0;
  bool blank_ = true;  // nothing drawn on the current page yet
};

}  // namespace lux
