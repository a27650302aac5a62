// What an area of a design must reach, and the small built-in table of
// common tasks of the indoor workplace standard the scene file may name
// instead of stating the numbers.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace lux {

// One required figure and where it comes from: a task of the built-in
// table ("EN 12464-1:2021 6.26.2") or the scene file ("scene").
struct Target {
  double value = 0;
  std::string source;
};

// The targets of an area, each when stated: the maintained average
// illuminance Ēm (at least, lux), the uniformity U0 = Emin/Ēm (at least),
// the cylindrical illuminance Ēz (at least, lux) and the glare rating
// UGR (at most).
struct Targets {
  std::string task;  // the task's reference when one was named, else empty
  std::optional<Target> em, u0, ez, ugr;
  bool empty() const { return !em && !u0 && !ez && !ugr; }
};

// A task of the built-in table: its reference number in the standard, a
// short name, what it is, and its requirements (0 where the table states
// none for it).
struct TaskEntry {
  const char* reference;
  const char* name;
  const char* area;
  double em;          // maintained illuminance on the task area, lux
  double u0;          // uniformity on the task area
  double ugr;         // glare limit UGR_L
  double ra;          // colour rendering index, at least
  double ez;          // maintained cylindrical illuminance, lux
  double wall_em;     // maintained illuminance on the walls, lux
  double ceiling_em;  // maintained illuminance on the ceiling, lux
};

// The edition whose numbers the table holds.
constexpr const char* kTaskEdition = "EN 12464-1:2021";

// Uniformity asked of the walls', the ceiling's and the cylindrical
// illuminance wherever the table gives them a value.
constexpr double kRoomSurfaceUniformity = 0.10;
// Uniformity asked of a task area's immediate surrounding and of its
// background.
constexpr double kSurroundingUniformity = 0.40;
constexpr double kBackgroundUniformity = 0.10;

// Every task of the table, in the standard's order.
const std::vector<TaskEntry>& task_table();
// The task with this reference ("6.26.2") or short name ("office"); null
// for any other.
const TaskEntry* find_task(const std::string& key);
// "EN 12464-1:2021 6.26.2", for reports.
std::string task_source(const TaskEntry& task);

// The maintained illuminance the standard asks of a task area's immediate
// surrounding for a task area asking `task_em` lux: 500 lx around 750 lx
// and more, 300 around 500, 200 around 300, 150 around 200, and the task's
// own value below that; between the tabulated values the lower row holds.
double surrounding_em(double task_em);
// The background beyond the surrounding: a third of the surrounding's.
double background_em(double surrounding_em);

// Which part of a room an area is, for the figures a task asks of it.
enum class AreaKind { Task, Wall, Ceiling, Cylindrical, Observer };

// The targets a task gives an area of that kind: a task area Ēm and U0, a
// wall or ceiling its Ēm and U0 0.10, a cylindrical area Ēz and U0 0.10,
// an observer the UGR limit.
Targets targets_of(const TaskEntry& task, AreaKind kind);

// The targets of the surrounding and the background of a task area with
// `task` targets: Ēm by the standard's relation and U0 0.40 and 0.10;
// none when the task area states no Ēm.
Targets surrounding_targets(const Targets& task);
Targets background_targets(const Targets& surrounding);

}  // namespace lux
