// The plan of the report: the room seen from above in its own coordinates,
// with its walls, its furniture's outlines, the luminaires where they hang
// with their labels, and the iso-lux map of its main work plane.
#pragma once

#include <string>
#include <vector>

#include "tools/lux/metrics/units.h"
#include "tools/lux/report/pdf_document.h"
#include "tools/lux/transport/calc.h"

namespace lux {

// Where the plan puts the scene: its extent across x and y (scene units,
// padded) and the points per scene unit that fit it in `width` × `height`
// points; `drawn` false when the scene has no extent across both.
struct PlanLayout {
  double xmin = 0, xmax = 0, ymin = 0, ymax = 0;
  double scale = 0;
  bool drawn = false;
};
PlanLayout plan_layout(const Model& model, double width, double height);

// The luminaires' labels on the plan, in the model's order: their names
// when no two of them overlap at the layout's scale, else their numbers
// from 1, which the schedule then lists.
struct PlanLabels {
  std::vector<std::string> text;
  bool numbered = false;
};
PlanLabels plan_labels(const Document& doc, const Model& model, const PlanLayout& layout);

// The room a plan page leaves for the plan itself below its heading and
// caption.
double plan_room(const Document& doc);

// The area the plan maps: the first whole surface that faces up and is
// held to a target, else the first that faces up; null when none does.
const SurfaceResult* plan_area(const Model& model, const std::vector<SurfaceResult>& results);

// The plan on a page of its own, laid out by `layout` (for plan_room() of
// the page); nothing when the layout is not drawn.
void plan_page(Document& doc, const Model& model, const std::vector<SurfaceResult>& results,
               const OutputUnits& units, const PlanLayout& layout, const PlanLabels& labels);

}  // namespace lux
