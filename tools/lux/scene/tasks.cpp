#include "tools/lux/scene/tasks.h"

#include <string>

namespace lux {

namespace {

constexpr double kNotStated = 0;

// The immediate surrounding of a task area (EN 12464-1): the illuminance
// asked of it for tasks asking at least `task` lux.
struct SurroundingRow {
  double task, surrounding;
};
constexpr SurroundingRow kSurrounding[] = {{750, 500}, {500, 300}, {300, 200}, {200, 150}};

// The background is lit to at least a third of the immediate surrounding.
constexpr double kBackgroundShare = 1.0 / 3.0;

Target from(double value, const std::string& source) { return {value, source}; }

}  // namespace

const std::vector<TaskEntry>& task_table() {
  // EN 12464-1:2021, clause 6, by the tables' reference numbers: the area,
  // task or activity; the maintained illuminance Ēm on the task area; its
  // uniformity U0; the glare limit UGR_L; the colour rendering Ra; the
  // maintained cylindrical illuminance Ēz and the maintained illuminance
  // on the walls and on the ceiling. Only figures taken from those tables
  // are given; where this table has 0, the requirement is not checked.
  static const std::vector<TaskEntry> table = {
      {"6.1.1", "corridor", "Traffic zones inside buildings: corridors and circulation areas", 100,
       0.40, 28, 40, 50, 50, 30},
      {"6.26.2", "office", "Offices: writing, typing, reading, data processing", 500, 0.60, 19, 80,
       150, 150, 100},
      {"6.36.1", "classroom", "Educational buildings: classrooms, tutorial rooms", 500, 0.60, 19,
       80, 150, kNotStated, kNotStated},
  };
  return table;
}

const TaskEntry* find_task(const std::string& key) {
  for (const TaskEntry& t : task_table())
    if (key == t.reference || key == t.name) return &t;
  return nullptr;
}

std::string task_source(const TaskEntry& task) {
  return std::string(kTaskEdition) + " " + task.reference;
}

double surrounding_em(double task_em) {
  for (const SurroundingRow& row : kSurrounding)
    if (task_em >= row.task) return row.surrounding;
  return task_em;
}

double background_em(double surrounding) { return surrounding * kBackgroundShare; }

Targets targets_of(const TaskEntry& task, AreaKind kind) {
  Targets t;
  t.task = task.reference;
  const std::string source = task_source(task);
  const auto room_surface = [&](double em) {
    if (em == kNotStated) return;
    t.em = from(em, source);
    t.u0 = from(kRoomSurfaceUniformity, source);
  };
  switch (kind) {
    case AreaKind::Task:
      if (task.em != kNotStated) t.em = from(task.em, source);
      if (task.u0 != kNotStated) t.u0 = from(task.u0, source);
      break;
    case AreaKind::Wall:
      room_surface(task.wall_em);
      break;
    case AreaKind::Ceiling:
      room_surface(task.ceiling_em);
      break;
    case AreaKind::Cylindrical:
      if (task.ez != kNotStated) {
        t.ez = from(task.ez, source);
        t.u0 = from(kRoomSurfaceUniformity, source);
      }
      break;
    case AreaKind::Observer:
      if (task.ugr != kNotStated) t.ugr = from(task.ugr, source);
      break;
  }
  return t;
}

Targets surrounding_targets(const Targets& task) {
  Targets t;
  if (!task.em) return t;
  t.task = task.task;
  const std::string source = std::string(kTaskEdition) + ", immediate surrounding";
  t.em = from(surrounding_em(task.em->value), source);
  t.u0 = from(kSurroundingUniformity, source);
  return t;
}

Targets background_targets(const Targets& surrounding) {
  Targets t;
  if (!surrounding.em) return t;
  t.task = surrounding.task;
  const std::string source = std::string(kTaskEdition) + ", background";
  t.em = from(background_em(surrounding.em->value), source);
  t.u0 = from(kBackgroundUniformity, source);
  return t;
}

}  // namespace lux
