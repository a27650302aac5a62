// The interactive report page: the viewer's template with a run's data.
#include "tools/lux/report/html.h"

namespace lux {

namespace {

constexpr std::string_view kTitleMarker = "<!--zel-lux:title-->";
constexpr std::string_view kDataMarker = "<!--zel-lux:data-->";

std::string html_escaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
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
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// JSON that cannot end the script element it sits in, whatever the names
// in it: '<', '>' and '&' only occur inside strings, where their \u escapes
// mean the same. Non-ASCII characters are escaped too, so the data is plain
// ASCII whatever the page's encoding is taken to be.
std::string script_safe_json(const nlohmann::ordered_json& data) {
  const std::string text = data.dump(-1, ' ', true);
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '<':
        out += "\\u003c";
        break;
      case '>':
        out += "\\u003e";
        break;
      case '&':
        out += "\\u0026";
        break;
      default:
        out += c;
    }
  }
  return out;
}

void replace_once(std::string& text, std::string_view marker, const std::string& with) {
  const size_t at = text.find(marker);
  if (at == std::string::npos)
    throw Error("the report page's template has no marker " + std::string(marker));
  text.replace(at, marker.size(), with);
}

}  // namespace

std::string html_page(std::string_view page_template, const nlohmann::ordered_json& data) {
  std::string page(page_template);
  replace_once(page, kDataMarker, script_safe_json(data));
  replace_once(page, kTitleMarker, html_escaped(data.value("title", std::string("zel-lux"))));
  return page;
}

void require_viewer() {
  if (viewer_template().empty())
    throw Error("--html: this zel-lux was built without the report page's viewer (" +
                std::string(viewer_missing_reason()) + ")");
}

std::string html_report(const Model& model, const std::vector<SurfaceResult>& results,
                        const RunInfo& info, const std::vector<PageVerdict>& verdicts) {
  require_viewer();
  return html_page(viewer_template(), page_data(model, results, info, verdicts));
}

}  // namespace lux
