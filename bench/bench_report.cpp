// Setting text on the report's pages: a title of n characters in words
// wrapped into its four lines, the same text wrapped whole as a paragraph,
// and a word of n characters without a space shortened to a table cell.
// Each grows in proportion to n (the complexity fit says so): only as many
// characters as a line holds are ever measured at once.
#include <benchmark/benchmark.h>
#include <cairo.h>

#include <string>

#include "tools/lux/report/pdf_document.h"

namespace {

std::string words_of(size_t n) {
  std::string text;
  for (int k = 0; text.size() < n; ++k) text += "Classroom" + std::to_string(k) + " ";
  text.resize(n);
  return text;
}

// A page to measure text on, drawn nowhere.
struct Page {
  cairo_surface_t* surface = cairo_recording_surface_create(CAIRO_CONTENT_COLOR_ALPHA, nullptr);
  cairo_t* cr = cairo_create(surface);
  lux::Document doc{cr, lux::page_size(lux::Paper::A4), "", 0};
  ~Page() {
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
  }
};

void BM_TitleLines(benchmark::State& state) {
  const Page page;
  const std::string title = words_of(size_t(state.range(0)));
  for (auto _ : state)
    benchmark::DoNotOptimize(
        page.doc.wrap(title, page.doc.width(), 18, true, lux::Document::kTitleLines));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_TitleLines)->RangeMultiplier(10)->Range(1000, 100000)->Complexity();

void BM_ParagraphLines(benchmark::State& state) {
  const Page page;
  const std::string text = words_of(size_t(state.range(0)));
  for (auto _ : state)
    benchmark::DoNotOptimize(page.doc.wrap(text, page.doc.width(), lux::Document::kBody, false));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ParagraphLines)->RangeMultiplier(10)->Range(1000, 100000)->Complexity();

void BM_CellOfOneWord(benchmark::State& state) {
  const Page page;
  const std::string word(size_t(state.range(0)), 'x');
  for (auto _ : state) benchmark::DoNotOptimize(page.doc.fitted(word, 120, lux::Document::kTable));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_CellOfOneWord)->RangeMultiplier(10)->Range(1000, 100000)->Complexity();

}  // namespace

BENCHMARK_MAIN();
