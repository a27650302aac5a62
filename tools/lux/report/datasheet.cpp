#include "tools/lux/report/datasheet.h"

#include <cairo-pdf.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <sstream>

#include "tools/lux/report/picture.h"
#include "tools/lux/scene/scene.h"

namespace lux {

namespace {

using Rows = std::vector<std::vector<std::string>>;

constexpr double kPercent = 100.0;
constexpr double kSameAngle = 1e-6;
// The intensity table's rows: the file's own γ where there are few enough
// for a page, else every 10°.
constexpr size_t kMostIntensityRows = 25;
constexpr double kCoarseGammaStep = 10.0;
// The intensity table's columns on paper: the four principal planes and at
// most this many more of the stored ones.
constexpr size_t kExtraIntensityPlanes = 5;
// Every 45° of the luminance table goes on paper.
constexpr size_t kLuminanceColumnStride = 3;
// Sizes on the page, points.
constexpr double kPolarSide = 245;
constexpr double kSmallTable = 7.5;
constexpr double kTitleSize = 18;  // Document::title's
// Lines a long value of the identification may take.
constexpr size_t kValueLines = 3;

std::string fixed(double v, int decimals) {
  char s[64];
  std::snprintf(s, sizeof s, "%.*f", decimals, v);
  return s;
}

std::string angle_label(double a) { return fixed(a, std::fabs(a - std::round(a)) < 1e-9 ? 0 : 1); }

// Intensities to show with a unit-appropriate number of decimals.
std::string intensity_text(double v) { return fixed(v, v < 10 ? 2 : v < 100 ? 1 : 0); }

struct SurfaceDeleter {
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct ContextDeleter {
  void operator()(cairo_t* c) const { cairo_destroy(c); }
};
cairo_status_t discard(void*, const unsigned char*, unsigned int) { return CAIRO_STATUS_SUCCESS; }

// `text` broken into lines of at most `width` at spaces, at most `lines` of
// them, the last shortened with an ellipsis when the text goes on.
std::vector<std::string> wrap(const Document& doc, const std::string& text, double width,
                              double size, size_t lines) {
  std::vector<std::string> out;
  std::istringstream words(text);
  std::string word, current;
  while (words >> word) {
    const std::string candidate = current.empty() ? word : current + " " + word;
    if (current.empty() || doc.text_width(candidate, size) <= width) {
      current = candidate;
      continue;
    }
    if (out.size() + 1 == lines) {
      current = candidate;
      while (words >> word) current += " " + word;
      break;
    }
    out.push_back(current);
    current = word;
  }
  if (!current.empty()) out.push_back(doc.fitted(current, width, size));
  return out;
}

std::string title_of(const PhotometricFile& f) {
  const LuminaireData& l = f.luminaire;
  if (!l.name.empty()) return l.name;
  if (!l.catalogue.empty()) return l.catalogue;
  return f.path.filename().string();
}

// The identification block: label–value lines in the left part of a
// figure, the polar diagram on the right.
void identification(Document& doc, const DataSheet& s) {
  const PhotometricFile& f = *s.file;
  const LuminaireData& l = f.luminaire;
  std::vector<std::pair<std::string, std::string>> rows;
  const auto add = [&](const std::string& label, const std::string& value) {
    if (!value.empty()) rows.emplace_back(label, value);
  };
  add("Manufacturer", l.manufacturer);
  add("Luminaire", l.name);
  add("Catalogue no.", l.catalogue);
  add("Lamp", l.lamp);
  add("Colour", l.colour_temperature +
                    (l.colour_rendering.empty() ? "" : ", rendering " + l.colour_rendering));
  if (l.watts) add("Input power", fixed(*l.watts, 1) + " W");
  add("Luminous opening", l.opening.description);
  add("Test report", l.report);
  add("Date", l.date);
  add("File", f.path.filename().string());
  add("Format", f.format_name + ", type " + f.type);
  add("Symmetry", f.symmetry);
  add("Photometry", f.absolute ? "absolute (the luminaire's own candela)"
                               : "relative to " + fixed(f.lamp_flux, 0) + " lm of lamps");
  // Each value wrapped to the column left of the diagram; the block is as
  // tall as the longer of the two.
  double label_width = 0;
  for (const auto& r : rows)
    label_width = std::max(label_width, doc.text_width(r.first, Document::kBody, true));
  const double value_x = label_width + 10;
  const double value_width = doc.width() - kPolarSide - 12 - value_x;
  std::vector<std::vector<std::string>> values;
  size_t lines = 0;
  for (const auto& r : rows) {
    values.push_back(wrap(doc, r.second, value_width, Document::kBody, kValueLines));
    lines += values.back().size();
  }
  const double line = Document::kBody * Document::kLineSpacing;
  const double height = std::max(kPolarSide, double(lines) * line + Document::kBody);
  doc.figure(height, [&](double x, double y) {
    double baseline = y + Document::kBody + 4;
    for (size_t i = 0; i < rows.size(); ++i) {
      cairo_set_source_rgb(doc.cr(), 0.25, 0.25, 0.25);
      doc.text(x, baseline, rows[i].first, Document::kBody, true);
      cairo_set_source_rgb(doc.cr(), 0, 0, 0);
      for (const std::string& part : values[i]) {
        doc.text(x + value_x, baseline, part, Document::kBody);
        baseline += line;
      }
    }
    draw_polar(doc.cr(), s.polar.curves, "Luminous intensity",
               {x + doc.width() - kPolarSide, y, kPolarSide, kPolarSide});
  });
}

void photometry(Document& doc, const DataSheet& s) {
  const PhotometricFile& f = *s.file;
  const ProfileSummary& m = s.summary;
  doc.heading("Photometry");
  std::vector<std::pair<std::string, std::string>> rows;
  rows.emplace_back("Luminaire flux", fixed(m.flux, 0) + " lm (integrated)");
  if (f.lamp_flux > 0 && !f.absolute)
    rows.emplace_back("Lamp flux, LOR", fixed(f.lamp_flux, 0) + " lm, " +
                                            (m.lor ? fixed(*m.lor * kPercent, 1) : "-") + "%");
  rows.emplace_back("Efficacy",
                    s.efficacy ? fixed(*s.efficacy, 1) + " lm/W" : "- (the file states no power)");
  rows.emplace_back("Down / up", fixed(kPercent * m.downward, 1) + "% / " +
                                     fixed(m.flux > 0 ? kPercent * (1 - m.downward) : 0, 1) + "%");
  if (s.flux_code) rows.emplace_back("CIE flux code", s.flux_code->text);
  rows.emplace_back("Peak", fixed(m.peak_cd, 0) + " cd (" +
                                fixed(m.peak_cd * m.cd_per_klm_scale, 0) + " cd/klm) at \u03b3 " +
                                fixed(m.peak_gamma, 1) + "\u00b0, C " + fixed(m.peak_c, 1) +
                                "\u00b0");
  doc.fields(rows);
  for (int p = 0; p < 2; ++p)
    doc.paragraph(std::string(kPrincipalPlanes[p]) + ": " + s.shape[p].text, Document::kTable);

  doc.heading("Zonal lumens");
  std::vector<Column> columns{{"", 0}};
  std::vector<std::string> lumen{"lm"}, of_luminaire{"% of the luminaire"},
      of_lamps{"% of the lamps"};
  const bool lamps = f.lamp_flux > 0 && !f.absolute;
  for (const Zone& z : s.zones) {
    columns.push_back({angle_label(z.from) + "\u2013" + angle_label(z.to) + "\u00b0", 1});
    lumen.push_back(fixed(z.lumen, 0));
    of_luminaire.push_back(m.flux > 0 ? fixed(kPercent * z.lumen / m.flux, 1) : "-");
    of_lamps.push_back(lamps ? fixed(kPercent * z.lumen / f.lamp_flux, 1) : "-");
  }
  Rows zones{lumen, of_luminaire};
  if (lamps) zones.push_back(of_lamps);
  doc.table(columns, zones);
}

void luminance(Document& doc, const DataSheet& s) {
  doc.heading("Luminance at steep angles (cd/m\u00b2)");
  if (!s.luminance) {
    doc.paragraph("Not given: " + s.luminance_missing + ".");
    return;
  }
  const LuminanceTable& l = *s.luminance;
  std::vector<Column> columns{{"\u03b3", 0}};
  for (size_t k = 0; k < l.c.size(); k += kLuminanceColumnStride)
    columns.push_back({"C" + angle_label(l.c[k]), 1});
  columns.push_back({"max", 1});
  Rows rows;
  for (size_t g = 0; g < l.gamma.size(); ++g) {
    std::vector<std::string> row{angle_label(l.gamma[g]) + "\u00b0"};
    double row_max = 0;
    for (size_t k = 0; k < l.c.size(); ++k) {
      row_max = std::max(row_max, l.at(g, k));
      if (k % kLuminanceColumnStride == 0) row.push_back(fixed(l.at(g, k), 0));
    }
    row.push_back(fixed(row_max, 0));
    rows.push_back(row);
  }
  doc.table(columns, rows);
  const std::string verdict = l.max <= kScreenLuminanceLimitDim ? "within both limits"
                              : l.max <= kScreenLuminanceLimitBright
                                  ? "within the 3000 cd/m\u00b2 limit only"
                                  : "above both limits";
  doc.paragraph(
      "Mean luminance of the opening every 15\u00b0 of C (max over all C). The largest, " +
          fixed(l.max, 0) + " cd/m\u00b2 at \u03b3 " + angle_label(l.max_gamma) + "\u00b0, C " +
          angle_label(l.max_c) + "\u00b0, is " + verdict +
          " EN 12464-1 sets for display-screen work (1500 cd/m\u00b2 for screens up "
          "to 200 cd/m\u00b2, 3000 cd/m\u00b2 above).",
      Document::kTable);
}

// The rows of the intensity table on paper.
std::vector<double> paper_gammas(const std::vector<double>& gamma) {
  if (gamma.size() <= kMostIntensityRows) return gamma;
  std::vector<double> out;
  for (double g = gamma.front(); g <= gamma.back() + kSameAngle; g += kCoarseGammaStep)
    out.push_back(g);
  return out;
}

void intensities(Document& doc, const DataSheet& s) {
  const IntensityTable& t = s.intensities;
  const PhotometricFile& f = *s.file;
  // Absolute photometry in the file's own candela, relative per 1000 lm of
  // the lamps.
  const bool candela = f.absolute || s.polar.curves.unit == "cd";
  doc.heading(std::string("Luminous intensity (") + (candela ? "cd" : s.polar.curves.unit) + ")");
  std::vector<const IntensityPlane*> planes;
  const size_t principal = std::min<size_t>(4, t.planes.size());
  for (size_t i = 0; i < principal; ++i) planes.push_back(&t.planes[i]);
  const size_t others = t.planes.size() - principal;
  const size_t shown = std::min(others, kExtraIntensityPlanes);
  for (size_t i = 0; i < shown; ++i)
    planes.push_back(&t.planes[principal + (i * others) / std::max<size_t>(1, shown)]);
  std::vector<Column> columns{{"\u03b3", 0}};
  for (const IntensityPlane* p : planes) columns.push_back({"C" + angle_label(p->c), 1});
  const double scale = candela ? 1.0 : t.cd_per_klm;
  Rows rows;
  for (const double g : paper_gammas(t.gamma)) {
    std::vector<std::string> row{angle_label(g) + "\u00b0"};
    for (const IntensityPlane* p : planes)
      row.push_back(intensity_text(
          scale * double(refhost::sample_table(f.table, refhost::profile_direction(g, p->c)))));
    rows.push_back(row);
  }
  doc.table(columns, rows, kSmallTable);
  std::string note;
  if (candela && t.cd_per_klm > 0)
    note = "Absolute photometry; in cd/klm of the luminaire's " + fixed(s.summary.flux, 0) +
           " lm, times " + fixed(t.cd_per_klm, 4) + ". ";
  if (others > shown)
    note += "The file stores " + std::to_string(t.planes.size()) +
            " planes; the JSON output (zel-lux profile --json) has them all.";
  if (!note.empty()) doc.paragraph(note, Document::kTable);
}

void ugr(Document& doc, const DataSheet& s) {
  doc.heading("UGR table (tabular method)");
  if (!s.ugr) {
    doc.paragraph("Not given: " + s.ugr_missing + ".");
    return;
  }
  const UgrTable& u = *s.ugr;
  std::vector<Column> columns{{"X \u00d7 Y", 0}};
  for (int view = 0; view < 2; ++view)
    for (size_t r = 0; r < kUgrReflectanceCount; ++r)
      columns.push_back({fixed(kPercent * kUgrReflectances[r].ceiling, 0) + "/" +
                             fixed(kPercent * kUgrReflectances[r].walls, 0) + "/" +
                             fixed(kPercent * kUgrReflectances[r].floor, 0),
                         1});
  Rows rows;
  std::vector<std::string> views(columns.size());
  views[1] = "crosswise";
  views[1 + kUgrReflectanceCount] = "endwise";
  rows.push_back(views);
  for (size_t room = 0; room < kUgrRoomCount; ++room) {
    std::vector<std::string> row{fixed(kUgrRooms[room].x, 0) + "H \u00d7 " +
                                 fixed(kUgrRooms[room].y, 0) + "H"};
    for (const UgrView view : {UgrView::Crosswise, UgrView::Endwise})
      for (size_t r = 0; r < kUgrReflectanceCount; ++r)
        row.push_back(fixed(u.at(room, view, r), 1));
    rows.push_back(row);
  }
  for (const UgrTable::Variation& v : u.variation) {
    std::vector<std::string> row{"S = " + fixed(v.spacing, 1) + "H"};
    for (int view = 0; view < 2; ++view) {
      char cell[48];
      std::snprintf(cell, sizeof cell, "%+.1f / %+.1f", v.rise[view], v.fall[view]);
      row.push_back(cell);
      for (size_t r = 1; r < kUgrReflectanceCount; ++r) row.emplace_back("");
    }
    rows.push_back(row);
  }
  doc.table(columns, rows, kSmallTable);
  doc.paragraph(
      "Ratings for " + fixed(u.flux, 0) +
          " lm per luminaire, luminaires 0.25 H apart; H is their height above the seated eye, "
          "X the room's side across the line of sight, Y along it. Crosswise the line of sight "
          "lies in the luminaires' C0\u2013C180 plane, endwise in their C90\u2013C270 plane; "
          "reflectances ceiling/walls/floor in percent. The last rows: how far spacings S of "
          "1, 1.5 and 2 H move the rating as the observer walks along the wall. For another "
          "flux \u03a6 add 8 log10(\u03a6 / " +
          fixed(u.flux, 0) + " lm).",
      Document::kTable);
}

void draw_sheet(Document& doc, const DataSheet& s) {
  const PhotometricFile& f = *s.file;
  // A name too long for the title line leaves it to the catalogue number;
  // the identification gives it in full.
  std::string title = title_of(f);
  if (doc.text_width(title, kTitleSize, true) > doc.width() && !f.luminaire.catalogue.empty())
    title = f.luminaire.catalogue;
  doc.title(title);
  std::string sub = f.luminaire.manufacturer;
  if (!f.luminaire.catalogue.empty())
    sub += (sub.empty() ? "" : ", ") + std::string("no. ") + f.luminaire.catalogue;
  if (!sub.empty()) doc.paragraph(sub);
  identification(doc, s);
  photometry(doc, s);
  luminance(doc, s);
  doc.new_page();
  intensities(doc, s);
  ugr(doc, s);
}

std::pair<int, cairo_status_t> render(cairo_surface_t* surface, const DataSheet& s, Paper paper,
                                      int pages) {
  int drawn = 0;
  {
    const std::unique_ptr<cairo_t, ContextDeleter> cr(cairo_create(surface));
    Document doc(cr.get(), page_size(paper),
                 "zel-lux data sheet: " + s.file->path.filename().string(), pages);
    draw_sheet(doc, s);
    drawn = doc.pages();
  }
  cairo_surface_finish(surface);
  return {drawn, cairo_surface_status(surface)};
}

}  // namespace

DataSheet make_datasheet(const PhotometricFile& file) {
  DataSheet s;
  s.file = &file;
  s.summary = summarise(file);
  s.intensities = intensity_table(file, s.summary);
  s.zones = zonal_lumens(file.table);
  s.flux_code = flux_code(file.table, file.absolute ? 0.0 : file.lamp_flux);
  s.efficacy = efficacy(file, s.summary);
  s.luminance = luminance_table(file, s.luminance_missing);
  for (int p = 0; p < 2; ++p) s.shape[p] = plane_shape(file.table, p == 0 ? 0.0 : 90.0);
  s.ugr = ugr_table({&file.table, file.luminaire.opening}, s.ugr_missing);
  s.polar = profile_polar(file, s.summary);
  return s;
}

void write_datasheet_pdf(const DataSheet& s, const std::filesystem::path& path, Paper paper) {
  release_font_caches_at_exit();
  const PageSize size = page_size(paper);
  int pages = 0;
  {
    const std::unique_ptr<cairo_surface_t, SurfaceDeleter> counting(
        cairo_pdf_surface_create_for_stream(discard, nullptr, size.width, size.height));
    pages = render(counting.get(), s, paper, 0).first;
  }
  const std::unique_ptr<cairo_surface_t, SurfaceDeleter> pdf(
      cairo_pdf_surface_create(path.c_str(), size.width, size.height));
  cairo_pdf_surface_set_metadata(pdf.get(), CAIRO_PDF_METADATA_TITLE, title_of(*s.file).c_str());
  cairo_pdf_surface_set_metadata(pdf.get(), CAIRO_PDF_METADATA_SUBJECT, "Luminaire data sheet");
  cairo_pdf_surface_set_metadata(pdf.get(), CAIRO_PDF_METADATA_CREATOR, "zel-lux");
  const cairo_status_t status = render(pdf.get(), s, paper, pages).second;
  if (status != CAIRO_STATUS_SUCCESS)
    throw Error(path.string() + ": cannot write the data sheet: " + cairo_status_to_string(status));
}

}  // namespace lux
